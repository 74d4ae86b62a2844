using System;

namespace ZVAudio.Output
{
    // Re-lays interleaved frames from one channel count to another, for blocks
    // whose channel count differs from the one the output was opened with.
    // Mono is copied to every channel, mixing down to mono averages all
    // channels, and otherwise shared channels are copied and the rest are silent.
    public static class ChannelMapper
    {
        // Maps `frames` frames, starting at frame `firstFrame` of `source`, into the
        // start of `target`. Allocates nothing, so the audio thread may call it.
        public static void Map(float[] source, int sourceChannels, int firstFrame, int frames,
                               float[] target, int targetChannels)
        {
            if (source == null)
                throw new ArgumentNullException("source");
            if (target == null)
                throw new ArgumentNullException("target");
            if (sourceChannels < 1 || targetChannels < 1)
                throw new ArgumentOutOfRangeException("sourceChannels");
            if (firstFrame < 0 || frames < 0 ||
                ((long)firstFrame + frames) * sourceChannels > source.Length ||
                (long)frames * targetChannels > target.Length)
                throw new ArgumentOutOfRangeException("frames");

            int src = firstFrame * sourceChannels;
            int dst = 0;
            if (sourceChannels == targetChannels)
            {
                Array.Copy(source, src, target, 0, frames * sourceChannels);
            }
            else if (sourceChannels == 1)
            {
                for (int f = 0; f < frames; ++f, ++src)
                    for (int c = 0; c < targetChannels; ++c)
                        target[dst++] = source[src];
            }
            else if (targetChannels == 1)
            {
                float scale = 1.0f / sourceChannels;
                for (int f = 0; f < frames; ++f)
                {
                    float sum = 0.0f;
                    for (int c = 0; c < sourceChannels; ++c)
                        sum += source[src++];
                    target[dst++] = sum * scale;
                }
            }
            else
            {
                int shared = Math.Min(sourceChannels, targetChannels);
                for (int f = 0; f < frames; ++f, src += sourceChannels)
                {
                    for (int c = 0; c < shared; ++c)
                        target[dst++] = source[src + c];
                    for (int c = shared; c < targetChannels; ++c)
                        target[dst++] = 0.0f;
                }
            }
        }
    }
}
