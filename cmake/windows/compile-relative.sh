#!/usr/bin/env bash
# Compiler launcher of the DLL that ships and the libraries linked into it
# (zv_windows_ship): runs the compile with the source and build folders in
# its arguments written relative to the build folder, where Ninja runs it.
#
#   compile-relative.sh <source folder> <build folder> <compiler> <argument>...
#
# Clang keeps its whole -cc1 command line in every object's CodeView build
# record (LF_BUILDINFO: llvm/lib/CodeGen/AsmPrinter/CodeViewDebug.cpp,
# emitBuildInfo; clang/test/CodeGen/debug-info-codeview-buildinfo.c), Clang 14
# has no switch to leave it out (-gno-codeview-command-line is refused), and
# LLD copies those records into the PDB. With absolute paths there, the PDB,
# whose GUID is a hash of its bytes, and so the DLL would differ from one
# build folder to the next.
set -euo pipefail

source_dir=$1
build_dir=$2
shift 2

# The source folder as seen from the build folder: "../.." for the presets'
# build/<preset>.
relative_source=$(realpath --relative-to="${build_dir}" "${source_dir}")

arguments=()
for argument in "$@"; do
  # The path maps of the command line name absolute folders; they are
  # replaced by one below.
  case ${argument} in
  -ffile-prefix-map=* | -fdebug-prefix-map=* | -fmacro-prefix-map=*) continue ;;
  esac
  # The build folder first: it may lie inside the source folder.
  argument=${argument//"${build_dir}/"/}
  if [[ ${argument} == *"${build_dir}" ]]; then argument="${argument%"${build_dir}"}."; fi
  argument=${argument//"${source_dir}/"/"${relative_source}/"}
  if [[ ${argument} == *"${source_dir}" ]]; then
    argument="${argument%"${source_dir}"}${relative_source}"
  fi
  arguments+=("${argument}")
done

# Debug information and __FILE__ name the build folder "." and every source
# by its path in the repository, "./plugin/Exports.cpp".
exec "${arguments[@]}" -ffile-compilation-dir=. "-ffile-prefix-map=${relative_source}/=./"
