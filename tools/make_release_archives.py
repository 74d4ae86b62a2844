#!/usr/bin/env python3
"""Writes the release archives of the Windows plug-in.

    make_release_archives.py --version <x.y.z> --dll ZVAudioOutput.dll
        --pdb ZVAudioOutput.pdb --source <repository> --out dist

<out>/com.zvaudio.output-<version>.tgz
    the Unity package as "Add package from tarball..." takes it: one root
    folder package/, the plug-in in package/Runtime/Plugins/x86_64/
<out>/ZVAudioOutput-<version>-windows-x86_64.zip
    the DLL, its PDB (beside it, and once more in a symbol store layout under
    symbols/), the public header, the README with the documents it links to,
    and the licence
<out>/SHA256SUMS
    for both

The bytes depend on the inputs and SOURCE_DATE_EPOCH only: entries in name
order, every time stamp SOURCE_DATE_EPOCH, owner 0:0 without names, fixed
modes, no file name or time in the gzip header.
"""

import argparse
import gzip
import hashlib
import io
import os
import re
import struct
import sys
import tarfile
import time
import zipfile

PACKAGE_NAME = "com.zvaudio.output"
PLUGIN_FOLDER = "Runtime/Plugins/x86_64"


def package_files(package_dir):
    """Relative paths of the package's files, as a release ships them.

    Hidden entries (the engine skips them) and native libraries staged for
    local use (not kept in the repository) stay out.
    """
    files = []
    for root, dirs, names in os.walk(package_dir):
        dirs[:] = [d for d in dirs if not d.startswith(".")]
        for name in names:
            if name.startswith(".") or name.lower().endswith((".dll", ".pdb")):
                continue
            path = os.path.join(root, name)
            files.append(os.path.relpath(path, package_dir).replace(os.sep, "/"))
    return files


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write_tgz(path, entries, epoch):
    """entries: {archive name: bytes}"""
    raw = io.BytesIO()
    with tarfile.open(fileobj=raw, mode="w", format=tarfile.PAX_FORMAT) as tar:
        for name in sorted(entries):
            data = entries[name]
            info = tarfile.TarInfo(name)
            info.size = len(data)
            info.mtime = epoch
            info.mode = 0o644
            info.uid = info.gid = 0
            info.uname = info.gname = ""
            tar.addfile(info, io.BytesIO(data))
    with open(path, "wb") as out:
        with gzip.GzipFile(filename="", mode="wb", fileobj=out, mtime=0, compresslevel=9) as gz:
            gz.write(raw.getvalue())


def write_zip(path, entries, epoch):
    # Zip time stamps are local date and time from 1980 on, two-second steps.
    stamp = time.gmtime(max(epoch, 315532800))[:6]
    with zipfile.ZipFile(path, "w") as archive:
        for name in sorted(entries):
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 3
            info.external_attr = 0o644 << 16
            archive.writestr(info, entries[name], compresslevel=9)


def codeview_record(dll_path):
    """(GUID bytes, age, PDB name) of the DLL's CodeView (RSDS) record."""
    image = read(dll_path)
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        raise ValueError(f"{dll_path}: not a PE image")
    sections, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    if struct.unpack_from("<H", image, optional)[0] != 0x20B:
        raise ValueError(f"{dll_path}: not a PE32+ image")
    # Data directory 6 (debug) of the PE32+ optional header.
    debug_rva, debug_size = struct.unpack_from("<II", image, optional + 112 + 6 * 8)

    def offset_of(rva):
        for i in range(sections):
            entry = optional + optional_size + 40 * i
            size, address, _, raw = struct.unpack_from("<IIII", image, entry + 8)
            if address <= rva < address + size:
                return raw + rva - address
        raise ValueError(f"{dll_path}: RVA {rva:#x} is in no section")

    directory = offset_of(debug_rva)
    for entry in range(directory, directory + debug_size, 28):
        kind, raw = struct.unpack_from("<I8xI", image, entry + 12)
        if kind == 2 and image[raw:raw + 4] == b"RSDS":
            guid = image[raw + 4:raw + 20]
            age = struct.unpack_from("<I", image, raw + 20)[0]
            name = image[raw + 24:image.index(b"\0", raw + 24)].decode()
            return guid, age, name
    raise ValueError(f"{dll_path}: no CodeView record")


def symbol_store_id(guid, age):
    """The folder a symbol store keeps a PDB in: the GUID's fields in hex
    digits, upper case, without dashes, then the age in hex."""
    data1, data2, data3 = struct.unpack_from("<IHH", guid)
    return f"{data1:08X}{data2:04X}{data3:04X}{guid[8:].hex().upper()}{age:X}"


def linked_documents(source, start):
    """Repository files that the Markdown file start links to, directly or
    through the documents it links to, by relative link."""
    found = set()
    pending = [start]
    while pending:
        document = pending.pop()
        text = read(os.path.join(source, document)).decode("utf-8")
        for target in re.findall(r"\]\(([^)\s]+)\)", text):
            if re.match(r"^[a-z][a-z0-9+.-]*:|^#", target, re.IGNORECASE):
                continue
            path = os.path.normpath(
                os.path.join(os.path.dirname(document), target.split("#")[0])).replace(os.sep, "/")
            if path.startswith("../") or not os.path.isfile(os.path.join(source, path)):
                sys.exit(f"make_release_archives.py: {document} links to {target}, "
                         "which is no file of the repository")
            if path not in found and path != start:
                found.add(path)
                if path.endswith(".md"):
                    pending.append(path)
    return sorted(found)


def sha256(path):
    return hashlib.sha256(read(path)).hexdigest()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--version", required=True)
    parser.add_argument("--dll", required=True)
    parser.add_argument("--pdb", required=True)
    parser.add_argument("--source", required=True, help="the repository's root folder")
    parser.add_argument("--out", required=True)
    args = parser.parse_args()

    epoch_text = os.environ.get("SOURCE_DATE_EPOCH")
    if not epoch_text:
        sys.exit("make_release_archives.py: set SOURCE_DATE_EPOCH (the commit's time)")
    epoch = int(epoch_text)

    package_dir = os.path.join(args.source, "unity_package", PACKAGE_NAME)
    dll_name = os.path.basename(args.dll)
    in_package = f"{PLUGIN_FOLDER}/{dll_name}"
    if not os.path.exists(os.path.join(package_dir, in_package + ".meta")):
        sys.exit(f"make_release_archives.py: {in_package}.meta is missing from the package")

    tgz_entries = {f"package/{name}": read(os.path.join(package_dir, name))
                   for name in package_files(package_dir)}
    tgz_entries[f"package/{in_package}"] = read(args.dll)
    # A read-only package cannot be completed: import settings without their
    # file would only make the engine warn on every refresh.
    orphans = [name for name in tgz_entries
               if name.endswith(".meta") and name[:-len(".meta")] not in tgz_entries
               and not any(other.startswith(name[:-len(".meta")] + "/") for other in tgz_entries)]
    if orphans:
        sys.exit(f"make_release_archives.py: .meta without its asset: {', '.join(sorted(orphans))}")

    zip_root = f"ZVAudioOutput-{args.version}-windows-x86_64"
    guid, age, pdb_name = codeview_record(args.dll)
    if pdb_name != os.path.basename(args.pdb):
        sys.exit(f"make_release_archives.py: {dll_name} names the PDB '{pdb_name}', "
                 f"not {os.path.basename(args.pdb)}")
    zip_sources = {
        dll_name: args.dll,
        pdb_name: args.pdb,
        # A folder that debuggers take as a symbol store (srv*<folder>).
        f"symbols/{pdb_name}/{symbol_store_id(guid, age)}/{pdb_name}": args.pdb,
        "ZVAudioOutput.h": os.path.join(args.source, "plugin", "ZVAudioOutput.h"),
        "README.md": os.path.join(args.source, "README.md"),
        "LICENSE": os.path.join(args.source, "LICENSE"),
    }
    # The README's links lead to documents in the zip, at the same paths.
    for document in linked_documents(args.source, "README.md"):
        zip_sources[document] = os.path.join(args.source, document)
    zip_entries = {f"{zip_root}/{name}": read(path) for name, path in zip_sources.items()}
    # DbgHelp takes a folder with pingme.txt at its root for a symbol store
    # even without "srv*" ("Symbol Paths" in its documentation).
    zip_entries[f"{zip_root}/symbols/pingme.txt"] = (
        b"This folder is a symbol store: ZVAudioOutput.pdb/<GUID><age>/ZVAudioOutput.pdb\n")

    os.makedirs(args.out, exist_ok=True)
    tgz = os.path.join(args.out, f"{PACKAGE_NAME}-{args.version}.tgz")
    archive = os.path.join(args.out, f"{zip_root}.zip")
    write_tgz(tgz, tgz_entries, epoch)
    write_zip(archive, zip_entries, epoch)
    with open(os.path.join(args.out, "SHA256SUMS"), "w", encoding="ascii", newline="\n") as sums:
        for path in sorted([tgz, archive], key=os.path.basename):
            sums.write(f"{sha256(path)}  {os.path.basename(path)}\n")
    for name in sorted(os.listdir(args.out)):
        print(os.path.join(args.out, name))


if __name__ == "__main__":
    main()
