using System;

namespace ZVAudio.Output
{
    // One native library's import settings as the Editor's plug-in importer
    // reports them; Found is false when the project holds no such file.
    public struct PluginImportSettings
    {
        public bool Found;
        public bool AnyPlatform;     // "Any Platform": every player would carry it
        public bool Editor;
        public string EditorOS;      // "Windows", "AnyOS", ...
        public string EditorCPU;     // "x86_64", "AnyCPU", ...
        public bool Windows64;       // Standalone, Windows x86_64
        public string Windows64CPU;
        public bool Preloaded;       // "Load on startup"
    }

    // Where the three DLLs must stand for the plug-in to load in the Editor and
    // the Windows player, and what to say when one does not.
    //
    // The plug-in imports the two platform DLLs by name. Windows binds such an
    // import to a module of that name already in the process, wherever it was
    // loaded from, before searching any folder (Win32 documentation, "Dynamic-
    // link library search order"). So the platform DLLs load at startup (and,
    // should they not have, the binding's preload loads them by path:
    // PlatformLibraryPreload) and the plug-in at its first call, after them.
    public static class PluginImportRules
    {
        public const string PluginFile = "ZVAudioOutput.dll";
        public const string LoaderFile = "zv_sdk_loader.dll";
        public const string LoggingFile = "zv_unity_native_logging.dll";

        public static readonly string[] PlatformFiles = { LoaderFile, LoggingFile };

        public static bool IsPlatformFile(string file)
        {
            return string.Equals(file, LoaderFile, StringComparison.OrdinalIgnoreCase) ||
                   string.Equals(file, LoggingFile, StringComparison.OrdinalIgnoreCase);
        }

        // What stands in the way with `settings` for `file` (one of the three),
        // or null when nothing does.
        public static string Problem(string file, PluginImportSettings settings)
        {
            bool platform = IsPlatformFile(file);
            if (!settings.Found)
                return platform
                           ? file + " is not in the project: copy it from the platform SDK into " +
                                 "Assets/Plugins/x86_64/, then run Tools > ZV Audio Output > Set Up Platform DLLs."
                           : file + " is not in the package: install the release tarball, which carries it.";
            if (settings.AnyPlatform)
                return file + " is set to Any Platform, so every player would carry it: it needs the Editor " +
                       "and Standalone Windows x86_64 only.";
            if (!settings.Editor || !Matches(settings.EditorOS, "Windows", "AnyOS") ||
                !Matches(settings.EditorCPU, "x86_64", "AnyCPU"))
                return file + " is not enabled for the Editor on Windows x86_64.";
            if (!settings.Windows64 || !Matches(settings.Windows64CPU, "x86_64", "AnyCPU"))
                return file + " is not enabled for Standalone Windows x86_64.";
            if (platform && !settings.Preloaded)
                return file + " is not set to Load on startup, so it may be missing when " + PluginFile +
                       " loads.";
            if (!platform && settings.Preloaded)
                return file + " is set to Load on startup: it may load before the platform DLLs and fail.";
            return null;
        }

        private static bool Matches(string value, string expected, string any)
        {
            return string.Equals(value, expected, StringComparison.OrdinalIgnoreCase) ||
                   string.Equals(value, any, StringComparison.OrdinalIgnoreCase);
        }
    }
}
