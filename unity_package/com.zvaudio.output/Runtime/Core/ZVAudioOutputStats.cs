using System.Runtime.InteropServices;

namespace ZVAudio.Output
{
    // Counters of the native instance since it was created, laid out exactly as
    // the native record: nine 64-bit fields, no padding, 72 bytes.
    // Always: samplesQueued == samplesDelivered + samplesDropped + queuedSamples.
    [StructLayout(LayoutKind.Sequential)]
    public struct ZVAudioOutputStats
    {
        public ulong samplesQueued;        // samples of blocks handed to a ring
        public ulong samplesDropped;       // queued samples that left a ring unplayed
        public ulong samplesDelivered;     // queued samples written into platform buffers
        public ulong silenceSamples;       // zero samples padded into platform buffers
        public ulong buffersFilled;        // platform buffers filled and handed back
        public ulong requestsDeferred;     // platform requests that found the ring empty
        public ulong queuedSamples;        // samples waiting in the ring now
        public ulong ringCapacity;         // capacity of the current ring; 0 with no stream
        public ulong samplesWithoutStream; // samples ignored because no stream existed
    }
}
