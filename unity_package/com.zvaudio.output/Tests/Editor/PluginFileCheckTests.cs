using System;
using System.Collections.Generic;
using System.IO;
using System.Text;
using NUnit.Framework;

namespace ZVAudio.Output.Editor.Tests
{
    // The inspector's edit-mode check of the three DLLs, read from files it
    // writes: a PE32+ image with an export and an import table, and damaged or
    // foreign ones.
    [TestFixture]
    public sealed class PluginFileCheckTests
    {
        // A minimal DLL image: headers, one section at RVA 0x1000 holding the
        // export table, the import table and their names.
        private static byte[] Image(ushort machine, string[] exports, string importedDll, string[] imports)
        {
            const int kSection = 0x200, kRva = 0x1000;
            var data = new List<byte>();
            Func<int> here = () => kRva + data.Count;
            Action<uint> u32 = v => data.AddRange(BitConverter.GetBytes(v));
            Action<ulong> u64 = v => data.AddRange(BitConverter.GetBytes(v));
            Func<string, int> text = s => { int at = here(); data.AddRange(Encoding.ASCII.GetBytes(s + "\0")); return at; };

            var exportNames = new List<int>();
            foreach (string name in exports)
                exportNames.Add(text(name));
            int namePointers = here();
            foreach (int name in exportNames)
                u32((uint)name);
            int exportTable = here();
            for (int i = 0; i < 6; ++i)
                u32(0);
            u32((uint)exports.Length); // NumberOfNames
            u32(0);
            u32((uint)namePointers); // AddressOfNames
            u32(0);

            var hints = new List<int>();
            foreach (string name in imports)
            {
                int at = here();
                data.Add(0);
                data.Add(0);
                text(name);
                hints.Add(at);
            }
            int dllName = text(importedDll);
            int thunks = here();
            foreach (int hint in hints)
                u64((ulong)hint);
            u64(0x8000000000000001UL); // one import by ordinal, skipped
            u64(0);
            int importTable = here();
            u32((uint)thunks);
            u32(0);
            u32(0);
            u32((uint)dllName);
            u32((uint)thunks);
            for (int i = 0; i < 5; ++i)
                u32(0);

            var image = new byte[kSection + data.Count];
            Action<int, uint> put32 = (at, v) => BitConverter.GetBytes(v).CopyTo(image, at);
            Action<int, ushort> put16 = (at, v) => BitConverter.GetBytes(v).CopyTo(image, at);
            put16(0, 0x5a4d);
            put32(0x3c, 0x40);
            put32(0x40, 0x00004550);
            put16(0x44, machine);
            put16(0x46, 1);
            put16(0x54, 240);
            const int kOptional = 0x58;
            put16(kOptional, 0x20b);
            put32(kOptional + 108, 16);
            put32(kOptional + 112, (uint)exportTable);
            put32(kOptional + 116, 40);
            put32(kOptional + 120, (uint)importTable);
            put32(kOptional + 124, 40);
            int section = kOptional + 240;
            Encoding.ASCII.GetBytes(".rdata").CopyTo(image, section);
            put32(section + 8, (uint)data.Count);
            put32(section + 12, kRva);
            put32(section + 16, (uint)data.Count);
            put32(section + 20, kSection);
            data.CopyTo(image, kSection);
            return image;
        }

        private static byte[] Plugin(params string[] exports)
        {
            return Image(PortableExecutableFile.kMachineAmd64, exports, PluginImportRules.LoaderFile,
                         new[] { "ZVAudioStartSound", "ZVAudioStopSound" });
        }

        [Test]
        public void ReadsMachineExportsAndImportsAndRefusesWhatIsNoImage()
        {
            string problem;
            PortableExecutableFile file = PortableExecutableFile.Read(Plugin("CreateAudioOutput", "OnUnityAudio"),
                                                                      out problem);
            Assert.IsNotNull(file, "a minimal image: " + problem);
            Assert.AreEqual((int)PortableExecutableFile.kMachineAmd64, (int)file.Machine, "machine");
            Assert.AreEqual("CreateAudioOutput OnUnityAudio", string.Join(" ", file.Exports.ToArray()), "exports");
            Assert.AreEqual("ZVAudioStartSound ZVAudioStopSound",
                            string.Join(" ", file.Imports[PluginImportRules.LoaderFile].ToArray()), "imports by name");

            byte[] good = Plugin("CreateAudioOutput");
            var cases = new[] {
                new { Bytes = new byte[0], Said = "no PE signature" },
                new { Bytes = Encoding.ASCII.GetBytes("#!/bin/sh\n"), Said = "no PE signature" },
                new { Bytes = Truncated(good, 0x100), Said = "section table lies past the end" },
                new { Bytes = Truncated(good, 0x210), Said = "export or import table points past the end" },
            };
            foreach (var c in cases)
            {
                Assert.IsNull(PortableExecutableFile.Read(c.Bytes, out problem), c.Said);
                StringAssert.Contains(c.Said, problem, "why");
            }
        }

        [Test]
        public void NamesAWrongMachineAnOlderPlugInAndAPlatformDllThatDoesNotMatch()
        {
            string folder = Path.Combine(Path.GetTempPath(), "zv-file-check-" + Guid.NewGuid().ToString("N"));
            Directory.CreateDirectory(folder);
            try
            {
                Func<string, byte[], string> write = (name, bytes) => {
                    string path = Path.Combine(folder, name);
                    File.WriteAllBytes(path, bytes);
                    return path;
                };
                string current = write("current.dll", Plugin(PluginFileCheck.ScriptExports));
                string older = write("older.dll", Plugin("CreateAudioOutput", "CreateOutputBuffer", "DestroyAudioOutput",
                                                         "OnUnityAudio", "GetAudioOutputStats"));
                string loader = write("loader.dll", Image(PortableExecutableFile.kMachineAmd64,
                                                          new[] { "ZVAudioStartSound", "ZVAudioStopSound" }, "KERNEL32.dll",
                                                          new string[0]));
                string partial = write("partial.dll", Image(PortableExecutableFile.kMachineAmd64,
                                                            new[] { "ZVAudioStartSound" }, "KERNEL32.dll", new string[0]));
                string x86 = write("x86.dll", Image(PortableExecutableFile.kMachineI386, new string[0], "KERNEL32.dll",
                                                    new string[0]));
                string logging = PluginImportRules.LoggingFile;
                string audio = PluginImportRules.LoaderFile;

                Assert.AreEqual("", Said(current, new Dictionary<string, string> { { audio, loader } }), "all in order");
                StringAssert.Contains("ZVAudioOutput.dll is from an older release than this package: it does not export " +
                                          "SetAudioOutputLatencyTarget, GetAudioOutputLatencyStats",
                                      Said(older, new Dictionary<string, string>()), "older plug-in");
                StringAssert.Contains("zv_sdk_loader.dll does not match the plug-in: it does not export ZVAudioStopSound",
                                      Said(current, new Dictionary<string, string> { { audio, partial } }), "platform DLL");
                StringAssert.Contains("zv_unity_native_logging.dll at " + x86 + " is built for 32-bit x86",
                                      Said(current, new Dictionary<string, string> { { logging, x86 } }), "32-bit copy");
                StringAssert.Contains("ZVAudioOutput.dll cannot be read at " + Path.Combine(folder, "gone.dll"),
                                      Said(Path.Combine(folder, "gone.dll"), new Dictionary<string, string>()), "no file");

                string searchPath = "/nowhere" + Path.PathSeparator + " \"" + folder + "\" ";
                Assert.AreEqual(loader, PluginFileCheck.FindOnSearchPath("loader.dll", searchPath), "found on PATH");
                Assert.IsNull(PluginFileCheck.FindOnSearchPath("absent.dll", searchPath), "not on PATH");
            }
            finally
            {
                Directory.Delete(folder, true);
            }
        }

        private static string Said(string plugin, Dictionary<string, string> platform)
        {
            return string.Join(" | ", PluginFileCheck.Problems(plugin, platform).ToArray());
        }

        private static byte[] Truncated(byte[] bytes, int length)
        {
            var cut = new byte[length];
            Array.Copy(bytes, cut, length);
            return cut;
        }
    }
}
