using System;

namespace ZVAudio.Output
{
    // What the plug-in's output is opened with: the engine's mixing rate, its
    // speaker layout as a channel count, the length of one engine block in
    // frames, and how many seconds of audio the native ring holds.
    public struct OutputFormat : IEquatable<OutputFormat>
    {
        public const int MaxChannels = 8;
        public const int MaxBufferSeconds = 60;

        // The native ring holds channels x rate x seconds samples, which must stay below 2^31.
        private const long kMaxRingSamples = int.MaxValue;

        public readonly int SampleRate;
        public readonly int Channels;
        public readonly int BlockFrames;
        public readonly int BufferSeconds;

        public OutputFormat(int sampleRate, int channels, int blockFrames, int bufferSeconds)
        {
            string parameter;
            string problem = Check(sampleRate, channels, blockFrames, bufferSeconds, out parameter);
            if (problem != null)
                throw new ArgumentOutOfRangeException(parameter, problem);
            SampleRate = sampleRate;
            Channels = channels;
            BlockFrames = blockFrames;
            BufferSeconds = bufferSeconds;
        }

        // The constructor without the exception: the engine reports a rate or a
        // block size of 0 when its audio is disabled, and that is no error of the
        // caller's. `problem` says what is wrong, for a person.
        public static bool TryCreate(int sampleRate, int channels, int blockFrames, int bufferSeconds,
                                     out OutputFormat format, out string problem)
        {
            string parameter;
            problem = Check(sampleRate, channels, blockFrames, bufferSeconds, out parameter);
            format = problem == null ? new OutputFormat(sampleRate, channels, blockFrames, bufferSeconds)
                                     : default(OutputFormat);
            return problem == null;
        }

        private static string Check(int sampleRate, int channels, int blockFrames, int bufferSeconds,
                                    out string parameter)
        {
            parameter = "sampleRate";
            if (sampleRate <= 0)
                return "sample rate " + sampleRate + " Hz, must be positive";
            parameter = "channels";
            if (channels < 1 || channels > MaxChannels)
                return channels + " channels, must be 1 to " + MaxChannels;
            parameter = "blockFrames";
            if (blockFrames <= 0)
                return "DSP buffer of " + blockFrames + " frames, must be positive";
            parameter = "bufferSeconds";
            if (bufferSeconds < 1 || bufferSeconds > MaxBufferSeconds)
                return "ring of " + bufferSeconds + " s, must be 1 to " + MaxBufferSeconds;
            parameter = "sampleRate";
            if ((long)sampleRate * channels * bufferSeconds > kMaxRingSamples)
                return "ring of channels x rate x seconds too large";
            return null;
        }

        // Channel count of each speaker layout; an unknown layout is taken as stereo,
        // the engine's default.
        public static int ChannelsOf(SpeakerLayout layout)
        {
            switch (layout)
            {
            case SpeakerLayout.Mono: return 1;
            case SpeakerLayout.Stereo: return 2;
            case SpeakerLayout.Quad: return 4;
            case SpeakerLayout.Surround: return 5;
            case SpeakerLayout.Mode5point1: return 6;
            case SpeakerLayout.Mode7point1: return 8;
            case SpeakerLayout.Prologic: return 2;
            default: return 2;
            }
        }

        public static OutputFormat FromEngine(int sampleRate, SpeakerLayout layout, int blockFrames,
                                              int bufferSeconds)
        {
            return new OutputFormat(sampleRate, ChannelsOf(layout), blockFrames, bufferSeconds);
        }

        public OutputFormat WithChannels(int channels)
        {
            return new OutputFormat(SampleRate, channels, BlockFrames, BufferSeconds);
        }

        // One platform buffer carries one engine block; the platform counts its
        // buffer size in frames.
        public uint PlatformBufferFrames
        {
            get { return (uint)BlockFrames; }
        }

        public long RingCapacity
        {
            get { return (long)SampleRate * Channels * BufferSeconds; }
        }

        // Interleaved samples as time at this rate and channel count.
        public double SamplesToMilliseconds(ulong samples)
        {
            return samples * 1000.0 / ((double)SampleRate * Channels);
        }

        public bool Equals(OutputFormat other)
        {
            return SampleRate == other.SampleRate && Channels == other.Channels &&
                   BlockFrames == other.BlockFrames && BufferSeconds == other.BufferSeconds;
        }

        public override bool Equals(object obj)
        {
            return obj is OutputFormat && Equals((OutputFormat)obj);
        }

        public override int GetHashCode()
        {
            return ((SampleRate * 31 + Channels) * 31 + BlockFrames) * 31 + BufferSeconds;
        }

        public override string ToString()
        {
            return string.Format("{0} Hz, {1} ch, {2} frames per block, {3} s ring", SampleRate,
                                 Channels, BlockFrames, BufferSeconds);
        }
    }
}
