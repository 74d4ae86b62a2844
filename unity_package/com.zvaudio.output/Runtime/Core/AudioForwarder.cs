using System;

namespace ZVAudio.Output
{
    // Owns the plug-in's single native instance for one engine component and
    // hands it the engine's audio blocks.
    //
    // Open, Close and TryGetStatistics run on the main thread; Forward runs on
    // the engine's audio thread. One lock guards the open state, the format and
    // the scratch buffer, so a block is never forwarded while the instance is
    // being replaced or after it was destroyed. Forward allocates nothing.
    public sealed class AudioForwarder : IDisposable
    {
        // The plug-in holds one instance per process, so one forwarder per
        // script domain may own it.
        private static readonly object ownerLock = new object();
        private static AudioForwarder owner;

        private readonly object gate = new object();
        private bool ownsInstance;   // guarded by gate
        private bool open;           // guarded by gate
        private OutputFormat format; // guarded by gate
        private float[] scratch;     // guarded by gate; holds one re-laid block
        private volatile int lastBlockChannels;

        public enum OpenResult
        {
            Opened,
            // Another forwarder of this domain owns the native instance.
            InstanceInUse,
            // The native instance vanished or could not be created.
            NoInstance
        }

        public bool IsOpen
        {
            get { lock (gate) return open; }
        }

        public OutputFormat Format
        {
            get { lock (gate) return format; }
        }

        // Channel count of the last block the engine delivered, 0 before the first.
        public int LastBlockChannels
        {
            get { return lastBlockChannels; }
        }

        // True when the engine delivers blocks with another channel count than the
        // output was opened with; re-opening with that count avoids re-laying every block.
        public bool ChannelsDiffer
        {
            get
            {
                int seen = lastBlockChannels;
                lock (gate) return open && seen > 0 && seen != format.Channels;
            }
        }

        // Creates the native instance if this forwarder holds none, then opens (or
        // re-opens) the output stream with `newFormat`. Main thread only.
        public OpenResult Open(OutputFormat newFormat)
        {
            lock (gate)
            {
                open = false;
                if (!ownsInstance)
                {
                    OpenResult claimed = ClaimInstance();
                    if (claimed != OpenResult.Opened)
                        return claimed;
                }
                if (!ZVAudioOutputNative.CreateOutputBuffer(newFormat.PlatformBufferFrames,
                                                            (uint)newFormat.Channels,
                                                            (uint)newFormat.SampleRate, 0u, 0u,
                                                            0.0f,
                                                            (uint)newFormat.BufferSeconds))
                {
                    // Someone destroyed the instance behind our back.
                    ReleaseOwnership();
                    return OpenResult.NoInstance;
                }
                if (scratch == null || scratch.Length < newFormat.BlockFrames * newFormat.Channels)
                    scratch = new float[newFormat.BlockFrames * newFormat.Channels];
                format = newFormat;
                lastBlockChannels = 0;
                open = true;
                return OpenResult.Opened;
            }
        }

        // Destroys the native instance if this forwarder owns it. Safe to call any
        // number of times; true when an instance was destroyed. Main thread only.
        public bool Close()
        {
            lock (gate)
            {
                open = false;
                if (!ownsInstance)
                    return false;
                bool destroyed = ZVAudioOutputNative.DestroyAudioOutput();
                ReleaseOwnership();
                return destroyed;
            }
        }

        public void Dispose()
        {
            Close();
        }

        // Hands one engine block to the plug-in: one native call when its channel
        // count matches the output, otherwise one call per re-laid chunk. Unless
        // `loopback` is set, a delivered block is then silenced so the engine does
        // not play it a second time. Audio thread; allocates nothing.
        public bool Forward(float[] data, int channels, bool loopback)
        {
            if (data == null || channels < 1)
                return false;
            lastBlockChannels = channels;
            bool delivered;
            lock (gate)
            {
                if (!open)
                    return false;
                if (channels == format.Channels)
                    delivered = ZVAudioOutputNative.OnUnityAudio(data, data.Length);
                else
                    delivered = ForwardRelaid(data, channels);
            }
            if (delivered && !loopback)
                Array.Clear(data, 0, data.Length);
            return delivered;
        }

        // Counters of the native instance; false when this forwarder owns none.
        public bool TryGetStatistics(out ZVAudioOutputStats stats)
        {
            lock (gate)
            {
                if (!ownsInstance)
                {
                    stats = new ZVAudioOutputStats();
                    return false;
                }
                return ZVAudioOutputNative.GetAudioOutputStats(out stats);
            }
        }

        private OpenResult ClaimInstance()
        {
            lock (ownerLock)
            {
                if (owner != null && owner != this)
                    return OpenResult.InstanceInUse;
                if (!ZVAudioOutputNative.CreateAudioOutput())
                {
                    // No forwarder of this domain owns the instance, so it was left
                    // by a domain that was unloaded without closing it. Its stream and
                    // counters belong to nobody; start afresh.
                    ZVAudioOutputNative.DestroyAudioOutput();
                    if (!ZVAudioOutputNative.CreateAudioOutput())
                        return OpenResult.NoInstance;
                }
                owner = this;
                ownsInstance = true;
                return OpenResult.Opened;
            }
        }

        private void ReleaseOwnership()
        {
            lock (ownerLock)
            {
                if (owner == this)
                    owner = null;
                ownsInstance = false;
            }
        }

        private bool ForwardRelaid(float[] data, int channels)
        {
            int targetChannels = format.Channels;
            int chunkFrames = scratch.Length / targetChannels;
            int totalFrames = data.Length / channels;
            for (int first = 0; first < totalFrames; first += chunkFrames)
            {
                int frames = Math.Min(chunkFrames, totalFrames - first);
                ChannelMapper.Map(data, channels, first, frames, scratch, targetChannels);
                if (!ZVAudioOutputNative.OnUnityAudio(scratch, frames * targetChannels))
                    return false;
            }
            return true;
        }
    }
}
