#!/usr/bin/env bash
# Every test of the project: the native suite in the default, address/UB
# sanitizer and thread sanitizer builds, the Windows build under Wine, the
# release archives (built twice, compared byte for byte), and the bounded
# fuzz runs. Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/ci/install_dependencies.sh

for preset in default asan tsan; do
  echo "=== ${preset} ==="
  cmake --preset "${preset}"
  cmake --build --preset "${preset}"
  ctest --preset "${preset}"
done

if [[ -x tools/ci/windows.sh ]]; then
  echo "=== windows (under Wine) ==="
  tools/ci/windows.sh
fi

if [[ -x tools/package_release.sh ]]; then
  echo "=== release archives, built twice ==="
  tools/package_release.sh --check-reproducible
fi

if [[ -x tools/ci/fuzz.sh ]]; then
  echo "=== fuzz ==="
  tools/ci/fuzz.sh
fi

echo "All suites passed."
