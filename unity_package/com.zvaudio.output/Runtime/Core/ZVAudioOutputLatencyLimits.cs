using System.Runtime.InteropServices;

namespace ZVAudio.Output
{
    // Whether the ring limits latency control, laid out exactly as the native
    // record: nine 8-byte fields, no padding, 72 bytes. A newer library may have
    // a longer record; it fills only as much as this one holds, and recordSize
    // says how long its own is. All but recordSize are 0 while control is off or
    // no stream is open.
    [StructLayout(LayoutKind.Sequential)]
    public struct ZVAudioOutputLatencyLimits
    {
        public ulong recordSize;         // bytes of the record as the library knows it
        public ulong limitedByRing;      // 1 when the cadence needs more than the ring allows
        public ulong neededSamples;      // depth the cadence needs, margin included, whatever the ring holds
        public ulong limitSamples;       // largest depth the ring allows, with a block and a device buffer to spare
        public double neededMilliseconds;
        public double limitMilliseconds;
        public ulong ringSamples;        // capacity of the current ring
        public ulong fittingRingSamples; // smallest ring that holds what the cadence needs
        public ulong fittingRingSeconds; // the same in whole seconds, as the buffer seconds setting takes them
    }
}
