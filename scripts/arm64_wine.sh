#!/usr/bin/env bash
# ARM64 Windows programs under Debian's aarch64 Wine, in an arm64 Debian
# chroot run through qemu-user-static and binfmt_misc (run as root).
#   scripts/arm64_wine.sh setup            makes the chroot once (about
#                                          three minutes on a new machine
#                                          of 2 cores), or reuses it
#   scripts/arm64_wine.sh run <cmd> [args] runs <cmd> (wine, wineboot,
#                                          wineserver...) inside it, in the
#                                          current folder and environment
# The chroot lives outside the checkout (GPUINFO_ARM64_ROOT, default
# /var/cache/gpuinfo-arm64-wine) so every clone on the machine shares it.
# Each run sees this checkout at its own path (a bind mount in a private
# mount namespace, gone when the command ends), so build paths agree inside
# and out; a server started with `wineserver -p` keeps that namespace alive
# and later runs reach it through the same prefix folder.
set -euo pipefail
checkout=$(cd "$(dirname "$0")/.." && pwd)
root=${GPUINFO_ARM64_ROOT:-/var/cache/gpuinfo-arm64-wine}
suite=bookworm
# What the chroot holds beyond debootstrap's minimal base; a change here
# remakes it.
packages="wine wine64"
ready=$root/.gpuinfo-ready

binfmt() {
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  fi
  if [ ! -e /proc/sys/fs/binfmt_misc/qemu-aarch64 ]; then
    update-binfmts --enable qemu-aarch64
  fi
}

# The first Debian mirror the host's own apt sources name.
mirror() {
  { grep -rhoE 'https?://[^ ]+/debian/?( |$)' /etc/apt/sources.list /etc/apt/sources.list.d 2>/dev/null || true; } \
    | sed -n '1s/ *$//p'
}

setup() {
  binfmt
  mkdir -p "$(dirname "$root")"
  exec 9>"$root.lock"
  flock 9
  if [ -f "$ready" ] && [ "$(cat "$ready")" = "$suite $packages" ]; then
    return
  fi
  local start=$SECONDS url
  url=${GPUINFO_DEBIAN_MIRROR:-$(mirror)}
  echo "Making the arm64 chroot with Wine in $root from $url (once, several minutes)"
  rm -rf "$root"
  debootstrap --arch=arm64 --variant=minbase "$suite" "$root" "$url" >"$root.log" 2>&1 \
    || { tail -n 20 "$root.log" >&2; exit 1; }
  unshare -m bash -c "mount -t proc proc '$root/proc' && mount --bind /dev '$root/dev' &&
    chroot '$root' env DEBIAN_FRONTEND=noninteractive sh -c 'apt-get update -qq &&
      apt-get install -y -qq --no-install-recommends $packages && apt-get clean'" >>"$root.log" 2>&1 \
    || { tail -n 20 "$root.log" >&2; exit 1; }
  echo "$suite $packages" >"$ready"
  echo "The arm64 chroot took $((SECONDS - start)) s"
}

run() {
  [ -f "$ready" ] || { echo "no arm64 chroot in $root: run scripts/arm64_wine.sh setup" >&2; exit 1; }
  binfmt
  mkdir -p "$root$checkout"
  exec unshare -m sh -c 'root=$1 checkout=$2 cwd=$3; shift 3
    mount -t proc proc "$root/proc" && mount --bind /dev "$root/dev" &&
    mount --bind "$checkout" "$root$checkout" &&
    exec chroot "$root" env -C "$cwd" "$@"' sh "$root" "$checkout" "$(pwd)" "$@"
}

case "${1:-}" in
  setup) setup ;;
  run) shift; run "$@" ;;
  *) echo "usage: scripts/arm64_wine.sh setup | run <command> [args...]" >&2; exit 2 ;;
esac
