using NUnit.Framework;

namespace ZVAudio.Output.Tests
{
    // A forwarder saved by 0.2.0 with latency control off gets the default once;
    // a 0 saved since is kept.
    [TestFixture]
    public sealed class ForwarderMigrationTests
    {
        private const int kDefault = 60;

        [Test]
        public void AnOldForwarderWithLatencyControlOffMovesToTheDefaultOnce()
        {
            var cases = new[] {
                new { Version = ForwarderMigration.kUnversioned, Target = 0, Expected = kDefault, Said = true },
                new { Version = ForwarderMigration.kUnversioned, Target = 40, Expected = 40, Said = false },
                new { Version = ForwarderMigration.kUnversioned, Target = kDefault, Expected = kDefault, Said = false },
                new { Version = ForwarderMigration.kCurrentVersion, Target = 0, Expected = 0, Said = false },
                new { Version = ForwarderMigration.kCurrentVersion, Target = 25, Expected = 25, Said = false },
            };
            foreach (var c in cases)
            {
                string what = "saved as version " + c.Version + " with " + c.Target + " ms";
                int version = c.Version;
                int target = c.Target;
                string said = ForwarderMigration.Migrate(ref version, ref target, kDefault);
                Assert.AreEqual(c.Expected, target, what + ": target");
                Assert.AreEqual(ForwarderMigration.kCurrentVersion, version, what + ": version");
                Assert.AreEqual(c.Said, said != null, what + ": said '" + said + "'");
                if (said != null)
                    StringAssert.Contains("now steers to 60 ms", said, what);

                // Loaded again (an undo, a reload of the saved scene): nothing changes.
                int before = target;
                Assert.IsNull(ForwarderMigration.Migrate(ref version, ref target, kDefault), what + ": second time");
                Assert.AreEqual(before, target, what + ": kept the second time");
            }

            // The user then switches it off: it stays off.
            int savedVersion = ForwarderMigration.kCurrentVersion;
            int off = 0;
            Assert.IsNull(ForwarderMigration.Migrate(ref savedVersion, ref off, kDefault), "0 chosen since");
            Assert.AreEqual(0, off, "stays off");
        }
    }
}
