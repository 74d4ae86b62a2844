using System;
using System.Runtime.InteropServices;

namespace ZVAudio.Output.Tests
{
    // The exports as managed code sees them through the declarations, against
    // the real plug-in and the simulated device.
    public static class ExportTests
    {
        private const int kTimeoutMs = 10000;

        // Reads the statistics through a raw pointer, to see the bytes the native
        // side writes without the managed record in between.
        [DllImport(ZVAudioOutputNative.LibraryName, EntryPoint = "GetAudioOutputStats",
                   CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        [return: MarshalAs(UnmanagedType.U1)]
        private static extern bool GetAudioOutputStatsRaw(IntPtr stats);

        [DllImport(ZVAudioOutputNative.LibraryName, EntryPoint = "GetAudioOutputLatencyStats",
                   CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        [return: MarshalAs(UnmanagedType.U1)]
        private static extern bool GetAudioOutputLatencyStatsRaw(IntPtr stats);

        [DllImport(ZVAudioOutputNative.LibraryName, EntryPoint = "GetAudioOutputLatencyLimits",
                   CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        [return: MarshalAs(UnmanagedType.U1)]
        private static extern bool GetAudioOutputLatencyLimitsRaw(IntPtr limits, uint recordSize);

        // The engine's hooks: the engine calls them, never a script, so the package
        // does not declare them.
        [DllImport(ZVAudioOutputNative.LibraryName, CallingConvention = CallingConvention.Cdecl,
                   ExactSpelling = true)]
        private static extern void UnityPluginLoad(IntPtr unityInterfaces);

        [DllImport(ZVAudioOutputNative.LibraryName, CallingConvention = CallingConvention.Cdecl,
                   ExactSpelling = true)]
        private static extern void UnityPluginUnload();

        private static void Open(uint channels, uint rate, uint seconds)
        {
            Check.True(ZVAudioOutputNative.CreateOutputBuffer(256, channels, rate, 0, 0, 0.0f, seconds),
                       "CreateOutputBuffer with an instance");
        }

        [Test]
        public static void ResultsReportWhetherAnInstanceExists()
        {
            var block = new float[16];
            ZVAudioOutputStats stats;
            Check.False(ZVAudioOutputNative.OnUnityAudio(block, block.Length), "OnUnityAudio, no instance");
            Check.False(ZVAudioOutputNative.CreateOutputBuffer(256, 2, 48000, 0, 0, 0.0f, 1),
                        "CreateOutputBuffer, no instance");
            Check.False(ZVAudioOutputNative.GetAudioOutputStats(out stats), "stats, no instance");

            Check.True(ZVAudioOutputNative.CreateAudioOutput(), "first create");
            Check.False(ZVAudioOutputNative.CreateAudioOutput(), "second create");
            UnityPluginLoad(IntPtr.Zero);
            UnityPluginUnload();
            UnityPluginUnload();
            Check.False(ZVAudioOutputNative.CreateAudioOutput(), "create after the hooks");

            Check.True(ZVAudioOutputNative.DestroyAudioOutput(), "first destroy");
            Check.False(ZVAudioOutputNative.DestroyAudioOutput(), "second destroy");
            Check.False(ZVAudioOutputNative.OnUnityAudio(block, block.Length), "OnUnityAudio after destroy");
            Check.Equal(0UL, SimulatedDevice.Stats().streamsCreated, "streams opened without an instance");
        }

        [Test]
        public static void PushedBlockIsPlayedAsSaturated16BitPcm()
        {
            float[] block = { 1.0f, -1.0f, 0.001f, -0.001f, 0.0f, -0.0f, 0.5f, -0.5f, 2.0f, -2.0f,
                              -3.0f, 1e10f, float.NaN, float.PositiveInfinity,
                              float.NegativeInfinity, 0.25f };
            short[] expected = { 32767, -32768, 32, -32, 0, 0, 16383, -16384, 32767, -32768,
                                 -32768, 32767, 0, 0, 0, 8191 };
            Check.True(ZVAudioOutputNative.CreateAudioOutput(), "create");
            Open(1, 48000, 1);
            Check.True(ZVAudioOutputNative.OnUnityAudio(block, block.Length), "OnUnityAudio");
            Check.True(Playback.WaitFor(block.Length, kTimeoutMs), "block played within the timeout");

            short[] played = Playback.Snapshot();
            for (int i = 0; i < expected.Length; ++i)
                Check.Equal(expected[i], played[i], "played sample " + i + " from " + block[i]);
            // The rest of the buffer is padding, not a repeat of the block.
            for (int i = expected.Length; i < played.Length; ++i)
                Check.Equal((short)0, played[i], "padding sample " + i);
        }

        [Test]
        public static void StatisticsCountTheBlocksAndAgreeWithTheDevice()
        {
            Check.True(ZVAudioOutputNative.CreateAudioOutput(), "create");
            var block = new float[300];
            for (int i = 0; i < block.Length; ++i)
                block[i] = 0.5f;
            Check.True(ZVAudioOutputNative.OnUnityAudio(block, 100), "block before any stream");
            ZVAudioOutputStats stats = NativeState.Stats();
            Check.Equal(100UL, stats.samplesWithoutStream, "samples without stream");
            Check.Equal(0UL, stats.samplesQueued, "queued without stream");
            Check.Equal(0UL, stats.ringCapacity, "capacity without stream");

            Open(2, 8000, 3);
            Check.True(ZVAudioOutputNative.OnUnityAudio(block, block.Length), "block with stream");
            Check.True(ZVAudioOutputNative.OnUnityAudio(block, 0), "empty block");
            Check.True(Wait.Until(() => NativeState.Stats().samplesDelivered == 300, kTimeoutMs),
                       "all samples delivered within the timeout");

            stats = NativeState.Stats();
            Check.Equal(300UL, stats.samplesQueued, "samples queued");
            Check.Equal(0UL, stats.samplesDropped, "samples dropped");
            Check.Equal(0UL, stats.queuedSamples, "samples waiting");
            Check.Equal(2UL * 8000 * 3, stats.ringCapacity, "ring capacity");
            Check.Equal(100UL, stats.samplesWithoutStream, "samples without stream, later");
            NativeState.CheckBalanced(stats, "after delivery");
            ulong filled = stats.buffersFilled;
            ulong written = stats.samplesDelivered + stats.silenceSamples;
            Check.True(Wait.Until(() => SimulatedDevice.Stats().buffersPlayed == filled &&
                                        SimulatedDevice.Stats().samplesPlayed == written,
                                  kTimeoutMs),
                       "device played the " + filled + " buffers and " + written +
                           " samples the plug-in filled");

            // The same record through a raw pointer: exactly 72 bytes written.
            IntPtr raw = Marshal.AllocHGlobal(80);
            try
            {
                for (int i = 0; i < 80; ++i)
                    Marshal.WriteByte(raw, i, 0xAB);
                Check.True(GetAudioOutputStatsRaw(raw), "raw stats");
                Check.Equal(300L, Marshal.ReadInt64(raw, 0), "samplesQueued at offset 0");
                Check.Equal(2L * 8000 * 3, Marshal.ReadInt64(raw, 56), "ringCapacity at offset 56");
                Check.Equal(100L, Marshal.ReadInt64(raw, 64), "samplesWithoutStream at offset 64");
                Check.Equal(unchecked((long)0xABABABABABABABABUL), Marshal.ReadInt64(raw, 72),
                            "bytes past the record");
                Check.False(GetAudioOutputStatsRaw(IntPtr.Zero), "null record");
            }
            finally
            {
                Marshal.FreeHGlobal(raw);
            }
        }

        [Test]
        public static void LatencyTargetIsKeptPerInstanceAndReadBackIn64Bytes()
        {
            ZVAudioOutputLatencyStats latency;
            Check.False(ZVAudioOutputNative.SetAudioOutputLatencyTarget(40), "target without an instance");
            Check.False(ZVAudioOutputNative.GetAudioOutputLatencyStats(out latency), "record without an instance");

            Check.True(ZVAudioOutputNative.CreateAudioOutput(), "create");
            Check.True(ZVAudioOutputNative.GetAudioOutputLatencyStats(out latency), "record");
            Check.Equal(0UL, latency.targetMilliseconds, "off by default");
            Check.True(ZVAudioOutputNative.SetAudioOutputLatencyTarget(40), "target");
            Open(2, 48000, 1);
            IntPtr raw = Marshal.AllocHGlobal(72);
            try
            {
                for (int i = 0; i < 72; ++i)
                    Marshal.WriteByte(raw, i, 0xAB);
                Check.True(GetAudioOutputLatencyStatsRaw(raw), "raw record");
                Check.Equal(40L, Marshal.ReadInt64(raw, 0), "targetMilliseconds at offset 0");
                Check.Equal(unchecked((long)0xABABABABABABABABUL), Marshal.ReadInt64(raw, 64),
                            "bytes past the record");
                Check.False(GetAudioOutputLatencyStatsRaw(IntPtr.Zero), "null record");
            }
            finally
            {
                Marshal.FreeHGlobal(raw);
            }

            Check.True(ZVAudioOutputNative.DestroyAudioOutput(), "destroy");
            Check.True(ZVAudioOutputNative.CreateAudioOutput(), "create again");
            Check.True(ZVAudioOutputNative.GetAudioOutputLatencyStats(out latency), "record of the new instance");
            Check.Equal(0UL, latency.targetMilliseconds, "a new instance starts with control off");
        }

        // A caller built against an older (shorter) or newer (longer) record than the
        // library's: exactly the bytes both know are written.
        [Test]
        public static void LatencyLimitsFillAsMuchOfTheRecordAsTheCallerHas()
        {
            var limits = new ZVAudioOutputLatencyLimits();
            Check.False(ZVAudioOutputNative.Optional.GetAudioOutputLatencyLimits(ref limits,
                                                                                 ZVAudioOutputNative.LatencyLimitsSize),
                        "limits without an instance");
            Check.True(ZVAudioOutputNative.CreateAudioOutput(), "create");
            Check.True(ZVAudioOutputNative.SetAudioOutputLatencyTarget(60), "target");
            Open(2, 48000, 1);
            Check.True(ZVAudioOutputNative.Optional.GetAudioOutputLatencyLimits(ref limits,
                                                                                ZVAudioOutputNative.LatencyLimitsSize),
                       "limits");
            Check.Equal(72UL, limits.recordSize, "the library's record size");
            Check.Equal(96000UL, limits.ringSamples, "ring");
            Check.True(limits.neededSamples > 0 && limits.limitSamples > limits.neededSamples,
                       "a 1 s ring holds what a steady stream needs");
            Check.Equal(0UL, limits.limitedByRing, "not limited");
            Check.Equal(1UL, limits.fittingRingSeconds, "1 s fits");

            IntPtr raw = Marshal.AllocHGlobal(80);
            try
            {
                for (int i = 0; i < 80; ++i)
                    Marshal.WriteByte(raw, i, 0xAB);
                Check.True(GetAudioOutputLatencyLimitsRaw(raw, 16), "an older caller's 16 bytes");
                Check.Equal(72L, Marshal.ReadInt64(raw, 0), "recordSize at offset 0");
                Check.Equal(unchecked((long)0xABABABABABABABABUL), Marshal.ReadInt64(raw, 16), "bytes past 16");
                Check.True(GetAudioOutputLatencyLimitsRaw(raw, 80), "a newer caller's 80 bytes");
                Check.Equal(96000L, Marshal.ReadInt64(raw, 48), "ringSamples at offset 48");
                Check.Equal(unchecked((long)0xABABABABABABABABUL), Marshal.ReadInt64(raw, 72), "bytes past 72");
                Check.False(GetAudioOutputLatencyLimitsRaw(raw, 4), "too short for recordSize");
                Check.False(GetAudioOutputLatencyLimitsRaw(IntPtr.Zero, 72), "null record");
            }
            finally
            {
                Marshal.FreeHGlobal(raw);
            }
        }

        [Test]
        public static void OverflowIsCountedAsDroppedAndTheInvariantHoldsThroughout()
        {
            Check.True(ZVAudioOutputNative.CreateAudioOutput(), "create");
            Open(1, 1000, 1);
            var block = new float[5000];
            Check.True(ZVAudioOutputNative.OnUnityAudio(block, block.Length), "oversized block");
            ZVAudioOutputStats stats = NativeState.Stats();
            Check.True(stats.samplesDropped >= 4000, "at least the cut part dropped: " + stats.samplesDropped);
            Check.True(stats.queuedSamples <= 1000, "no more waiting than the ring holds");

            for (int i = 0; i < 200; ++i)
            {
                ZVAudioOutputNative.OnUnityAudio(block, 700);
                NativeState.CheckBalanced(NativeState.Stats(), "in snapshot " + i);
            }
        }

        [Test]
        public static void ReopeningWithAnotherLayoutReplacesTheStream()
        {
            Check.True(ZVAudioOutputNative.CreateAudioOutput(), "create");
            Open(1, 48000, 1);
            var first = new float[64];
            for (int i = 0; i < first.Length; ++i)
                first[i] = 0.25f;
            Check.True(ZVAudioOutputNative.OnUnityAudio(first, first.Length), "mono block");
            Check.True(Playback.WaitFor(first.Length, kTimeoutMs), "mono block played");

            Open(6, 44100, 2);
            Check.Equal(6UL * 44100 * 2, NativeState.Stats().ringCapacity, "ring after re-open");
            SimDeviceStats device = SimulatedDevice.Stats();
            Check.Equal(2UL, device.streamsCreated, "streams created");
            Check.Equal(1UL, device.streamsDestroyed, "streams destroyed");

            Playback.Clear();
            var second = new float[6 * 32];
            for (int i = 0; i < second.Length; ++i)
                second[i] = (i % 6) / 8.0f;
            Check.True(ZVAudioOutputNative.OnUnityAudio(second, second.Length), "5.1 block");
            Check.True(Playback.WaitFor(second.Length, kTimeoutMs), "5.1 block played");
            short[] played = Playback.Snapshot();
            for (int i = 0; i < second.Length; ++i)
                Check.Equal((short)(int)(second[i] * 32767.0f), played[i], "5.1 sample " + i);
            NativeState.CheckBalanced(NativeState.Stats(), "after re-open");
        }

        [Test]
        public static void CreateDestroyCyclesLeaveNothingBehind()
        {
            var block = new float[512];
            for (int cycle = 0; cycle < 40; ++cycle)
            {
                Check.True(ZVAudioOutputNative.CreateAudioOutput(), "create in cycle " + cycle);
                Open(2, 48000, 1);
                Check.True(ZVAudioOutputNative.OnUnityAudio(block, block.Length), "block in cycle " + cycle);
                Check.Equal(512UL, NativeState.Stats().samplesQueued, "counters start afresh, cycle " + cycle);
                Check.True(ZVAudioOutputNative.DestroyAudioOutput(), "destroy in cycle " + cycle);
            }
            Check.False(ZVAudioOutputNative.DestroyAudioOutput(), "destroy after the cycles");
            SimDeviceStats device = SimulatedDevice.Stats();
            Check.Equal(40UL, device.streamsCreated, "streams created");
            Check.Equal(40UL, device.streamsDestroyed, "streams destroyed");
        }
    }
}
