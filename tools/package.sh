#!/usr/bin/env bash
# Builds every Debian package of the project into OUT: all of them for amd64 (the build
# machine's architecture), and the architecture-dependent ones but python3-xrq5 for i386
# (dpkg-buildpackage --host-arch i386, profiles nopython,nodoc), then runs lintian on
# them. Installs what it needs (build dependencies of both architectures, lintian).
# Usage: bash tools/package.sh OUT [--install]
# Then tests/package_test.sh uses the packages from a scratch root (with --install, on a
# disposable machine, also installed with apt and removed again).
#
# The i386 build goes through Debian's multiarch cross-building with the multilib
# compiler (g++ -m32), which the 32-bit test build uses too: wrappers named after the
# i386 GNU triplet stand for the cross tools unless real ones are installed (Debian's
# crossbuild-essential-i386 conflicts with g++-multilib).
set -euo pipefail
[ $# -ge 1 ] && [ $# -le 2 ] || { echo "usage: bash tools/package.sh OUT [--install]" >&2; exit 2; }
src=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
out=$(cd "$1" && pwd)
build_arch=$(dpkg --print-architecture)
host=i386

bash "$src/tools/install-deps.sh" dpkg-dev debhelper dh-python lintian fakeroot help2man doxygen \
  pybind11-dev python3-dev g++-multilib "libxerces-c-dev:$host" "libxxhash-dev:$host"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A clean copy of the sources (no build folders), one per architecture.
copy() {
  mkdir -p "$work/$1/xrq5"
  if git -C "$src" rev-parse --git-dir >/dev/null 2>&1; then
    (cd "$src" && git ls-files -z --cached --others --exclude-standard |
       tar --null -T - --ignore-failed-read -cf - 2>/dev/null) | tar -C "$work/$1/xrq5" -xf -
  else
    tar -C "$src" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$work/$1/xrq5" -xf -
  fi
}

jobs=$(nproc)
export DEB_BUILD_OPTIONS="parallel=$jobs ${DEB_BUILD_OPTIONS:-}"

echo "== $build_arch: every package"
copy "$build_arch"
(cd "$work/$build_arch/xrq5" && dpkg-buildpackage -b -uc -us >"$work/$build_arch.log" 2>&1) ||
  { tail -50 "$work/$build_arch.log"; exit 1; }

echo "== $host: the architecture-dependent packages (nopython, nodoc)"
triplet=$(dpkg-architecture -a"$host" -qDEB_HOST_GNU_TYPE 2>/dev/null)
if ! command -v "$triplet-g++" >/dev/null; then
  mkdir -p "$work/cross"
  for t in gcc g++; do
    printf '#!/bin/sh\nexec %s -m32 "$@"\n' "$t" >"$work/cross/$triplet-$t"
  done
  for t in strip objcopy objdump readelf nm ar ranlib ld; do
    printf '#!/bin/sh\nexec %s "$@"\n' "$t" >"$work/cross/$triplet-$t"
  done
  multiarch=$(dpkg-architecture -a"$host" -qDEB_HOST_MULTIARCH 2>/dev/null)
  printf '#!/bin/sh\nPKG_CONFIG_LIBDIR=/usr/lib/%s/pkgconfig:/usr/share/pkgconfig exec pkg-config "$@"\n' \
    "$multiarch" >"$work/cross/$triplet-pkg-config"
  chmod +x "$work/cross/"*
  export PATH="$work/cross:$PATH"
fi
copy "$host"
(cd "$work/$host/xrq5" &&
  dpkg-buildpackage -B -uc -us --host-arch "$host" \
    -Pnopython,nodoc >"$work/$host.log" 2>&1) ||
  { tail -50 "$work/$host.log"; exit 1; }

rm -f "$out"/*.deb "$out"/*.ddeb
cp "$work/$build_arch"/*.deb "$work/$host"/*.deb "$out"/
for d in "$work/$build_arch" "$work/$host"; do cp "$d"/*.buildinfo "$d"/*.changes "$out"/; done
ls -1 "$out"/*.deb

echo "== lintian"
# Errors fail the run; the warnings that remain are listed with their reasons in README.
lintian --fail-on error "$out"/*.changes

echo "== the packages in use"
bash "$src/tests/package_test.sh" "$out" "$src" ${2:-}
