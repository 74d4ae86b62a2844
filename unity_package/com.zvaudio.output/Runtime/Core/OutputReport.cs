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
        public bool HasRingLimits;              // the library reported the ring's limits (a newer one)
        public bool LimitedByRing;              // the cadence needs more than the ring allows
        public double NeededMilliseconds;       // what the cadence needs
        public double RingAllowsMilliseconds;   // the deepest the ring allows
        public ulong FittingBufferSeconds;      // buffer seconds that would hold what the cadence needs

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
            return From(stats, latency, new ZVAudioOutputLatencyLimits(), format);
        }

        // `limits` is all zeros when the library is older than the record.
        public static OutputReport From(ZVAudioOutputStats stats, ZVAudioOutputLatencyStats latency,
                                        ZVAudioOutputLatencyLimits limits, OutputFormat format)
        {
            OutputReport report;
            report.HasRingLimits = limits.neededSamples > 0;
            report.LimitedByRing = limits.limitedByRing != 0;
            report.NeededMilliseconds = limits.neededMilliseconds;
            report.RingAllowsMilliseconds = limits.limitMilliseconds;
            report.FittingBufferSeconds = limits.fittingRingSeconds;
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
