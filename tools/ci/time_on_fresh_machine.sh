#!/usr/bin/env bash
# Times the README's test command as on a new machine: a Debian bookworm root made
# with debootstrap, holding only what a new machine of our CI kind comes with (the
# compilers, CMake, GoogleTest, Google Benchmark and the tools listed below), a clean
# clone of this repository in it, and `.ci/run` run there, installation included.
# Each run starts from the same base through an overlay, so the base is made once.
# It shares the host's kernel, cores and network; nothing of the host's packages or
# apt cache reaches it. Needs root.
#
#   tools/ci/time_on_fresh_machine.sh [git ref]     default: HEAD of this checkout
#
# Environment: ZV_FRESH_DIR (default /var/tmp/zv-fresh): the base and the runs;
# ZV_FRESH_MIRROR (default http://deb.debian.org/debian).
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
ref=$(git -C "${repo}" rev-parse "${1:-HEAD}")
dir=${ZV_FRESH_DIR:-/var/tmp/zv-fresh}
mirror=${ZV_FRESH_MIRROR:-http://deb.debian.org/debian}
base=${dir}/base

# What a new machine has before the project installs anything.
machine_packages=(
  g++ cmake git python3 ca-certificates
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang-format clang-tidy cppcheck clangd bear gdb valgrind heaptrack
)

# mount_system <root>: what programs inside expect; unmount_system undoes it.
mount_system() {
  cp /etc/resolv.conf "$1/etc/resolv.conf"
  mount -t proc proc "$1/proc"
  mount --rbind /sys "$1/sys"
  mount --rbind /dev "$1/dev"
}
unmount_system() {
  umount -R "$1/dev" 2>/dev/null || umount -lR "$1/dev" || true
  umount -R "$1/sys" 2>/dev/null || umount -lR "$1/sys" || true
  umount "$1/proc" 2>/dev/null || umount -l "$1/proc" || true
}

if [[ ! -e ${base}/.complete ]]; then
  command -v debootstrap >/dev/null || { apt-get update && apt-get install -y debootstrap; }
  rm -rf "${base}"
  mkdir -p "${dir}"
  debootstrap --variant=minbase bookworm "${base}" "${mirror}"
  printf 'deb %s bookworm main\ndeb %s bookworm-updates main\ndeb %s-security bookworm-security main\n' \
    "${mirror}" "${mirror}" "${mirror}" >"${base}/etc/apt/sources.list"
  mount_system "${base}"
  trap 'unmount_system "${base}"' EXIT
  chroot "${base}" bash -c "apt-get update && DEBIAN_FRONTEND=noninteractive \
    apt-get install -y ${machine_packages[*]} && apt-get clean && rm -rf /var/lib/apt/lists/*"
  unmount_system "${base}"
  trap - EXIT
  touch "${base}/.complete"
fi

run=${dir}/runs/$(date +%Y%m%d-%H%M%S)
root=${run}/root
mkdir -p "${run}/upper" "${run}/work" "${root}"
mount -t overlay overlay -o "lowerdir=${base},upperdir=${run}/upper,workdir=${run}/work" "${root}"
mount_system "${root}"
mkdir -p "${root}/source"
mount --bind "${repo}" "${root}/source"
mount -o remount,bind,ro "${root}/source"
cleanup() {
  umount "${root}/source" 2>/dev/null || umount -l "${root}/source" || true
  unmount_system "${root}"
  umount "${root}" 2>/dev/null || umount -l "${root}" || true
}
trap cleanup EXIT

echo "Running .ci/run at ${ref} in ${root}; its output goes to ${run}/log"
status=0
chroot "${root}" env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  CI=true TERM=dumb bash -c "
    git config --global --add safe.directory '*'
    git clone -q /source /ci && cd /ci && git checkout -q ${ref}
    start=\$(date +%s)
    status=0
    bash .ci/run || status=\$?
    echo \"fresh machine: .ci/run took \$(( \$(date +%s) - start )) s, exit status \${status}\"
    exit \${status}" >"${run}/log" 2>&1 || status=$?
sed -n '/=== stage times/,$p' "${run}/log"
exit "${status}"
