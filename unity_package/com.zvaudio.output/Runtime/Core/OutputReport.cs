namespace ZVAudio.Output
{
    // The native counters as a person reads them: queue depth as latency,
    // requests that found the ring empty as a count (requestsDeferred, as the
    // native record and the demo name it), overwritten samples as a count.
    public struct OutputReport
    {
        public double LatencyMilliseconds;      // audio waiting in the ring now
        public double RingMilliseconds;         // what the ring can hold
        public ulong RequestsDeferred;          // platform requests that found the ring empty
        public double SilenceMilliseconds;      // silence padded into platform buffers
        public ulong OverwrittenSamples;        // queued samples lost before they were played
        public ulong SamplesWithoutStream;      // samples ignored while no stream was open
        public ulong BuffersFilled;
        public ulong LatencyTargetMilliseconds; // 0 = latency control off
        public double SmoothedDepthMilliseconds; // the depth latency control steers
        public double CorrectionPpm;            // its rate correction now

        // The name RequestsDeferred had before; kept for scripts that read it.
        [System.Obsolete("Use RequestsDeferred.")]
        public ulong Underruns
        {
            get { return RequestsDeferred; }
        }

        public static OutputReport From(ZVAudioOutputStats stats, OutputFormat format)
        {
            return From(stats, new ZVAudioOutputLatencyStats(), format);
        }

        public static OutputReport From(ZVAudioOutputStats stats, ZVAudioOutputLatencyStats latency,
                                        OutputFormat format)
        {
            OutputReport report;
            report.LatencyTargetMilliseconds = latency.targetMilliseconds;
            report.SmoothedDepthMilliseconds = latency.depthMilliseconds;
            report.CorrectionPpm = latency.correctionPpm;
            report.LatencyMilliseconds = format.SamplesToMilliseconds(stats.queuedSamples);
            report.RingMilliseconds = format.SamplesToMilliseconds(stats.ringCapacity);
            report.RequestsDeferred = stats.requestsDeferred;
            report.SilenceMilliseconds = format.SamplesToMilliseconds(stats.silenceSamples);
            report.OverwrittenSamples = stats.samplesDropped;
            report.SamplesWithoutStream = stats.samplesWithoutStream;
            report.BuffersFilled = stats.buffersFilled;
            return report;
        }
    }
}
