#!/usr/bin/env bash
# Installs, when missing, the Debian packages that building, testing and benchmarking
# need. Extra package names given as arguments are installed too; a name ending in
# :i386 adds that architecture to dpkg first (multiarch, for the 32-bit target).
set -euo pipefail

packages=(g++ make cmake pkg-config binutils abigail-tools libxerces-c-dev googletest libgtest-dev
          libbenchmark-dev nlohmann-json3-dev libcli11-dev help2man libxml2-utils doxygen
          libxxhash-dev pybind11-dev python3-dev python3-numpy python3-matplotlib python3-pytest
          python3-venv python3-mypy python3-dask python3-distributed "$@")
# A package counts only in the architecture asked for: a bare name in the machine's own
# (or as an architecture-independent one), never an i386 copy standing in for it.
native=$(dpkg --print-architecture)
installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}
missing=()
for p in "${packages[@]}"; do
  case $p in
    *:*) installed "$p" || missing+=("$p") ;;
    *) installed "$p:$native" || installed "$p:all" || missing+=("$p") ;;
  esac
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo=sudo; fi
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' &&
   ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
echo "installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
