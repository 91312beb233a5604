#!/usr/bin/env bash
# The main job: builds the libraries and xrq5xml, shows and checks every example
# document in examples/ (also against its schema), then tries the example triggers on the example events.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build -DXRQ5_BUILD_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" >/dev/null

xrq5xml=build/tools/xrq5xml
shopt -s nullglob
docs=(examples/*.xml)
echo "## xrq5xml show ${docs[*]}"
"$xrq5xml" show "${docs[@]}"
echo
echo "## xrq5xml check ${docs[*]}"
"$xrq5xml" check "${docs[@]}"
echo
echo "## xrq5xml check --strict ${docs[*]}"
"$xrq5xml" check --strict "${docs[@]}"
echo
echo "## xrq5xml eval examples/triggers.xml examples/events.xrq5ev --env-dict examples/env_dict.xml"
"$xrq5xml" eval examples/triggers.xml examples/events.xrq5ev --env-dict examples/env_dict.xml
