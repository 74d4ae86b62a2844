using System;
using System.Collections.Generic;
using System.IO;

namespace ZVAudio.Output.Editor
{
    // Judges the three DLLs from their files alone, so that the inspector never
    // loads one in edit mode (which would lock it until the Editor quits): each
    // must be an x86-64 image, the plug-in must export what the package calls,
    // and each platform DLL what the plug-in imports from it.
    public static class PluginFileCheck
    {
        // The exports the package's scripts call (ZVAudioOutputNative).
        public static readonly string[] ScriptExports = {
            "CreateAudioOutput", "CreateOutputBuffer", "DestroyAudioOutput", "OnUnityAudio",
            "GetAudioOutputStats", "SetAudioOutputLatencyTarget", "GetAudioOutputLatencyStats"
        };

        // What stands in the way of the plug-in at `pluginPath` and the platform
        // DLLs at `platformPaths` (file name to path; a missing entry is not
        // judged), one line each; empty when nothing does.
        public static List<string> Problems(string pluginPath, IDictionary<string, string> platformPaths)
        {
            var problems = new List<string>();
            string problem;
            PortableExecutableFile plugin = Open(PluginImportRules.PluginFile, pluginPath, out problem);
            if (plugin == null)
                problems.Add(problem);
            else if ((problem = Lacking(PluginImportRules.PluginFile, plugin, ScriptExports,
                                        "is from an older release than this package")) != null)
                problems.Add(problem);
            foreach (KeyValuePair<string, string> platform in platformPaths)
            {
                PortableExecutableFile dll = Open(platform.Key, platform.Value, out problem);
                if (dll == null)
                {
                    problems.Add(problem);
                    continue;
                }
                List<string> imported;
                if (plugin != null && plugin.Imports.TryGetValue(platform.Key, out imported) &&
                    (problem = Lacking(platform.Key, dll, imported, "does not match the plug-in")) != null)
                    problems.Add(problem);
            }
            return problems;
        }

        // The first folder of `searchPath` (PATH's value) that holds `file`, or null.
        public static string FindOnSearchPath(string file, string searchPath)
        {
            if (string.IsNullOrEmpty(searchPath))
                return null;
            foreach (string folder in searchPath.Split(Path.PathSeparator))
            {
                string trimmed = folder.Trim().Trim('"');
                if (trimmed.Length == 0)
                    continue;
                try
                {
                    string candidate = Path.Combine(trimmed, file);
                    if (File.Exists(candidate))
                        return candidate;
                }
                catch (ArgumentException)
                {
                    // A PATH entry with characters no path may hold.
                }
            }
            return null;
        }

        private static PortableExecutableFile Open(string file, string path, out string problem)
        {
            problem = null;
            byte[] bytes;
            try
            {
                bytes = File.ReadAllBytes(path);
            }
            catch (Exception e)
            {
                problem = file + " cannot be read at " + path + " (" + e.GetType().Name + ": " + e.Message + ").";
                return null;
            }
            string why;
            PortableExecutableFile image = PortableExecutableFile.Read(bytes, out why);
            if (image == null)
            {
                problem = file + " at " + path + " is " + why + ".";
                return null;
            }
            if (image.Machine != PortableExecutableFile.kMachineAmd64)
            {
                problem = file + " at " + path + " is built for " +
                          (image.Machine == PortableExecutableFile.kMachineI386 ? "32-bit x86"
                                                                               : "machine 0x" + image.Machine.ToString("x4")) +
                          ", not x86-64: replace it with the 64-bit one.";
                return null;
            }
            return image;
        }

        private static string Lacking(string file, PortableExecutableFile image, IList<string> names, string meaning)
        {
            var exported = new HashSet<string>(image.Exports, StringComparer.Ordinal);
            var missing = new List<string>();
            foreach (string name in names)
            {
                if (!exported.Contains(name))
                    missing.Add(name);
            }
            return missing.Count == 0 ? null
                                      : file + " " + meaning + ": it does not export " +
                                            string.Join(", ", missing.ToArray()) + ".";
        }
    }
}
