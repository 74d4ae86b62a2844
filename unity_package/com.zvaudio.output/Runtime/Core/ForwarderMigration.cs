namespace ZVAudio.Output
{
    // Brings a forwarder's saved fields up to this package's layout. The
    // component keeps the layout's version among its saved fields; one saved
    // before 0.3.0 has none, and reads as kUnversioned.
    public static class ForwarderMigration
    {
        // Saved by 0.1.0 or 0.2.0.
        public const int kUnversioned = 0;
        // Since 0.3.0: latency control on by default.
        public const int kCurrentVersion = 1;

        // Migrates the fields in place and says what changed, or returns null.
        // 0.2.0 saved a latency target of 0 (off) with every forwarder, so one of
        // those gets the default once; from then on, 0 is the user's choice and
        // stays. (0.1.0 saved no target; the field's default already applies.)
        public static string Migrate(ref int formatVersion, ref int latencyTargetMilliseconds, int defaultTarget)
        {
            if (formatVersion >= kCurrentVersion)
                return null;
            formatVersion = kCurrentVersion;
            if (latencyTargetMilliseconds != 0)
                return null;
            latencyTargetMilliseconds = defaultTarget;
            return "ZV Audio Output: this forwarder was saved by a package older than 0.3.0, with latency " +
                   "control off (0 ms); it now steers to " + defaultTarget + " ms, the default since 0.3.0, so " +
                   "that clock drift cannot fill the ring. Set Latency target to 0 to switch it off again, and " +
                   "save the scene or prefab to keep the change.";
        }
    }
}
