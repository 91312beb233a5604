#!/usr/bin/env bash
# Installs, when missing, the Debian packages that building, testing and benchmarking
# need. Extra package names given as arguments are installed too.
set -euo pipefail

packages=(g++ make cmake pkg-config binutils libxerces-c-dev googletest libgtest-dev libbenchmark-dev
          pybind11-dev python3-dev python3-numpy python3-matplotlib python3-pytest python3-venv "$@")
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo=sudo; fi
echo "installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
