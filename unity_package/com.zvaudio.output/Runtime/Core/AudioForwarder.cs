using System;
using System.Collections.Generic;
using System.Threading;

namespace ZVAudio.Output
{
    // Owns the plug-in's single native instance for one engine component and
    // hands it the engine's audio blocks.
    //
    // Everything but Forward runs on the main thread; Forward runs on the
    // engine's audio thread. `gate` guards what both touch (the open flag, the
    // format and the scratch buffer). The main thread holds it only to flip
    // them, never through a native call that may take long (re-opening can
    // zero-fill a ring of seconds), and Forward never waits for it: a block that
    // arrives while the main thread holds it is left to the engine untouched.
    // While Forward holds it, Open and Close wait, so no block reaches an
    // instance that is being replaced or destroyed. Forward allocates nothing.
    public sealed class AudioForwarder : IDisposable
    {
        // The plug-in holds one instance per process, so one forwarder per script
        // domain owns it. The others queue, and the first of them takes over when
        // the owner closes.
        private static readonly object ownerLock = new object();
        private static AudioForwarder owner;                                                // guarded by ownerLock
        private static readonly List<AudioForwarder> waiting = new List<AudioForwarder>(); // guarded by ownerLock

        private readonly object gate = new object();
        private readonly Action bind;
        private readonly bool is64BitProcess;
        private volatile bool open;      // written under gate
        private OutputFormat format;     // written under gate by the main thread, read there without
        private float[] scratch;         // guarded by gate; holds one re-laid block
        private volatile int lastBlockChannels;

        // Main thread only.
        private bool ownsInstance;
        private bool hasStream;
        private OpenResult status = OpenResult.Closed;
        private string problem;
        private OutputFormat requested;
        private uint latencyTarget;

        public enum OpenResult
        {
            // Not opened, or closed since.
            Closed,
            // Forwarding to a platform stream.
            Opened,
            // The instance exists but the platform refused the stream; the plug-in
            // logged why. Blocks are left to the engine until the next Open.
            NoStream,
            // Another forwarder of this domain owns the native instance; this one
            // takes over when that one closes.
            Waiting,
            // The native instance vanished or could not be created.
            NoInstance,
            // The native library could not be loaded.
            PluginMissing,
            // The native library lacks an entry point this package uses.
            PluginOutOfDate,
            // This build target has no native library.
            Unsupported,
            // The runtime could not bind the library for another reason than the
            // two above (an exception of its own); Problem has its words.
            BindFailed,
            // A 32-bit process: the library exists for x86-64 only.
            Needs64Bit
        }

        public AudioForwarder() : this(ZVAudioOutputNative.Bind)
        {
        }

        // `bind` resolves the native entry points, throwing as ZVAudioOutputNative.Bind does.
        internal AudioForwarder(Action bind) : this(bind, IntPtr.Size == 8)
        {
        }

        internal AudioForwarder(Action bind, bool is64BitProcess)
        {
            this.bind = bind;
            this.is64BitProcess = is64BitProcess;
        }

        // False on a build target without the native plug-in (every one but the
        // Windows x86-64 Editor and player).
        public static bool IsSupported
        {
            get { return ZVAudioOutputNative.IsSupported; }
        }

        // The lock Open, Close and Forward share; tests hold it to stand in for either side.
        internal object StateLock
        {
            get { return gate; }
        }

        public bool IsOpen
        {
            get { return open; }
        }

        // False while the platform has refused the stream (or before Open).
        public bool HasStream
        {
            get { return hasStream; }
        }

        // What the last Open (or a hand-over) came to; Closed after Close.
        public OpenResult Status
        {
            get { return status; }
        }

        // The runtime's own words for PluginMissing, PluginOutOfDate and BindFailed, else null.
        public string Problem
        {
            get { return problem; }
        }

        public OutputFormat Format
        {
            get { return format; }
        }

        // Queue depth the plug-in steers towards, in milliseconds; 0 is off. Applied
        // at once while this forwarder owns the instance, and at every Open.
        public uint LatencyTargetMilliseconds
        {
            get { return latencyTarget; }
            set
            {
                latencyTarget = value;
                if (ownsInstance)
                    ZVAudioOutputNative.SetAudioOutputLatencyTarget(value);
            }
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
                return open && seen > 0 && seen != format.Channels;
            }
        }

        // Checks that the native library is there and current, without creating
        // anything: Opened when it is, else Unsupported, Needs64Bit, or
        // PluginMissing, PluginOutOfDate or BindFailed with the runtime's words in
        // `detail`. Never throws.
        public static OpenResult CheckPlugin(out string detail)
        {
            return CheckPlugin(ZVAudioOutputNative.Bind, IntPtr.Size == 8, out detail);
        }

        // Forgets the owner and the queue of an earlier play session. The Editor
        // can enter play mode without reloading scripts, and then keeps every
        // static field; a forwarder of that session that never closed would
        // otherwise keep the others waiting for good.
        internal static void ForgetSession()
        {
            lock (ownerLock)
            {
                owner = null;
                waiting.Clear();
            }
        }

        // Creates the native instance if this forwarder holds none, then opens (or
        // re-opens) the output stream with `newFormat`. While another forwarder
        // owns the instance this one queues (Waiting) and opens with `newFormat`
        // when its turn comes.
        public OpenResult Open(OutputFormat newFormat)
        {
            requested = newFormat;
            SetOpen(false);
            hasStream = false;
            if (!ownsInstance)
            {
                OpenResult usable = CheckPlugin(bind, is64BitProcess, out problem);
                if (usable != OpenResult.Opened)
                    return Finish(usable);
                OpenResult claimed = ClaimInstance();
                if (claimed != OpenResult.Opened)
                    return Finish(claimed);
            }
            ZVAudioOutputNative.SetAudioOutputLatencyTarget(latencyTarget);
            if (!ZVAudioOutputNative.CreateOutputBuffer(newFormat.PlatformBufferFrames,
                                                        (uint)newFormat.Channels,
                                                        (uint)newFormat.SampleRate, 0u, 0u, 0.0f,
                                                        (uint)newFormat.BufferSeconds))
            {
                // Someone destroyed the instance behind our back.
                ReleaseOwnership();
                return Finish(OpenResult.NoInstance);
            }
            // The plug-in answers true even when the platform refused the stream;
            // only its ring tells.
            ZVAudioOutputStats stats;
            hasStream = ZVAudioOutputNative.GetAudioOutputStats(out stats) && stats.ringCapacity > 0;
            if (!hasStream)
                return Finish(OpenResult.NoStream);
            lock (gate)
            {
                if (scratch == null || scratch.Length < newFormat.BlockFrames * newFormat.Channels)
                    scratch = new float[newFormat.BlockFrames * newFormat.Channels];
                format = newFormat;
                lastBlockChannels = 0;
                open = true;
            }
            return Finish(OpenResult.Opened);
        }

        // Destroys the native instance if this forwarder owns it, or leaves the
        // queue, and hands the output to the next forwarder in the queue. Safe to
        // call any number of times; true when an instance was destroyed.
        public bool Close()
        {
            SetOpen(false);
            hasStream = false;
            status = OpenResult.Closed;
            problem = null;
            bool destroyed = false;
            AudioForwarder next = null;
            lock (ownerLock)
                waiting.Remove(this);
            if (ownsInstance)
            {
                destroyed = ZVAudioOutputNative.DestroyAudioOutput();
                ReleaseOwnership();
                lock (ownerLock)
                {
                    if (waiting.Count > 0)
                    {
                        next = waiting[0];
                        waiting.RemoveAt(0);
                    }
                }
            }
            if (next != null)
                next.Open(next.requested);
            return destroyed;
        }

        public void Dispose()
        {
            Close();
        }

        // Hands one engine block to the plug-in: one native call when its channel
        // count matches the output, otherwise one call per re-laid chunk. Unless
        // `loopback` is set, a delivered block is then silenced so the engine does
        // not play it a second time; a block not delivered is left as it was.
        // Audio thread; never waits, allocates nothing.
        public bool Forward(float[] data, int channels, bool loopback)
        {
            if (data == null || channels < 1)
                return false;
            lastBlockChannels = channels;
            if (!open)
                return false;
            bool taken = false;
            bool delivered = false;
            try
            {
                Monitor.TryEnter(gate, ref taken);
                if (!taken || !open)
                    return false;
                if (channels == format.Channels)
                    delivered = ZVAudioOutputNative.OnUnityAudio(data, data.Length);
                else
                    delivered = ForwardRelaid(data, channels);
            }
            finally
            {
                if (taken)
                    Monitor.Exit(gate);
            }
            if (delivered && !loopback)
                Array.Clear(data, 0, data.Length);
            return delivered;
        }

        // Counters of the native instance; false when this forwarder owns none.
        public bool TryGetStatistics(out ZVAudioOutputStats stats)
        {
            stats = new ZVAudioOutputStats();
            return ownsInstance && ZVAudioOutputNative.GetAudioOutputStats(out stats);
        }

        // Latency control's record; false when this forwarder owns no instance.
        public bool TryGetLatencyStatistics(out ZVAudioOutputLatencyStats stats)
        {
            stats = new ZVAudioOutputLatencyStats();
            return ownsInstance && ZVAudioOutputNative.GetAudioOutputLatencyStats(out stats);
        }

        // Whether the ring limits latency control; false when this forwarder owns no
        // instance or the library is older than the record.
        public bool TryGetLatencyLimits(out ZVAudioOutputLatencyLimits limits)
        {
            limits = new ZVAudioOutputLatencyLimits();
            return ownsInstance && ZVAudioOutputNative.HasLatencyLimits &&
                   ZVAudioOutputNative.Optional.GetAudioOutputLatencyLimits(ref limits,
                                                                            ZVAudioOutputNative.LatencyLimitsSize);
        }

        internal static OpenResult CheckPlugin(Action bind, bool is64BitProcess, out string detail)
        {
            detail = null;
            if (!ZVAudioOutputNative.IsSupported)
                return OpenResult.Unsupported;
            if (!is64BitProcess)
                return OpenResult.Needs64Bit;
            try
            {
                bind();
                return OpenResult.Opened;
            }
            catch (DllNotFoundException e)
            {
                detail = e.Message;
                return OpenResult.PluginMissing;
            }
            catch (EntryPointNotFoundException e)
            {
                detail = e.Message;
                return OpenResult.PluginOutOfDate;
            }
            catch (Exception e)
            {
                // IL2CPP's NotSupportedException, a BadImageFormatException for a
                // library of the wrong architecture, and whatever else a runtime
                // raises while binding.
                detail = e.GetType().Name + ": " + e.Message;
                return OpenResult.BindFailed;
            }
        }

        private OpenResult Finish(OpenResult result)
        {
            status = result;
            return result;
        }

        private void SetOpen(bool value)
        {
            lock (gate)
                open = value;
        }

        private OpenResult ClaimInstance()
        {
            lock (ownerLock)
            {
                if (owner != null && owner != this)
                {
                    if (!waiting.Contains(this))
                        waiting.Add(this);
                    return OpenResult.Waiting;
                }
                if (!ZVAudioOutputNative.CreateAudioOutput())
                {
                    // No forwarder of this domain owns the instance, so it was left
                    // by a domain that was unloaded without closing it. Its stream and
                    // counters belong to nobody; start afresh.
                    ZVAudioOutputNative.DestroyAudioOutput();
                    if (!ZVAudioOutputNative.CreateAudioOutput())
                        return OpenResult.NoInstance;
                }
                waiting.Remove(this);
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
