using System;
using System.Collections.Generic;
using System.IO;
using NUnit.Framework;

namespace ZVAudio.Output.Tests
{
    // The platform DLLs' preload before binding, against a loader that records
    // what it was asked, and the one message a plug-in that cannot be bound gives.
    [TestFixture]
    public sealed class PlatformLibraryPreloadTests
    {
        private const string kData = "C:/Game/Game_Data";

        // Modules already in the process, files on disk and the standard search,
        // as the preload sees them.
        private sealed class FakeLoader : INativeLibraryLoader
        {
            public readonly Dictionary<string, string> Loaded = new Dictionary<string, string>(StringComparer.OrdinalIgnoreCase);
            public readonly HashSet<string> Files = new HashSet<string>();
            public readonly Dictionary<string, int> Refusals = new Dictionary<string, int>();
            public readonly Dictionary<string, string> OnSearchPath = new Dictionary<string, string>();
            public readonly List<string> Calls = new List<string>();

            public string LoadedPath(string fileName)
            {
                string path;
                return Loaded.TryGetValue(fileName, out path) ? path : null;
            }

            public int LoadFrom(string fullPath)
            {
                Calls.Add("path " + fullPath);
                int error;
                if (Refusals.TryGetValue(fullPath, out error))
                    return error;
                Loaded[Path.GetFileName(fullPath)] = fullPath;
                return 0;
            }

            public int LoadFromSearchPath(string fileName)
            {
                Calls.Add("search " + fileName);
                string path;
                if (!OnSearchPath.TryGetValue(fileName, out path))
                    return 126;
                Loaded[fileName] = path;
                return 0;
            }

            public PlatformLibraryPreload Preload()
            {
                return new PlatformLibraryPreload(this, file => PlatformLibraryPreload.PlayerCandidates(kData, file),
                                                  Files.Contains);
            }
        }

        private static string InPlugins(string folder, string file)
        {
            return Path.Combine(folder.Length == 0 ? Path.Combine(kData, "Plugins")
                                                   : Path.Combine(Path.Combine(kData, "Plugins"), folder),
                                file);
        }

        [Test]
        public void LoadsTheLoggingLibraryFirstFromWhereThePlayerKeepsPlugIns()
        {
            var loader = new FakeLoader();
            string logging = InPlugins("x86_64", PluginImportRules.LoggingFile);
            string audio = InPlugins("", PluginImportRules.LoaderFile); // an AnyCPU plug-in of an older engine
            loader.Files.Add(logging);
            loader.Files.Add(audio);

            PlatformLibraryPreload.Report report = loader.Preload().Run();
            Assert.AreEqual("path " + logging + " | path " + audio, string.Join(" | ", loader.Calls.ToArray()),
                            "loads by full path, logging first");
            Assert.AreEqual(PlatformLibraryPreload.Outcome.Loaded, report.Entries[1].Outcome, "audio service");
            Assert.AreEqual(audio, report.Entries[1].Path, "loaded from");
            Assert.IsNull(report.Problems, "nothing missing");
        }

        [Test]
        public void LeavesLoadedDllsAloneAndAcceptsTheSearchPath()
        {
            var loader = new FakeLoader();
            loader.Loaded[PluginImportRules.LoggingFile] = "C:/Editor/zv_unity_native_logging.dll"; // Load on startup
            loader.OnSearchPath[PluginImportRules.LoaderFile] = "C:/Platform/bin/zv_sdk_loader.dll";

            PlatformLibraryPreload.Report report = loader.Preload().Run();
            Assert.AreEqual("search zv_sdk_loader.dll", string.Join(" | ", loader.Calls.ToArray()),
                            "only the missing one is loaded, by name once no candidate exists");
            Assert.AreEqual(PlatformLibraryPreload.Outcome.AlreadyLoaded, report.Entries[0].Outcome, "preloaded one");
            Assert.AreEqual(PlatformLibraryPreload.Outcome.FromSearchPath, report.Entries[1].Outcome, "found on PATH");
            Assert.AreEqual("C:/Platform/bin/zv_sdk_loader.dll", report.Entries[1].Path, "where from");
            Assert.IsNull(report.Problems, "nothing missing");
        }

        [Test]
        public void NamesAMissingDllWithWhereItWasLookedFor()
        {
            var loader = new FakeLoader();
            string logging = InPlugins("x86_64", PluginImportRules.LoggingFile);
            string wrongKind = InPlugins("x86_64", PluginImportRules.LoaderFile);
            loader.Files.Add(logging);
            loader.Files.Add(wrongKind);
            loader.Refusals[wrongKind] = 193; // ERROR_BAD_EXE_FORMAT: a 32-bit copy

            string problems = loader.Preload().Run().Problems;
            Assert.IsNotNull(problems, "a problem is reported");
            StringAssert.Contains("zv_sdk_loader.dll was not found (looked for " + wrongKind + ", " +
                                      InPlugins("", PluginImportRules.LoaderFile) + ", then on the DLL search path)",
                                  problems, "names the DLL and every place");
            StringAssert.Contains("failed to load from " + wrongKind + " (error 193)", problems, "and the refusal");
            Assert.IsFalse(problems.Contains(PluginImportRules.LoggingFile), "the one loaded is not named");
        }

        [Test]
        public void BindFailureNamesTheMissingPlatformDll()
        {
            var missing = new FakeLoader();
            var log = new RecordingLog();
            var controller = new ForwarderController(
                log, new AudioForwarder(() => ZVAudioOutputNative.Bind(
                                            missing.Preload(),
                                            () => { throw new DllNotFoundException("Unable to load DLL 'ZVAudioOutput'"); })));
            controller.Open(new EngineAudio(48000, SpeakerLayout.Stereo, 256));
            log.Expect("plug-in not bound",
                       "error: could not be loaded (Unable to load DLL 'ZVAudioOutput' zv_unity_native_logging.dll " +
                           "was not found (looked for " + InPlugins("x86_64", PluginImportRules.LoggingFile));
            StringAssert.Contains("zv_sdk_loader.dll was not found", controller.Forwarder.Problem, "both named");
            Assert.AreEqual(AudioForwarder.OpenResult.PluginMissing, controller.Forwarder.Status, "status");
            Assert.IsTrue(controller.GaveUp, "gives up");

            // With the platform DLLs in place the runtime's words stand alone.
            var present = new FakeLoader();
            present.Files.Add(InPlugins("x86_64", PluginImportRules.LoggingFile));
            present.Files.Add(InPlugins("x86_64", PluginImportRules.LoaderFile));
            var forwarder = new AudioForwarder(() => ZVAudioOutputNative.Bind(
                                                   present.Preload(),
                                                   () => { throw new DllNotFoundException("Unable to load DLL 'ZVAudioOutput'"); }));
            Assert.AreEqual(AudioForwarder.OpenResult.PluginMissing, forwarder.Open(new OutputFormat(48000, 2, 256, 1)),
                            "plug-in itself missing");
            Assert.AreEqual("Unable to load DLL 'ZVAudioOutput'", forwarder.Problem, "nothing added");
        }
    }
}
