using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;
using System.Threading;

namespace ZVAudio.Output.Tests
{
    [StructLayout(LayoutKind.Sequential)]
    public struct SimDeviceStats
    {
        public ulong streamsCreated;
        public ulong streamsDestroyed;
        public ulong requestsIssued;
        public ulong buffersFetched;
        public ulong fetchesNotReady;
        public ulong buffersPlayed;
        public ulong samplesPlayed;
        public ulong silentSamples;
        public ulong starvedPeriods;
        public ulong clockPeriods;
    }

    // Control interface of the simulated device, which the plug-in loads as its
    // platform library; the process shares one copy of it with the plug-in.
    public static class SimulatedDevice
    {
        private const string Library = "zv_sdk_loader";

        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        public delegate void PlaybackTap(ulong handle, IntPtr samples, uint count, IntPtr context);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern void ZVSimGetDeviceStats(out SimDeviceStats stats);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern void ZVSimResetDeviceStats();

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern void ZVSimSetSpeedFactor(double factor);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern void ZVSimSetPlaybackTap(PlaybackTap tap, IntPtr context);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern void ZVSimClearFailures();

        // The next `count` calls of `call` fail with `result`.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern void ZVSimInjectFailure(int call, int result, uint count);

        public const int kCallCreateSoundWithBufferedOutput = 1;
        public const int kInjectedFailure = unchecked((int)0x9E1100FFu);

        public static SimDeviceStats Stats()
        {
            SimDeviceStats stats;
            ZVSimGetDeviceStats(out stats);
            return stats;
        }
    }

    // Keeps every sample the device played since the last Clear, in order.
    public static class Playback
    {
        private static readonly object gate = new object();
        private static readonly SimulatedDevice.PlaybackTap tap = OnPlayed; // kept alive
        private static short[] samples = new short[1 << 20];
        private static int count;
        private static int buffers;
        private static bool installed;

        public static void Install()
        {
            if (!installed)
                SimulatedDevice.ZVSimSetPlaybackTap(tap, IntPtr.Zero);
            installed = true;
        }

        public static void Uninstall()
        {
            if (installed)
                SimulatedDevice.ZVSimSetPlaybackTap(null, IntPtr.Zero);
            installed = false;
        }

        public static void Clear()
        {
            lock (gate)
            {
                count = 0;
                buffers = 0;
            }
        }

        public static int Buffers
        {
            get { lock (gate) return buffers; }
        }

        public static short[] Snapshot()
        {
            lock (gate)
            {
                var copy = new short[count];
                Array.Copy(samples, copy, count);
                return copy;
            }
        }

        // Waits until at least `wanted` samples were played; false after the timeout.
        public static bool WaitFor(int wanted, int timeoutMilliseconds)
        {
            return Wait.Until(() => { lock (gate) return count >= wanted; }, timeoutMilliseconds);
        }

        private static void OnPlayed(ulong handle, IntPtr data, uint played, IntPtr context)
        {
            lock (gate)
            {
                int n = (int)Math.Min(played, (uint)(samples.Length - count));
                Marshal.Copy(data, samples, count, n);
                count += n;
                ++buffers;
            }
        }
    }

    public static class Wait
    {
        public static bool Until(Func<bool> condition, int timeoutMilliseconds)
        {
            DateTime deadline = DateTime.UtcNow.AddMilliseconds(timeoutMilliseconds);
            while (!condition())
            {
                if (DateTime.UtcNow > deadline)
                    return false;
                Thread.Sleep(2);
            }
            return true;
        }
    }

    // Brings the plug-in and the device back to a known state between tests.
    public static class NativeState
    {
        public static void Reset()
        {
            ZVAudioOutputNative.DestroyAudioOutput();
            SimulatedDevice.ZVSimClearFailures();
            SimulatedDevice.ZVSimSetSpeedFactor(20.0);
            SimulatedDevice.ZVSimResetDeviceStats();
            Playback.Install();
            Playback.Clear();
        }

        public static void Shutdown()
        {
            ZVAudioOutputNative.DestroyAudioOutput();
            Playback.Uninstall();
        }

        public static ZVAudioOutputStats Stats()
        {
            ZVAudioOutputStats stats;
            Check.True(ZVAudioOutputNative.GetAudioOutputStats(out stats),
                       "GetAudioOutputStats with an instance");
            return stats;
        }

        public static void CheckBalanced(ZVAudioOutputStats s, string when)
        {
            Check.Equal(s.samplesQueued, s.samplesDelivered + s.samplesDropped + s.queuedSamples,
                        "queued == delivered + dropped + waiting " + when);
        }
    }
}
