using System;
using System.Threading;

namespace ZVAudio.Output
{
    // What the component does, without the engine: opens the output when
    // enabled and on every audio configuration change, follows the channel count
    // of the blocks, keeps the read-out current, and says what went wrong once
    // per problem instead of throwing. Main thread only.
    public sealed class ForwarderController
    {
        private const string kPrefix = "ZV Audio Output: ";

        private readonly IForwarderLog log;
        private readonly AudioForwarder forwarder;
        private AudioForwarder.OpenResult reported = AudioForwarder.OpenResult.Closed;
        private string lastMessage;
        private int unusableChannels;
        private EngineAudio engine;
        private OutputReport report;
        private bool hasReport;
        private int requestedLatencyTarget = -1; // -1: none; written by any thread

        public ForwarderController(IForwarderLog log, AudioForwarder forwarder)
        {
            this.log = log;
            this.forwarder = forwarder;
            BufferSeconds = 1;
        }

        public AudioForwarder Forwarder
        {
            get { return forwarder; }
        }

        public int BufferSeconds { get; set; }

        // True when nothing will work until the plug-in is installed or replaced,
        // or after an exception: the component then disables itself.
        public bool GaveUp { get; private set; }

        // What the component does with an exception from one of its engine
        // callbacks: says it once, closes the output and gives up, so that the
        // exception never reaches the engine (which calls the handlers of an
        // event as one multicast delegate: one that throws starves the rest).
        public void Fail(System.Exception e)
        {
            GaveUp = true;
            Say(log.Error, "stopped after an unexpected " + e.GetType().Name + " (" + e.Message + "); the " +
                               "forwarder disables itself. Enable it again to retry.");
            try
            {
                Close();
            }
            catch (System.Exception)
            {
                // Already said why; closing is best effort here.
            }
        }

        // Opens the output for the engine's settings: on enable, and again on
        // every audio configuration change (which also retries a refused stream).
        public void Open(EngineAudio audio)
        {
            engine = audio;
            unusableChannels = 0;
            GaveUp = false;
            OpenWith(OutputFormat.ChannelsOf(audio.Layout));
        }

        public void Close()
        {
            forwarder.Close();
            reported = AudioForwarder.OpenResult.Closed;
            hasReport = false;
        }

        // Any thread (the engine may validate the component on its loading
        // thread): the latency target the next Update applies; the latest wins.
        public void RequestLatencyTarget(int milliseconds)
        {
            Interlocked.Exchange(ref requestedLatencyTarget, Math.Max(0, milliseconds));
        }

        // Once a frame: applies a requested latency target, re-opens when the
        // blocks carry another channel count, notices a hand-over, and refreshes
        // the read-out.
        public void Update()
        {
            int requested = Interlocked.Exchange(ref requestedLatencyTarget, -1);
            if (requested >= 0)
                forwarder.LatencyTargetMilliseconds = (uint)requested;
            int seen = forwarder.LastBlockChannels;
            if (forwarder.ChannelsDiffer && seen != unusableChannels)
            {
                if (seen <= OutputFormat.MaxChannels)
                {
                    OpenWith(seen);
                }
                else
                {
                    // Forward keeps re-laying them to the channels the output has.
                    unusableChannels = seen;
                    Say(log.Warning, "the engine delivers blocks of " + seen + " channels; the output " +
                                         "takes at most " + OutputFormat.MaxChannels + ", so it keeps the " +
                                         "first " + forwarder.Format.Channels + ".");
                }
            }
            Report();
            ZVAudioOutputStats stats;
            hasReport = forwarder.TryGetStatistics(out stats);
            if (hasReport)
            {
                ZVAudioOutputLatencyStats latency;
                forwarder.TryGetLatencyStatistics(out latency);
                ZVAudioOutputLatencyLimits limits;
                forwarder.TryGetLatencyLimits(out limits);
                report = OutputReport.From(stats, latency, limits, forwarder.Format);
            }
        }

        public bool TryGetReport(out OutputReport current)
        {
            current = report;
            return hasReport;
        }

        private void OpenWith(int channels)
        {
            OutputFormat format;
            string problem;
            if (!OutputFormat.TryCreate(engine.SampleRate, channels, engine.BlockFrames, BufferSeconds,
                                        out format, out problem))
            {
                Say(log.Warning, "the engine's audio settings cannot be forwarded (" + problem +
                                     "). Is audio disabled in the project settings? The forwarder " +
                                     "tries again on the next audio configuration change.");
                return;
            }
            forwarder.Open(format);
            Report();
        }

        // Says what the forwarder's state means, once per change of state.
        private void Report()
        {
            AudioForwarder.OpenResult status = forwarder.Status;
            if (status == reported)
                return;
            AudioForwarder.OpenResult previous = reported;
            reported = status;
            switch (status)
            {
            case AudioForwarder.OpenResult.Opened:
                if (previous == AudioForwarder.OpenResult.Waiting)
                    Say(log.Info, "this forwarder took over the output (" + forwarder.Format + ").");
                else if (lastMessage != null)
                    Say(log.Info, "forwarding (" + forwarder.Format + ").");
                lastMessage = null;
                break;
            case AudioForwarder.OpenResult.NoStream:
                Say(log.Warning, "the platform refused the output stream; the plug-in logged its " +
                                     "reason (in the Editor or Player log). The engine's audio plays " +
                                     "as usual; the forwarder tries again on the next audio " +
                                     "configuration change or when re-enabled.");
                break;
            case AudioForwarder.OpenResult.Waiting:
                Say(log.Warning, "another ZVAudioOutputForwarder owns the output; this one takes " +
                                     "over when that one is disabled or destroyed.");
                break;
            case AudioForwarder.OpenResult.NoInstance:
                GaveUp = true;
                Say(log.Error, "the plug-in could not create its output instance; the forwarder " +
                                   "disables itself.");
                break;
            case AudioForwarder.OpenResult.PluginMissing:
                GaveUp = true;
                Say(log.Error, "the native plug-in ZVAudioOutput could not be loaded (" + forwarder.Problem +
                                   "). ZVAudioOutput.dll, zv_sdk_loader.dll and zv_unity_native_logging.dll " +
                                   "must all be in the project (in the Editor: Tools > ZV Audio Output > Set " +
                                   "Up Platform DLLs) and in a player's <Game>_Data/Plugins/x86_64/. The " +
                                   "forwarder disables itself.");
                break;
            case AudioForwarder.OpenResult.BindFailed:
                GaveUp = true;
                Say(log.Error, "the runtime could not bind the native plug-in ZVAudioOutput (" +
                                   forwarder.Problem + "); the forwarder disables itself.");
                break;
            case AudioForwarder.OpenResult.Needs64Bit:
                Say(log.Warning, "the plug-in needs 64-bit Windows (an x86-64 player); this 32-bit " +
                                     "process does nothing with it.");
                break;
            case AudioForwarder.OpenResult.PluginOutOfDate:
                GaveUp = true;
                Say(log.Error, "the native plug-in ZVAudioOutput is out of date (it lacks " +
                                   forwarder.Problem + "); install the one that comes with this " +
                                   "package. The forwarder disables itself.");
                break;
            case AudioForwarder.OpenResult.Unsupported:
                Say(log.Warning, "this platform is not supported (only the Windows x86-64 Editor " +
                                     "and player are); the forwarder does nothing.");
                break;
            }
        }

        private void Say(System.Action<string> sink, string message)
        {
            if (message == lastMessage)
                return;
            lastMessage = message;
            sink(kPrefix + message);
        }
    }
}
