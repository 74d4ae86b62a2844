using System;
using System.Threading;

namespace ZVAudio.Output.Tests
{
    // The engine-independent side of the component: sizing, channel mapping,
    // the report, and AudioForwarder's life cycle against the real plug-in.
    public static class ForwarderTests
    {
        private const int kTimeoutMs = 10000;

        private static OutputFormat Stereo()
        {
            return new OutputFormat(48000, 2, 256, 1);
        }

        [Test]
        public static void FormatFollowsTheSpeakerLayoutAndRejectsImpossibleRings()
        {
            int[] channels = { 2, 1, 2, 4, 5, 6, 8, 2 };
            for (int layout = 0; layout < channels.Length; ++layout)
                Check.Equal(channels[layout], OutputFormat.ChannelsOf((SpeakerLayout)layout),
                            "channels of " + (SpeakerLayout)layout);

            OutputFormat format = OutputFormat.FromEngine(44100, SpeakerLayout.Mode5point1, 1024, 2);
            Check.Equal(6, format.Channels, "5.1 channels");
            Check.Equal(1024U, format.PlatformBufferFrames, "platform buffer frames");
            Check.Equal(44100L * 6 * 2, format.RingCapacity, "ring capacity");

            Check.Throws<ArgumentOutOfRangeException>(() => new OutputFormat(0, 2, 256, 1), "rate 0");
            Check.Throws<ArgumentOutOfRangeException>(() => new OutputFormat(48000, 9, 256, 1), "9 channels");
            Check.Throws<ArgumentOutOfRangeException>(() => new OutputFormat(48000, 2, 0, 1), "empty block");
            Check.Throws<ArgumentOutOfRangeException>(() => new OutputFormat(48000, 2, 256, 0), "0 seconds");
            // 2^31 samples is one more than the ring can hold.
            Check.Throws<ArgumentOutOfRangeException>(() => new OutputFormat(1 << 28, 8, 256, 1),
                                                      "ring of 2^31 samples");
            new OutputFormat((1 << 28) - 1, 8, 256, 1);
        }

        [Test]
        public static void ReportTurnsCountersIntoTime()
        {
            var stats = new ZVAudioOutputStats
            {
                queuedSamples = 4800, ringCapacity = 96000, silenceSamples = 960,
                requestsDeferred = 3, samplesDropped = 17
            };
            OutputReport report = OutputReport.From(stats, Stereo());
            Check.Near(50.0, report.LatencyMilliseconds, 1e-9, "latency");
            Check.Near(1000.0, report.RingMilliseconds, 1e-9, "ring length");
            Check.Near(10.0, report.SilenceMilliseconds, 1e-9, "silence");
            Check.Equal(3UL, report.RequestsDeferred, "requests deferred");
            Check.Equal(17UL, report.OverwrittenSamples, "overwritten");
        }

        [Test]
        public static void ForwardDeliversSilencesAndHonoursLoopback()
        {
            using (var forwarder = new AudioForwarder())
            {
                var block = new float[512];
                Fill(block, 0.5f);
                Check.False(forwarder.Forward(block, 2, false), "forward before open");
                Check.Equal(0.5f, block[0], "block kept while closed");

                Check.Equal(AudioForwarder.OpenResult.Opened, forwarder.Open(Stereo()), "open");
                Check.True(forwarder.Forward(block, 2, false), "forward");
                Check.Equal(0.0f, block[0], "forwarded block silenced");
                Check.Equal(0.0f, block[511], "forwarded block silenced to the end");

                Fill(block, 0.5f);
                Check.True(forwarder.Forward(block, 2, true), "forward with loopback");
                Check.Equal(0.5f, block[511], "loopback keeps the block");

                ZVAudioOutputStats stats;
                Check.True(forwarder.TryGetStatistics(out stats), "statistics while open");
                Check.Equal(1024UL, stats.samplesQueued, "samples queued");
                Check.False(forwarder.ChannelsDiffer, "channels match");

                Check.True(forwarder.Close(), "close");
                Check.False(forwarder.Close(), "second close");
                Check.False(forwarder.TryGetStatistics(out stats), "statistics after close");
                Check.False(forwarder.Forward(block, 2, false), "forward after close");
                Check.False(ZVAudioOutputNative.DestroyAudioOutput(), "instance destroyed by close");
            }
        }

        [Test]
        public static void ForwardRelaysBlocksOfAnotherChannelCount()
        {
            using (var forwarder = new AudioForwarder())
            {
                Check.Equal(AudioForwarder.OpenResult.Opened, forwarder.Open(Stereo()), "open");
                // Three times the scratch length, so the block goes over in chunks.
                var mono = new float[3 * 256];
                for (int i = 0; i < mono.Length; ++i)
                    mono[i] = (i % 100) / 128.0f;
                Check.True(forwarder.Forward(mono, 1, true), "mono block");
                Check.True(forwarder.ChannelsDiffer, "mismatch noticed");
                Check.Equal(1, forwarder.LastBlockChannels, "channels seen");
                ZVAudioOutputStats stats;
                Check.True(forwarder.TryGetStatistics(out stats), "statistics");
                Check.Equal((ulong)mono.Length * 2, stats.samplesQueued, "every frame queued as stereo");

                Check.True(Playback.WaitFor(mono.Length * 2, kTimeoutMs), "played");
                short[] played = Playback.Snapshot();
                for (int i = 0; i < mono.Length; ++i)
                {
                    var expected = (short)(int)(mono[i] * 32767.0f);
                    Check.Equal(expected, played[2 * i], "left of frame " + i);
                    Check.Equal(expected, played[2 * i + 1], "right of frame " + i);
                }

                Check.Equal(AudioForwarder.OpenResult.Opened, forwarder.Open(Stereo().WithChannels(1)),
                            "re-open as mono");
                Check.False(forwarder.ChannelsDiffer, "mismatch cleared by the re-open");
            }
        }

        [Test]
        public static void OpenReplacesAnInstanceLeftByAnEarlierDomainAndHandsOverInTurn()
        {
            Check.True(ZVAudioOutputNative.CreateAudioOutput(), "leftover instance");
            Check.True(ZVAudioOutputNative.CreateOutputBuffer(256, 2, 48000, 0, 0, 0.0f, 1), "leftover stream");
            var block = new float[300];
            ZVAudioOutputNative.OnUnityAudio(block, block.Length);

            using (var forwarder = new AudioForwarder())
            using (var second = new AudioForwarder())
            using (var third = new AudioForwarder())
            {
                Check.Equal(AudioForwarder.OpenResult.Opened, forwarder.Open(Stereo()), "open");
                Check.Equal(0UL, NativeState.Stats().samplesQueued, "counters of a fresh instance");
                Check.Equal(2UL, SimulatedDevice.Stats().streamsCreated, "a new stream");

                Check.Equal(AudioForwarder.OpenResult.Waiting, second.Open(Stereo().WithChannels(1)),
                            "second forwarder");
                Check.Equal(AudioForwarder.OpenResult.Waiting, third.Open(Stereo()), "third forwarder");
                Check.False(second.Forward(block, 1, false), "a waiting forwarder forwards nothing");
                Check.True(forwarder.Forward(block, 2, true), "first forwarder still works");

                // The third leaves the queue; the second takes over with its own format.
                Check.False(third.Close(), "third forwarder owns nothing");
                Check.True(forwarder.Close(), "close");
                Check.Equal(AudioForwarder.OpenResult.Opened, second.Status, "second took over");
                Check.Equal(1, second.Format.Channels, "with the format it asked for");
                Check.True(second.Forward(block, 1, true), "second forwards");
                Check.Equal(300UL, NativeState.Stats().samplesQueued, "its block reached the new instance");
                Check.True(second.Close(), "second closes");
                Check.Equal(AudioForwarder.OpenResult.Closed, third.Status, "third stays out of it");
            }
            Check.False(ZVAudioOutputNative.DestroyAudioOutput(), "nothing left after dispose");
        }

        [Test]
        public static void APlaySessionWithoutDomainReloadStartsWithoutTheLastOnesOwner()
        {
            var earlier = new AudioForwarder();
            var queued = new AudioForwarder();
            Check.Equal(AudioForwarder.OpenResult.Opened, earlier.Open(Stereo()), "owner of the last session");
            Check.Equal(AudioForwarder.OpenResult.Waiting, queued.Open(Stereo()), "queued in the last session");

            AudioForwarder.ForgetSession();
            using (var forwarder = new AudioForwarder())
            {
                Check.Equal(AudioForwarder.OpenResult.Opened, forwarder.Open(Stereo()), "open in the new session");
                Check.True(forwarder.Close(), "close");
                Check.Equal(AudioForwarder.OpenResult.Waiting, queued.Status, "the old queue hands nothing over");
            }
        }

        [Test]
        public static void OpenReportsAnInstanceDestroyedBehindItsBack()
        {
            using (var forwarder = new AudioForwarder())
            {
                Check.Equal(AudioForwarder.OpenResult.Opened, forwarder.Open(Stereo()), "open");
                Check.True(ZVAudioOutputNative.DestroyAudioOutput(), "foreign destroy");
                Check.Equal(AudioForwarder.OpenResult.NoInstance,
                            forwarder.Open(Stereo().WithChannels(1)), "re-open");
                Check.False(forwarder.IsOpen, "closed");
                Check.Equal(AudioForwarder.OpenResult.Opened, forwarder.Open(Stereo()), "open again");
            }
        }

        [Test]
        public static void RefusedStreamLeavesTheEngineAudioAloneAndIsSaidOnce()
        {
            var log = new RecordingLog();
            var forwarder = new AudioForwarder();
            var controller = new ForwarderController(log, forwarder);
            var engine = new EngineAudio(48000, SpeakerLayout.Stereo, 256);
            SimulatedDevice.ZVSimInjectFailure(SimulatedDevice.kCallCreateSoundWithBufferedOutput,
                                               SimulatedDevice.kInjectedFailure, 2);
            try
            {
                controller.Open(engine);
                Check.Equal(AudioForwarder.OpenResult.NoStream, forwarder.Status, "status");
                Check.False(forwarder.HasStream, "no stream");
                log.Expect("refused stream", "warning: the platform refused the output stream");
                var block = new float[512];
                Fill(block, 0.5f);
                Check.False(forwarder.Forward(block, 2, false), "forward without a stream");
                Check.Equal(0.5f, block[511], "the engine's block left as it was");

                controller.Open(engine); // a configuration change, still refused
                controller.Update();
                log.Expect("refused again");
                Check.False(controller.GaveUp, "keeps trying");

                controller.Open(engine);
                Check.True(forwarder.HasStream, "stream on the third try");
                log.Expect("accepted", "info: forwarding");
                Check.True(forwarder.Forward(block, 2, false), "forward with a stream");
                Check.Equal(0.0f, block[511], "forwarded block silenced");
            }
            finally
            {
                controller.Close();
            }
        }

        [Test]
        public static void ProblemsAreSaidOnceAndNeverThrown()
        {
            var log = new RecordingLog();
            var engine = new EngineAudio(48000, SpeakerLayout.Stereo, 256);
            // IL2CPP's answer to Marshal.Prelink.
            var il2cpp = new ForwarderController(
                log, new AudioForwarder(() => { throw new NotSupportedException("Not implemented."); }));
            il2cpp.Open(engine);
            il2cpp.Update();
            log.Expect("bind that throws", "error: could not bind the native plug-in ZVAudioOutput " +
                                               "(NotSupportedException: Not implemented.)");
            Check.True(il2cpp.GaveUp, "gives up when binding throws");
            Check.Equal(AudioForwarder.OpenResult.BindFailed, il2cpp.Forwarder.Status, "status");

            bool bound = false;
            var x86 = new ForwarderController(log, new AudioForwarder(() => bound = true, false));
            x86.Open(engine);
            x86.Open(engine);
            x86.Update();
            log.Expect("32-bit process", "warning: needs 64-bit Windows");
            Check.False(bound, "a 32-bit process never touches the library");
            Check.False(x86.Forwarder.Forward(new float[512], 2, false), "and forwards nothing");

            var stale = new ForwarderController(
                log, new AudioForwarder(() => ZVAudioOutputNative.Prelink(typeof(NativeDeclarationTests.MissingEntryPoint))));
            stale.Open(new EngineAudio(48000, SpeakerLayout.Stereo, 256));
            for (int frame = 0; frame < 3; ++frame)
                stale.Update();
            log.Expect("out-of-date plug-in", "error: out of date (it lacks NoSuchExport");
            Check.True(stale.GaveUp, "gives up on an out-of-date plug-in");
            Check.False(ZVAudioOutputNative.DestroyAudioOutput(), "no instance created for it");

            var forwarder = new AudioForwarder();
            var controller = new ForwarderController(log, forwarder);
            try
            {
                // Audio disabled in the project settings: rate and block length read 0.
                for (int change = 0; change < 3; ++change)
                    controller.Open(new EngineAudio(0, SpeakerLayout.Stereo, 0));
                controller.Update();
                log.Expect("audio disabled", "warning: sample rate 0 Hz");
                Check.False(controller.GaveUp, "waits for a usable configuration");

                controller.Open(new EngineAudio(48000, SpeakerLayout.Stereo, 256));
                log.Expect("usable configuration", "info: forwarding");
                // Blocks of more channels than the output takes: re-laid, said once.
                var block = new float[10 * 64];
                for (int frame = 0; frame < 3; ++frame)
                {
                    Check.True(forwarder.Forward(block, 10, true), "10-channel block " + frame);
                    controller.Update();
                }
                log.Expect("10 channels", "warning: blocks of 10 channels");
                Check.Equal(2, forwarder.Format.Channels, "output kept");
                Check.Equal(3UL * 2 * 64, NativeState.Stats().samplesQueued, "blocks re-laid to stereo");

                // What the component does with an exception from an engine callback.
                var failure = new InvalidOperationException("boom");
                controller.Fail(failure);
                controller.Fail(failure);
                log.Expect("exception in a callback", "error: unexpected InvalidOperationException (boom)");
                Check.True(controller.GaveUp, "gives up after an exception");
                Check.False(forwarder.IsOpen, "output closed");
                Check.False(ZVAudioOutputNative.DestroyAudioOutput(), "instance destroyed");
            }
            finally
            {
                controller.Close();
            }
        }

        [Test]
        public static void LatencyTargetReachesThePlugInAtOpenAndWhileOpen()
        {
            using (var forwarder = new AudioForwarder())
            {
                forwarder.LatencyTargetMilliseconds = 40;
                Check.Equal(AudioForwarder.OpenResult.Opened, forwarder.Open(Stereo()), "open");
                ZVAudioOutputLatencyStats latency;
                Check.True(forwarder.TryGetLatencyStatistics(out latency), "latency statistics");
                Check.Equal(40UL, latency.targetMilliseconds, "target applied at open");
                ZVAudioOutputLatencyLimits limits;
                Check.True(forwarder.TryGetLatencyLimits(out limits), "ring limits");
                Check.Equal(72UL, limits.recordSize, "limits record");
                forwarder.LatencyTargetMilliseconds = 0;
                Check.True(forwarder.TryGetLatencyStatistics(out latency), "latency statistics again");
                Check.Equal(0UL, latency.targetMilliseconds, "target switched off while open");
            }

            // A change from the inspector, which the engine may validate on its
            // loading thread: no native call there, the next Update applies it.
            var controller = new ForwarderController(new RecordingLog(), new AudioForwarder());
            try
            {
                controller.Open(new EngineAudio(48000, SpeakerLayout.Stereo, 256));
                var loading = new Thread(() => { controller.RequestLatencyTarget(-5); controller.RequestLatencyTarget(25); });
                loading.Start();
                Check.True(loading.Join(kTimeoutMs), "request returned");
                ZVAudioOutputLatencyStats latency;
                Check.True(controller.Forwarder.TryGetLatencyStatistics(out latency), "latency statistics");
                Check.Equal(0UL, latency.targetMilliseconds, "nothing applied off the main thread");
                controller.Update();
                Check.True(controller.Forwarder.TryGetLatencyStatistics(out latency), "latency statistics after Update");
                Check.Equal(25UL, latency.targetMilliseconds, "the latest request applied by Update");
                Check.Equal(25U, controller.Forwarder.LatencyTargetMilliseconds, "and kept for the next Open");
            }
            finally
            {
                controller.Close();
            }
        }

        // A library older than the limits record binds and forwards; the report then
        // carries no limits, and nothing calls the export it lacks.
        [Test]
        public static void AnOlderLibraryWithoutTheLimitsExportStillForwards()
        {
            bool had = ZVAudioOutputNative.HasLatencyLimits;
            var log = new RecordingLog();
            var forwarder = new AudioForwarder(() => {
                ZVAudioOutputNative.Bind();
                ZVAudioOutputNative.HasLatencyLimits = ZVAudioOutputNative.Finds(
                    () => ZVAudioOutputNative.Prelink(typeof(NativeDeclarationTests.MissingEntryPoint)));
            });
            var controller = new ForwarderController(log, forwarder);
            try
            {
                forwarder.LatencyTargetMilliseconds = 60;
                controller.Open(new EngineAudio(48000, SpeakerLayout.Stereo, 256));
                Check.Equal(AudioForwarder.OpenResult.Opened, forwarder.Status, "opened");
                var block = new float[512];
                Fill(block, 0.5f);
                Check.True(forwarder.Forward(block, 2, false), "forwarded");
                ZVAudioOutputLatencyLimits limits;
                Check.False(forwarder.TryGetLatencyLimits(out limits), "no limits from an older library");
                controller.Update();
                OutputReport report;
                Check.True(controller.TryGetReport(out report), "report");
                Check.Equal(60UL, report.LatencyTargetMilliseconds, "latency control reported");
                Check.False(report.HasRingLimits, "no ring limits in the report");
            }
            finally
            {
                controller.Close();
                ZVAudioOutputNative.HasLatencyLimits = had;
            }
        }

        [Test]
        public static void AudioThreadNeverWaitsNorForwardsIntoAClosedOrChangingOutput()
        {
            var block = new float[512];
            Fill(block, 0.5f);
            using (var forwarder = new AudioForwarder())
            {
                Check.Equal(AudioForwarder.OpenResult.Opened, forwarder.Open(Stereo()), "open");
                // The main thread in the middle of a change: the block goes back to
                // the engine untouched, at once.
                bool delivered = true;
                var audio = new Thread(() => delivered = forwarder.Forward(block, 2, false));
                lock (forwarder.StateLock)
                {
                    audio.Start();
                    Check.True(audio.Join(kTimeoutMs), "Forward returned while the output was changing");
                }
                Check.False(delivered, "block forwarded while the output was changing");
                Check.Equal(0.5f, block[511], "block left to the engine");
                Check.Equal(0UL, NativeState.Stats().samplesQueued, "samples reaching the plug-in");

                // A block in flight: Close waits for it before destroying the instance.
                var closer = new Thread(() => forwarder.Close());
                lock (forwarder.StateLock)
                {
                    closer.Start();
                    Check.True(Wait.Until(() => !closer.IsAlive ||
                                                    (closer.ThreadState & ThreadState.WaitSleepJoin) != 0,
                                          kTimeoutMs),
                               "Close blocked or done");
                    Check.True(closer.IsAlive, "Close went ahead while a block was in flight");
                    Check.True(NativeState.Stats().ringCapacity > 0, "stream kept while a block was in flight");
                }
                Check.True(closer.Join(kTimeoutMs), "Close finished after the block");
                Check.False(ZVAudioOutputNative.DestroyAudioOutput(), "instance destroyed by Close");
            }

            var forwarder2 = new AudioForwarder();
            var stop = new ManualResetEvent(false);
            Exception failure = null;
            long forwarded = 0;
            var audioLoop = new Thread(() =>
            {
                try
                {
                    var loopBlock = new float[512];
                    while (!stop.WaitOne(0))
                    {
                        if (forwarder2.Forward(loopBlock, 2, false))
                            ++forwarded;
                    }
                }
                catch (Exception e)
                {
                    failure = e;
                }
            });
            audioLoop.Start();
            try
            {
                for (int cycle = 0; cycle < 10; ++cycle)
                {
                    Check.Equal(AudioForwarder.OpenResult.Opened,
                                forwarder2.Open(Stereo().WithChannels(1 + cycle % 2)), "open " + cycle);
                    Thread.Sleep(1);
                    Check.Equal(AudioForwarder.OpenResult.Opened, forwarder2.Open(Stereo()), "re-open " + cycle);
                    ZVAudioOutputStats stats;
                    Check.True(forwarder2.TryGetStatistics(out stats), "statistics " + cycle);
                    NativeState.CheckBalanced(stats, "in cycle " + cycle);
                    Check.True(forwarder2.Close(), "close " + cycle);
                    // While closed nothing reaches the plug-in: an instance made now
                    // must see no samples at all.
                    Check.True(ZVAudioOutputNative.CreateAudioOutput(), "probe instance " + cycle);
                    Thread.Sleep(1);
                    ZVAudioOutputStats probe = NativeState.Stats();
                    Check.Equal(0UL, probe.samplesWithoutStream + probe.samplesQueued,
                                "samples reaching a closed forwarder's plug-in, cycle " + cycle);
                    Check.True(ZVAudioOutputNative.DestroyAudioOutput(), "probe destroyed " + cycle);
                }
            }
            finally
            {
                stop.Set();
                Check.True(audioLoop.Join(kTimeoutMs), "audio thread stopped within the timeout");
                forwarder2.Dispose();
            }
            Check.True(failure == null, "audio thread failed: " + failure);
            Check.True(forwarded > 0, "some blocks forwarded");
        }

        [Test]
        public static void ForwardAllocatesNothing()
        {
            using (var forwarder = new AudioForwarder())
            {
                Check.Equal(AudioForwarder.OpenResult.Opened, forwarder.Open(Stereo()), "open");
                var stereo = new float[512];
                var mono = new float[1024];
                forwarder.Forward(stereo, 2, false); // first calls compile the code
                forwarder.Forward(mono, 1, false);
                long before = GC.GetAllocatedBytesForCurrentThread();
                for (int i = 0; i < 1000; ++i)
                {
                    forwarder.Forward(stereo, 2, false);
                    forwarder.Forward(mono, 1, false);
                }
                long allocated = GC.GetAllocatedBytesForCurrentThread() - before;
                Check.Equal(0L, allocated, "bytes allocated by 2000 forwards");
            }
        }

        private static void Fill(float[] block, float value)
        {
            for (int i = 0; i < block.Length; ++i)
                block[i] = value;
        }
    }
}
