#!/usr/bin/env python3
"""Writes the release archives of the Windows plug-in.

    make_release_archives.py --version 0.2.0 --dll ZVAudioOutput.dll
        --debug ZVAudioOutput.debug --source <repository> --out dist

<out>/com.zvaudio.output-<version>.tgz
    the Unity package as "Add package from tarball..." takes it: one root
    folder package/, the plug-in in package/Runtime/Plugins/x86_64/
<out>/ZVAudioOutput-<version>-windows-x86_64.zip
    the DLL, its debug file, the public header, the README and the licence
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


def sha256(path):
    return hashlib.sha256(read(path)).hexdigest()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--version", required=True)
    parser.add_argument("--dll", required=True)
    parser.add_argument("--debug", required=True)
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
    zip_sources = {
        dll_name: args.dll,
        os.path.basename(args.debug): args.debug,
        "ZVAudioOutput.h": os.path.join(args.source, "plugin", "ZVAudioOutput.h"),
        "README.md": os.path.join(args.source, "README.md"),
        "LICENSE": os.path.join(args.source, "LICENSE"),
    }
    zip_entries = {f"{zip_root}/{name}": read(path) for name, path in zip_sources.items()}

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
