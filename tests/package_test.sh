#!/usr/bin/env bash
# The Debian packages in OUT as their users get them:
# - apt resolves installing the amd64 and i386 runtime packages side by side with the
#   tools, schemas and the Python package (simulated: nothing on this machine changes);
# - unpacked into a scratch root (dpkg -x), both architectures' libraries sit in their
#   multiarch folders; the example consumer builds against the root through
#   find_package(XRQ5) and pkg-config and runs; the tool runs (with the schemas of its
#   package), its man page renders, and `import xrq5` works from the root;
# - with --install (a disposable machine): the packages installed with apt, the same
#   used from the system, and removed again.
# Usage: package_test.sh OUT SOURCE_DIR [--install]
set -euo pipefail
out=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
install=${3:-}
native=$(dpkg --print-architecture)
native_ma=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset LD_LIBRARY_PATH PYTHONPATH

debs() { ls "$out"/*_"$1".deb | grep -v -- '-dbgsym_'; }
mapfile -t native_debs < <(debs "$native"; debs all)
mapfile -t i386_debs < <(debs i386 | grep '/lib' || true)
echo "packages: ${#native_debs[@]} $native/all, ${#i386_debs[@]} i386"
[ ${#native_debs[@]} -ge 8 ] || { echo "expected 8 packages for $native and all" >&2; exit 1; }

# Side by side, as apt would install them.
if [ ${#i386_debs[@]} -gt 0 ] && dpkg --print-foreign-architectures | grep -qx i386; then
  apt-get install -s -q "${native_debs[@]}" "${i386_debs[@]}" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; exit 1; }
  grep -q '^Inst libxrq5xml0.1:i386' "$work/apt.log" || { cat "$work/apt.log"; exit 1; }
  grep -q "^Inst libxrq5xml0.1 " "$work/apt.log" || grep -q "^Inst libxrq5xml0.1:$native" "$work/apt.log" ||
    { cat "$work/apt.log"; exit 1; }
  echo "apt: amd64 and i386 libraries install side by side with the tools and python3-xrq5"
fi

root=$work/root
for deb in "${native_debs[@]}" "${i386_debs[@]}"; do dpkg-deb -x "$deb" "$root"; done
for ma in "$native_ma" i386-linux-gnu; do
  [ "$ma" = i386-linux-gnu ] && [ ${#i386_debs[@]} -eq 0 ] && continue
  for lib in XRQ5evutl XRQ5XML XRQ5USERTRIG; do
    test -e "$root/usr/lib/$ma/lib$lib.so.0.1" || { echo "no lib$lib.so.0.1 in $ma" >&2; exit 1; }
  done
done
if [ ${#i386_debs[@]} -gt 0 ]; then
  readelf -h "$root/usr/lib/i386-linux-gnu/libXRQ5XML.so.0.1" | grep -q 'ELF32'
fi
libdir=$root/usr/lib/$native_ma

# The consumer through find_package and through pkg-config.
cmake -S "$source/examples/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$root/usr" >/dev/null
cmake --build "$work/consumer" >/dev/null
LD_LIBRARY_PATH=$libdir "$work/consumer/consumer" "$source/examples/ev_list.xml" |
  grep -q "default trigger function: MEAN"
PKG_CONFIG_PATH=$libdir/pkgconfig
export PKG_CONFIG_PATH
# shellcheck disable=SC2046
g++ -std=c++17 "$source/examples/consumer/consumer.cpp" $(pkg-config --cflags --libs xrq5-usertrig) \
  -Wl,-rpath,"$libdir" -o "$work/pc-consumer"
"$work/pc-consumer" "$source/examples/ev_list.xml" | grep -q "3 event types: NORMAL ENV IMAGE"
unset PKG_CONFIG_PATH
echo "consumer: find_package and pkg-config against the unpacked packages"

use() {  # use PREFIX_ROOT: the tool, its man page and the Python package from there
  local r=$1 env=()
  [ "$r" != / ] && env=(LD_LIBRARY_PATH="$r/usr/lib/$native_ma" PYTHONPATH="$r/usr/lib/python3/dist-packages")
  env "${env[@]}" "$r/usr/bin/xrq5xml" --version | grep -q "^xrq5xml "
  env "${env[@]}" "$r/usr/bin/xrq5xml" check --strict "$source"/examples/*.xml >/dev/null
  env "${env[@]}" "$r/usr/bin/xrq5xml" eval "$source/examples/triggers.xml" "$source/examples/events.xrq5ev" \
    --env-dict "$source/examples/env_dict.xml" >/dev/null
  man -l "$r/usr/share/man/man1/xrq5xml.1.gz" 2>/dev/null | grep -q "check, show, convert"
  (cd "$work" && env "${env[@]}" /usr/bin/python3 -c '
import sys, xrq5
assert xrq5.__file__.startswith(sys.argv[1]), xrq5.__file__
t = xrq5.read_triggers_file(sys.argv[2] + "/examples/triggers.xml")
print("python3-xrq5", xrq5.__version__, len(t), "triggers")' "${r%/}/usr/lib/python3/dist-packages" "$source")
}
use "$root"
echo "tool, man page and import xrq5 from the unpacked packages"

if [ "$install" = --install ]; then
  mapfile -t names < <(for d in "${native_debs[@]}" "${i386_debs[@]}"; do
    dpkg-deb --showformat='${Package}:${Architecture}\n' -W "$d" | sed 's/:all$//'; done)
  # Whatever happens, the machine is left without them.
  trap 'apt-get purge -y -q "${names[@]}" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
  apt-get install -y -q "${native_debs[@]}" "${i386_debs[@]}" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log"; exit 1; }
  use /
  man -w xrq5xml >/dev/null
  dpkg -s libxrq5xml0.1:i386 libxrq5xml0.1:"$native" >/dev/null
  apt-get purge -y -q "${names[@]}" >/dev/null 2>&1
  if dpkg -l "${names[@]}" 2>/dev/null | grep -q '^ii'; then
    echo "the packages are still installed" >&2; exit 1
  fi
  echo "installed with apt (amd64 and i386 side by side), used from the system, removed"
fi
