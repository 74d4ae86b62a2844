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
            Check.Equal(3UL, report.Underruns, "underruns");
            Check.Equal(17UL, report.OverwrittenSamples, "overwritten");
        }

        [Test]
        public static void MapperRelaysFramesBetweenChannelCounts()
        {
            float[] mono = { 0.1f, 0.2f, 0.3f };
            var target = new float[6];
            ChannelMapper.Map(mono, 1, 1, 2, target, 3);
            Check.Equal("0.2 0.2 0.2 0.3 0.3 0.3", Join(target, 6), "mono to three channels");

            float[] stereo = { 0.2f, 0.4f, -1.0f, 0.0f };
            ChannelMapper.Map(stereo, 2, 0, 2, target, 1);
            Check.Equal("0.3 -0.5", Join(target, 2), "stereo mixed down");

            float[] quad = { 1, 2, 3, 4, 5, 6, 7, 8 };
            ChannelMapper.Map(quad, 4, 0, 2, target, 2);
            Check.Equal("1 2 5 6", Join(target, 4), "quad to stereo keeps the front pair");
            ChannelMapper.Map(stereo, 2, 0, 2, target, 3);
            Check.Equal("0.2 0.4 0 -1 0 0", Join(target, 6), "stereo to three, the third silent");

            Check.Throws<ArgumentOutOfRangeException>(() => ChannelMapper.Map(stereo, 2, 1, 2, target, 2),
                                                      "frames past the source");
            Check.Throws<ArgumentOutOfRangeException>(() => ChannelMapper.Map(stereo, 2, 0, 2, target, 4),
                                                      "frames past the target");
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
        public static void OpenReplacesAnInstanceLeftByAnEarlierDomain()
        {
            Check.True(ZVAudioOutputNative.CreateAudioOutput(), "leftover instance");
            Check.True(ZVAudioOutputNative.CreateOutputBuffer(256, 2, 48000, 0, 0, 0.0f, 1), "leftover stream");
            var block = new float[300];
            ZVAudioOutputNative.OnUnityAudio(block, block.Length);

            using (var forwarder = new AudioForwarder())
            using (var second = new AudioForwarder())
            {
                Check.Equal(AudioForwarder.OpenResult.Opened, forwarder.Open(Stereo()), "open");
                Check.Equal(0UL, NativeState.Stats().samplesQueued, "counters of a fresh instance");
                Check.Equal(2UL, SimulatedDevice.Stats().streamsCreated, "a new stream");

                Check.Equal(AudioForwarder.OpenResult.InstanceInUse, second.Open(Stereo()),
                            "second forwarder");
                Check.False(second.Close(), "second forwarder owns nothing");
                Check.True(forwarder.Forward(block, 2, true), "first forwarder still works");

                Check.True(forwarder.Close(), "close");
                Check.Equal(AudioForwarder.OpenResult.Opened, second.Open(Stereo()),
                            "second forwarder after the first closed");
            }
            Check.False(ZVAudioOutputNative.DestroyAudioOutput(), "nothing left after dispose");
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
        public static void AudioThreadNeverForwardsIntoAClosedOrChangingOutput()
        {
            var forwarder = new AudioForwarder();
            var stop = new ManualResetEvent(false);
            Exception failure = null;
            long forwarded = 0;
            var audio = new Thread(() =>
            {
                try
                {
                    var block = new float[512];
                    while (!stop.WaitOne(0))
                    {
                        if (forwarder.Forward(block, 2, false))
                            ++forwarded;
                    }
                }
                catch (Exception e)
                {
                    failure = e;
                }
            });
            audio.Start();
            try
            {
                for (int cycle = 0; cycle < 30; ++cycle)
                {
                    Check.Equal(AudioForwarder.OpenResult.Opened,
                                forwarder.Open(Stereo().WithChannels(1 + cycle % 2)), "open " + cycle);
                    Thread.Sleep(1);
                    Check.Equal(AudioForwarder.OpenResult.Opened, forwarder.Open(Stereo()), "re-open " + cycle);
                    ZVAudioOutputStats stats;
                    Check.True(forwarder.TryGetStatistics(out stats), "statistics " + cycle);
                    NativeState.CheckBalanced(stats, "in cycle " + cycle);
                    Check.True(forwarder.Close(), "close " + cycle);
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
                Check.True(audio.Join(kTimeoutMs), "audio thread stopped within the timeout");
                forwarder.Dispose();
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

        private static string Join(float[] values, int count)
        {
            var parts = new string[count];
            for (int i = 0; i < count; ++i)
                parts[i] = values[i].ToString("0.###", System.Globalization.CultureInfo.InvariantCulture);
            return string.Join(" ", parts);
        }
    }
}
