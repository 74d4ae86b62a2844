using NUnit.Framework;

namespace ZVAudio.Output.Tests
{
    // What the inspector and the setup command say about the three DLLs' import settings.
    [TestFixture]
    public sealed class PluginImportRulesTests
    {
        [Test]
        public void ImportSettingsNameTheDllThatIsMissingOrMisSet()
        {
            var good = new PluginImportSettings {
                Found = true, Editor = true, EditorOS = "Windows", EditorCPU = "x86_64",
                Windows64 = true, Windows64CPU = "x86_64", Preloaded = true
            };
            string loader = PluginImportRules.LoaderFile;
            string plugin = PluginImportRules.PluginFile;
            var absent = new PluginImportSettings();
            var any = good; any.AnyPlatform = true;
            var noEditor = good; noEditor.EditorOS = "OSX";
            var noPlayer = good; noPlayer.Windows64CPU = "None";
            var onDemand = good; onDemand.Preloaded = false;
            var cases = new[] {
                new { File = loader, Settings = good, Said = (string)null },
                new { File = plugin, Settings = onDemand, Said = (string)null },
                new { File = loader, Settings = absent, Said = "zv_sdk_loader.dll is not in the project" },
                new { File = plugin, Settings = absent, Said = "ZVAudioOutput.dll is not in the package" },
                new { File = loader, Settings = any, Said = "zv_sdk_loader.dll is set to Any Platform" },
                new { File = loader, Settings = noEditor, Said = "not enabled for the Editor" },
                new { File = loader, Settings = noPlayer, Said = "not enabled for Standalone" },
                new { File = PluginImportRules.LoggingFile, Settings = onDemand,
                      Said = "zv_unity_native_logging.dll is not set to Load on startup" },
                new { File = plugin, Settings = good, Said = "ZVAudioOutput.dll is set to Load on startup" },
            };
            foreach (var c in cases)
            {
                string said = PluginImportRules.Problem(c.File, c.Settings);
                if (c.Said == null)
                    Assert.IsTrue(said == null, c.File + " said '" + said + "'");
                else
                    Assert.IsTrue(said != null && said.StartsWith(c.File) && said.Contains(c.Said),
                               c.File + ": expected '" + c.Said + "', said '" + said + "'");
            }
        }
    }
}
