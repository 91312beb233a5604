#!/usr/bin/env bash
# install-deps.sh against a fake dpkg and apt on PATH: a package installed only for i386
# does not count for the machine's own architecture; an architecture-independent one
# counts; an explicit :i386 name is asked for as such.
# Usage: install_deps_test.sh SOURCE_DIR WORK
set -euo pipefail
source=$1 work=$2
rm -rf "$work" && mkdir -p "$work/bin"
cat >"$work/bin/dpkg" <<'SH'
#!/bin/sh
case $1 in
  --print-architecture) echo amd64 ;;
  --print-foreign-architectures) echo i386 ;;
esac
SH
# Installed: libxerces-c-dev for i386 only, python3-pytest (all), everything else of
# the list natively; so the script must ask for libxerces-c-dev and for gtest:i386.
cat >"$work/bin/dpkg-query" <<'SH'
#!/bin/sh
for last; do :; done
case $last in
  libxerces-c-dev:i386) echo "install ok installed" ;;
  libxerces-c-dev:amd64|libxerces-c-dev:all|libgtest-dev:i386) exit 1 ;;
  python3-pytest:all) echo "install ok installed" ;;
  python3-pytest:amd64) exit 1 ;;
  *:all) exit 1 ;;
  *) echo "install ok installed" ;;
esac
SH
cat >"$work/bin/apt-get" <<SH
#!/bin/sh
echo "\$@" >>"$work/apt.log"
SH
chmod +x "$work/bin/"*
PATH="$work/bin:$PATH" bash "$source/tools/install-deps.sh" libgtest-dev:i386 >"$work/out.log"
grep -q "install .*libxerces-c-dev" "$work/apt.log"
grep -q "install .*libgtest-dev:i386" "$work/apt.log"
if grep -q "python3-pytest" "$work/apt.log"; then
  echo "asked for python3-pytest, which is installed (all)" >&2; exit 1
fi
if grep -q "install .*cmake" "$work/apt.log"; then
  echo "asked for a package that is installed" >&2; exit 1
fi
echo ok
