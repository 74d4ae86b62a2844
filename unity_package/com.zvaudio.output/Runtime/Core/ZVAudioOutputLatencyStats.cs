using System.Runtime.InteropServices;

namespace ZVAudio.Output
{
    // Latency control of the native instance, laid out exactly as the native
    // record: eight 8-byte fields, no padding, 64 bytes. Counters run since the
    // instance was created.
    [StructLayout(LayoutKind.Sequential)]
    public struct ZVAudioOutputLatencyStats
    {
        public ulong targetMilliseconds; // as set; 0 = latency control off
        public ulong targetSamples;      // depth steered to: the target raised to what the cadence needs; 0 when off or without a stream
        public double depthMilliseconds; // smoothed depth of the ring's queue
        public double correctionPpm;     // rate correction now applied; > 0 adds samples
        public ulong hostSamples;        // host samples taken in while control was on
        public ulong ringSamples;        // samples handed to the ring for them
        public ulong samplesRemoved;     // removed at once when far above the target
        public ulong samplesInserted;    // added at once to bring the depth up to the target
    }
}
