using System;
using System.Collections.Generic;
using System.IO;
using System.Text;
using UnityEditor;
using UnityEngine;

namespace ZVAudio.Output.Editor
{
    // Finds the three DLLs among the project's plug-ins, says which one is
    // missing or mis-set, and sets the two platform DLLs to what the plug-in
    // needs: Editor and Standalone, Windows x86_64, loaded on startup.
    // PluginImporter (scripting reference): GetAllImporters, isPreloaded,
    // SetCompatibleWithAnyPlatform, SetCompatibleWithEditor, SetEditorData,
    // SetCompatibleWithPlatform, SetPlatformData, SaveAndReimport.
    public static class ZVAudioOutputPluginSetup
    {
        public const string MenuPath = "Tools/ZV Audio Output/Set Up Platform DLLs";

        // Standalone players other than Windows x86-64, switched off.
        private static readonly BuildTarget[] otherPlayers = {
            BuildTarget.StandaloneWindows, BuildTarget.StandaloneLinux64, BuildTarget.StandaloneOSX
        };

        private static List<string> problems;
        private static List<string> notes;

        // What stands in the way, one line per DLL, empty when nothing does: the
        // import settings, then what the files themselves say (read, never
        // loaded: PluginFileCheck). Cached until the project changes, play mode
        // is entered or SetUp runs.
        public static List<string> Problems
        {
            get
            {
                Check();
                return problems;
            }
        }

        // What works but may not where the game ships: a platform DLL that the
        // project lacks but Windows finds on PATH.
        public static List<string> Notes
        {
            get
            {
                Check();
                return notes;
            }
        }

        private static void Check()
        {
            if (problems != null)
                return;
            problems = new List<string>();
            notes = new List<string>();
            string plugin = null;
            var platform = new Dictionary<string, string>();
            foreach (string file in AllFiles())
            {
                List<PluginImporter> found = Find(file);
                string onPath = found.Count == 0 && PluginImportRules.IsPlatformFile(file)
                                    ? PluginFileCheck.FindOnSearchPath(file, Environment.GetEnvironmentVariable("PATH"))
                                    : null;
                if (onPath != null)
                {
                    notes.Add(file + " is not in the project, but Windows finds it on PATH (" + onPath + "), " +
                              "so the Editor and a player started on this machine load it from there. A player " +
                              "on another machine finds it only if its PATH holds it too: to ship it with the " +
                              "game, copy it into Assets/Plugins/x86_64/ and run " + MenuPath.Replace("/", " > ") +
                              ".");
                    platform[file] = onPath;
                    continue;
                }
                string problem = found.Count > 1
                                     ? file + " is in the project " + found.Count + " times (" + Paths(found) +
                                           "); keep one."
                                     : PluginImportRules.Problem(file, Read(found));
                if (problem != null)
                    problems.Add(problem);
                if (found.Count == 1 && PluginImportRules.IsPlatformFile(file))
                    platform[file] = Path.GetFullPath(found[0].assetPath);
                else if (found.Count == 1)
                    plugin = Path.GetFullPath(found[0].assetPath);
            }
            if (plugin != null)
                problems.AddRange(PluginFileCheck.Problems(plugin, platform));
        }

        [InitializeOnLoadMethod]
        private static void Subscribe()
        {
            EditorApplication.projectChanged += Forget;
            EditorApplication.playModeStateChanged += OnPlayModeStateChanged;
        }

        // With domain reload off the Editor keeps every static field into play
        // mode (engine manual, "Domain Reloading"); ExitingEditMode comes first.
        private static void OnPlayModeStateChanged(PlayModeStateChange change)
        {
            if (change == PlayModeStateChange.ExitingEditMode)
                Forget();
        }

        public static void Forget()
        {
            problems = null;
            notes = null;
        }

        [MenuItem(MenuPath)]
        private static void SetUpFromMenu()
        {
            string report = SetUp();
            Debug.Log(report);
            EditorUtility.DisplayDialog("ZV Audio Output", report, "OK");
        }

        // Sets the import settings of every copy of the two platform DLLs that
        // needs it and says what it found and changed.
        public static string SetUp()
        {
            var report = new StringBuilder("ZV Audio Output: platform DLLs\n");
            bool changed = false;
            foreach (string file in PluginImportRules.PlatformFiles)
            {
                List<PluginImporter> found = Find(file);
                if (found.Count == 0)
                    report.Append("- ").Append(PluginImportRules.Problem(file, Read(found))).Append('\n');
                foreach (PluginImporter importer in found)
                {
                    string problem = PluginImportRules.Problem(file, Read(importer));
                    if (problem == null)
                    {
                        report.Append("- ").Append(importer.assetPath).Append(": already set.\n");
                        continue;
                    }
                    Apply(importer);
                    changed = true;
                    report.Append("- ").Append(importer.assetPath).Append(": set to Editor and Standalone, " +
                                                                          "Windows x86_64, Load on startup (")
                        .Append(problem).Append(")\n");
                }
            }
            string plugin = PluginImportRules.Problem(PluginImportRules.PluginFile,
                                                      Read(Find(PluginImportRules.PluginFile)));
            report.Append("- ").Append(plugin ?? PluginImportRules.PluginFile + ": as the package sets it.")
                .Append('\n');
            if (changed)
                report.Append("Restart the Editor: it loads plug-ins marked Load on startup when it starts.");
            Forget();
            return report.ToString();
        }

        private static void Apply(PluginImporter importer)
        {
            importer.SetCompatibleWithAnyPlatform(false);
            importer.SetCompatibleWithEditor(true);
            importer.SetEditorData("OS", "Windows");
            importer.SetEditorData("CPU", "x86_64");
            foreach (BuildTarget player in otherPlayers)
                importer.SetCompatibleWithPlatform(player, false);
            importer.SetCompatibleWithPlatform(BuildTarget.StandaloneWindows64, true);
            importer.SetPlatformData(BuildTarget.StandaloneWindows64, "CPU", "x86_64");
            importer.isPreloaded = true;
            importer.SaveAndReimport();
        }

        private static PluginImportSettings Read(List<PluginImporter> found)
        {
            return found.Count == 0 ? new PluginImportSettings() : Read(found[0]);
        }

        private static PluginImportSettings Read(PluginImporter importer)
        {
            return new PluginImportSettings {
                Found = true,
                AnyPlatform = importer.GetCompatibleWithAnyPlatform(),
                Editor = importer.GetCompatibleWithEditor(),
                EditorOS = importer.GetEditorData("OS"),
                EditorCPU = importer.GetEditorData("CPU"),
                Windows64 = importer.GetCompatibleWithPlatform(BuildTarget.StandaloneWindows64),
                Windows64CPU = importer.GetPlatformData(BuildTarget.StandaloneWindows64, "CPU"),
                Preloaded = importer.isPreloaded
            };
        }

        private static List<PluginImporter> Find(string file)
        {
            var found = new List<PluginImporter>();
            foreach (PluginImporter importer in PluginImporter.GetAllImporters())
            {
                if (string.Equals(Path.GetFileName(importer.assetPath), file, StringComparison.OrdinalIgnoreCase))
                    found.Add(importer);
            }
            return found;
        }

        private static IEnumerable<string> AllFiles()
        {
            yield return PluginImportRules.PluginFile;
            foreach (string file in PluginImportRules.PlatformFiles)
                yield return file;
        }

        private static string Paths(List<PluginImporter> importers)
        {
            var paths = new string[importers.Count];
            for (int i = 0; i < paths.Length; ++i)
                paths[i] = importers[i].assetPath;
            return string.Join(", ", paths);
        }
    }
}
