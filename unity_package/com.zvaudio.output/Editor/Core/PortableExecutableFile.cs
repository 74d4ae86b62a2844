using System;
using System.Collections.Generic;
using System.Text;

namespace ZVAudio.Output.Editor
{
    // What a DLL's headers say, read from its bytes instead of loading it: a
    // loaded DLL stays locked until the Editor quits, and a locked file makes
    // "Add package from tarball" over it fail. Reads the PE format as the
    // Windows documentation "PE Format" lays it out: the DOS stub's pointer to
    // the "PE\0\0" signature, the COFF header's machine, the optional header's
    // data directories, the section table, and the export and import tables.
    public sealed class PortableExecutableFile
    {
        public const ushort kMachineAmd64 = 0x8664;
        public const ushort kMachineI386 = 0x014c;

        private const ushort kMagicPe32 = 0x10b;
        private const ushort kMagicPe32Plus = 0x20b;

        private readonly byte[] image;
        private readonly int sections;
        private readonly int sectionCount;
        private readonly int directories;
        private readonly int directoryCount;
        private readonly bool is64;

        public ushort Machine { get; private set; }

        // The names the export table lists.
        public readonly List<string> Exports = new List<string>();

        // The names imported by name, by DLL name as the import table spells it.
        public readonly Dictionary<string, List<string>> Imports =
            new Dictionary<string, List<string>>(StringComparer.OrdinalIgnoreCase);

        private PortableExecutableFile(byte[] image, ushort machine, int sections, int sectionCount,
                                       int directories, int directoryCount, bool is64)
        {
            this.image = image;
            Machine = machine;
            this.sections = sections;
            this.sectionCount = sectionCount;
            this.directories = directories;
            this.directoryCount = directoryCount;
            this.is64 = is64;
        }

        // The image's headers and tables, or null with `problem` saying why the
        // bytes are not a PE image this reader can follow.
        public static PortableExecutableFile Read(byte[] image, out string problem)
        {
            problem = null;
            int header = Int32At(image, 0x3c);
            if (U16(image, 0) != 0x5a4d || header < 0 || U32(image, header) != 0x00004550)
            {
                problem = "not a Windows DLL (no PE signature)";
                return null;
            }
            int coff = header + 4;
            ushort machine = U16(image, coff);
            int sectionCount = U16(image, coff + 2);
            int optionalSize = U16(image, coff + 16);
            int optional = coff + 20;
            ushort magic = U16(image, optional);
            if (magic != kMagicPe32 && magic != kMagicPe32Plus)
            {
                problem = "not a Windows DLL (optional header magic 0x" + magic.ToString("x") + ")";
                return null;
            }
            bool is64 = magic == kMagicPe32Plus;
            int directoryCount = Int32At(image, optional + (is64 ? 108 : 92));
            int directories = optional + (is64 ? 112 : 96);
            int sections = optional + optionalSize;
            if (directoryCount < 0 || sections + 40L * sectionCount > image.Length)
            {
                problem = "a damaged Windows DLL (its section table lies past the end of the file)";
                return null;
            }
            var file = new PortableExecutableFile(image, machine, sections, sectionCount, directories,
                                                  Math.Min(directoryCount, 16), is64);
            if (!file.ReadExports() || !file.ReadImports())
            {
                problem = "a damaged Windows DLL (its export or import table points past the end of the file)";
                return null;
            }
            return file;
        }

        private bool ReadExports()
        {
            int table;
            if (!Directory(0, out table))
                return table == 0;
            int names = U32AsInt(table + 24);
            int nameTable = Offset(U32AsInt(table + 32));
            if (names < 0 || names > 65536 || (names > 0 && nameTable < 0))
                return false;
            for (int i = 0; i < names; ++i)
            {
                string name = StringAt(Offset(U32AsInt(nameTable + 4 * i)));
                if (name == null)
                    return false;
                Exports.Add(name);
            }
            return true;
        }

        private bool ReadImports()
        {
            int table;
            if (!Directory(1, out table))
                return table == 0;
            for (int entry = table; ; entry += 20)
            {
                if (entry < 0 || entry + 20 > image.Length)
                    return false;
                int nameRva = U32AsInt(entry + 12);
                if (nameRva == 0)
                    return true;
                string dll = StringAt(Offset(nameRva));
                int thunks = Offset(U32AsInt(entry) != 0 ? U32AsInt(entry) : U32AsInt(entry + 16));
                if (dll == null || thunks < 0)
                    return false;
                List<string> names;
                if (!Imports.TryGetValue(dll, out names))
                    Imports[dll] = names = new List<string>();
                int width = is64 ? 8 : 4;
                for (int thunk = thunks; ; thunk += width)
                {
                    if (thunk + width > image.Length)
                        return false;
                    ulong value = is64 ? BitConverter.ToUInt64(image, thunk) : U32(image, thunk);
                    if (value == 0)
                        break;
                    bool byOrdinal = (value & (is64 ? 0x8000000000000000UL : 0x80000000UL)) != 0;
                    if (byOrdinal)
                        continue;
                    int hint = Offset((int)(value & 0x7fffffff));
                    string name = hint < 0 ? null : StringAt(hint + 2);
                    if (name == null)
                        return false;
                    names.Add(name);
                }
            }
        }

        // File offset of data directory `index`; false when the image has none
        // (`offset` 0) or it points outside every section (`offset` -1).
        private bool Directory(int index, out int offset)
        {
            offset = 0;
            if (index >= directoryCount)
                return false;
            int rva = U32AsInt(directories + 8 * index);
            if (rva == 0)
                return false;
            offset = Offset(rva);
            return offset >= 0;
        }

        // File offset of a relative virtual address, through the section holding it; -1 if none does.
        private int Offset(int rva)
        {
            if (rva < 0)
                return -1;
            for (int i = 0; i < sectionCount; ++i)
            {
                int section = sections + 40 * i;
                long start = U32(image, section + 12);
                long size = Math.Max(U32(image, section + 16), U32(image, section + 8));
                if (rva >= start && rva < start + size)
                {
                    long offset = rva - start + U32(image, section + 20);
                    return offset < image.Length ? (int)offset : -1;
                }
            }
            return -1;
        }

        private int U32AsInt(int offset)
        {
            uint value = U32(image, offset);
            return value > int.MaxValue ? -1 : (int)value;
        }

        private string StringAt(int offset)
        {
            if (offset < 0 || offset >= image.Length)
                return null;
            int end = Array.IndexOf(image, (byte)0, offset);
            return end < 0 ? null : Encoding.ASCII.GetString(image, offset, end - offset);
        }

        private static ushort U16(byte[] bytes, int offset)
        {
            return offset >= 0 && offset + 2 <= bytes.Length ? BitConverter.ToUInt16(bytes, offset) : (ushort)0;
        }

        private static uint U32(byte[] bytes, int offset)
        {
            return offset >= 0 && offset + 4 <= bytes.Length ? BitConverter.ToUInt32(bytes, offset) : 0u;
        }

        private static int Int32At(byte[] bytes, int offset)
        {
            uint value = U32(bytes, offset);
            return value > int.MaxValue ? -1 : (int)value;
        }
    }
}
