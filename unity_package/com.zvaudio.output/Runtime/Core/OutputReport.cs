namespace ZVAudio.Output
{
    // The native counters as a person reads them: queue depth as latency,
    // starved requests as underruns, overwritten samples as a count.
    public struct OutputReport
    {
        public double LatencyMilliseconds;      // audio waiting in the ring now
        public double RingMilliseconds;         // what the ring can hold
        public ulong Underruns;                 // platform requests that found the ring empty
        public double SilenceMilliseconds;      // silence padded into platform buffers
        public ulong OverwrittenSamples;        // queued samples lost before they were played
        public ulong SamplesWithoutStream;      // samples ignored while no stream was open
        public ulong BuffersFilled;
        public ulong LatencyTargetMilliseconds; // 0 = latency control off
        public double SmoothedDepthMilliseconds; // the depth latency control steers
        public double CorrectionPpm;            // its rate correction now

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
            report.Underruns = stats.requestsDeferred;
            report.SilenceMilliseconds = format.SamplesToMilliseconds(stats.silenceSamples);
            report.OverwrittenSamples = stats.samplesDropped;
            report.SamplesWithoutStream = stats.samplesWithoutStream;
            report.BuffersFilled = stats.buffersFilled;
            return report;
        }
    }
}
