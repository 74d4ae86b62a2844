#!/usr/bin/env bash
# Builds ZVAudioOutput.dll as it ships (the `windows-release` preset) and
# writes the release to dist/:
#   com.zvaudio.output-<version>.tgz              Unity package for "Add package from tarball..."
#   ZVAudioOutput-<version>-windows-x86_64.zip    DLL, PDB, header, README and its documents, LICENSE
#   SHA256SUMS
# then unpacks and checks them. Installs what it needs first.
#
#   tools/package_release.sh [--check-reproducible]
#
# --check-reproducible builds the same sources once more in another folder
# and fails unless the three files come out byte for byte the same.
#
# The version is the one in unity_package/com.zvaudio.output/package.json.
# Archive time stamps are SOURCE_DATE_EPOCH, by default the time of the
# checked-out commit.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$(pwd)

check_reproducible=false
case "${1:-}" in
"") ;;
--check-reproducible) check_reproducible=true ;;
*)
  echo "usage: $0 [--check-reproducible]" >&2
  exit 64
  ;;
esac

packages=(cmake ninja-build clang lld llvm g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  python3)
tools/ci/ensure_packages.sh "${packages[@]}"

if [[ -z "${SOURCE_DATE_EPOCH:-}" ]]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || true)
  if [[ -z "${SOURCE_DATE_EPOCH}" ]]; then
    echo "package_release.sh: not a Git checkout; set SOURCE_DATE_EPOCH" >&2
    exit 1
  fi
fi
export SOURCE_DATE_EPOCH

# The release compiles afresh: a compiler cache could hand back objects made
# from another folder. A library path from the environment would reach the
# linker's command line, which the PDB keeps.
export CCACHE_DISABLE=1
unset LIBRARY_PATH

version=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["version"])' \
  unity_package/com.zvaudio.output/package.json)
echo "=== ZVAudioOutput ${version} ==="

cmake --preset windows-release --fresh
cmake --build --preset windows-release
bin=build/windows-release/bin

rm -rf dist
python3 tools/make_release_archives.py --version "${version}" \
  --dll "${bin}/ZVAudioOutput.dll" --pdb "${bin}/ZVAudioOutput.pdb" \
  --source "${source_dir}" --out dist
cmake -DOUT="${source_dir}/dist" -DVERSION="${version}" -DDLL="${bin}/ZVAudioOutput.dll" \
  -DPDB="${bin}/ZVAudioOutput.pdb" -DSOURCE_DIR="${source_dir}" \
  -DOBJDUMP=x86_64-w64-mingw32-objdump -DRC=x86_64-w64-mingw32-windres -DSCRATCH="${source_dir}/build/windows-release/unpacked" \
  -P tests/windows_exports/CheckReleaseArchives.cmake

if "${check_reproducible}"; then
  # The same files, tracked or new but not ignored, in a folder of another
  # name and depth.
  scratch=$(mktemp -d)
  trap 'rm -rf "${scratch}"' EXIT
  copy="${scratch}/second-build/ZVAudioOutput"
  mkdir -p "${copy}"
  git ls-files -z --cached --others --exclude-standard |
    tar -c --null -T - | tar -x -C "${copy}"
  echo "=== second build in ${copy} ==="
  "${copy}/tools/package_release.sh"
  status=0
  for file in dist/*; do
    if ! cmp "${file}" "${copy}/${file}"; then
      status=1
    fi
  done
  if ((status != 0)); then
    echo "package_release.sh: the second build's files differ" >&2
    exit 1
  fi
  echo "Both builds gave the same bytes."
fi

(cd dist && sha256sum -c SHA256SUMS)
