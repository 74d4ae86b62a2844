using System;
using System.Collections.Generic;
using System.IO;
using System.Text;

namespace ZVAudio.Output
{
    // Loads zv_unity_native_logging.dll and zv_sdk_loader.dll by full path before
    // anything calls into ZVAudioOutput.dll.
    //
    // Both of the engine's runtimes load a plug-in with a plain LoadLibraryW of
    // its path (libil2cpp os/Win32/LibraryLoader.cpp, LoadDynamicLibraryImpl;
    // Mono mono/utils/mono-dl-windows.c, mono_dl_open_file). For the DLLs that
    // plug-in imports, Windows then searches the application's folder, the
    // system folders, the current folder and PATH, not the plug-in's own folder
    // (Win32 documentation, "Dynamic-link library search order"), so platform
    // DLLs beside the plug-in are not found by themselves. An import whose name
    // is already loaded binds to that module wherever it came from, which is
    // what this preload provides. Each DLL is loaded with
    // LOAD_WITH_ALTERED_SEARCH_PATH (LoadLibraryExW), so that its own
    // dependencies are found beside it.
    public sealed class PlatformLibraryPreload
    {
        // The logging library first: should the audio service import it, that
        // import then binds to the module already loaded, wherever it sits.
        public static readonly string[] LoadOrder = { PluginImportRules.LoggingFile, PluginImportRules.LoaderFile };

        private readonly INativeLibraryLoader loader;
        private readonly Func<string, IList<string>> candidates;
        private readonly Func<string, bool> fileExists;

        // `candidates` names, for a DLL's file name, the full paths where the
        // project may hold it, in the order to try them.
        public PlatformLibraryPreload(INativeLibraryLoader loader, Func<string, IList<string>> candidates,
                                      Func<string, bool> fileExists)
        {
            this.loader = loader;
            this.candidates = candidates;
            this.fileExists = fileExists;
        }

        // Where the engine puts a Windows player's x86-64 plug-ins, below its data
        // folder (Application.dataPath, "<Game>_Data"): Plugins/x86_64/ since
        // 2019.3, which covers every engine version the package supports, and
        // Plugins/ itself for a plug-in set to AnyCPU before that (engine C#
        // reference source, Editor/Mono/ImportSettings/DesktopPluginImporterExtension.cs,
        // CalculateFinalPluginPath).
        public static IList<string> PlayerCandidates(string dataPath, string fileName)
        {
            return new[] { Path.Combine(Path.Combine(Path.Combine(dataPath, "Plugins"), "x86_64"), fileName),
                           Path.Combine(Path.Combine(dataPath, "Plugins"), fileName) };
        }

        // Loads each platform DLL that is not loaded yet, from the first candidate
        // that loads, else through the standard search. Never throws for a DLL
        // that cannot be found or loaded: the report says which and where.
        public Report Run()
        {
            var report = new Report();
            foreach (string file in LoadOrder)
                report.Entries.Add(Preload(file));
            return report;
        }

        private Entry Preload(string file)
        {
            var entry = new Entry { File = file };
            string loaded = loader.LoadedPath(file);
            if (loaded != null)
            {
                entry.Outcome = Outcome.AlreadyLoaded;
                entry.Path = loaded;
                return entry;
            }
            foreach (string path in candidates(file) ?? new string[0])
            {
                entry.LookedIn.Add(path);
                if (!fileExists(path))
                    continue;
                int error = loader.LoadFrom(path);
                if (error == 0)
                {
                    entry.Outcome = Outcome.Loaded;
                    entry.Path = path;
                    return entry;
                }
                entry.Failures.Add(path + " (error " + error + ")");
            }
            if (loader.LoadFromSearchPath(file) == 0)
            {
                entry.Outcome = Outcome.FromSearchPath;
                entry.Path = loader.LoadedPath(file);
                return entry;
            }
            entry.Outcome = Outcome.NotFound;
            return entry;
        }

        public enum Outcome
        {
            // In the process before the preload (in the Editor: Load on startup); left alone.
            AlreadyLoaded,
            // Loaded from one of the candidates.
            Loaded,
            // Found by the standard search (the application's folder, the system
            // folders, the current folder or PATH).
            FromSearchPath,
            // Neither a candidate nor the standard search could load it.
            NotFound
        }

        public sealed class Entry
        {
            public string File;
            public Outcome Outcome;
            // Where the module loaded from, null when it did not.
            public string Path;
            public readonly List<string> LookedIn = new List<string>();
            // Candidates that exist but failed to load, with the Win32 error.
            public readonly List<string> Failures = new List<string>();
        }

        public sealed class Report
        {
            public readonly List<Entry> Entries = new List<Entry>();

            // One sentence per DLL that is not loaded, or null when both are.
            public string Problems
            {
                get
                {
                    var text = new StringBuilder();
                    foreach (Entry entry in Entries)
                    {
                        if (entry.Outcome != Outcome.NotFound)
                            continue;
                        if (text.Length > 0)
                            text.Append(' ');
                        text.Append(entry.File).Append(" was not found (looked for ");
                        foreach (string path in entry.LookedIn)
                            text.Append(path).Append(", ");
                        text.Append("then on the DLL search path)");
                        if (entry.Failures.Count > 0)
                            text.Append("; it failed to load from ").Append(string.Join(", ", entry.Failures.ToArray()));
                        text.Append('.');
                    }
                    return text.Length == 0 ? null : text.ToString();
                }
            }
        }
    }
}
