#!/usr/bin/env bash
# Installs the build into a staging prefix, makes a fresh virtual environment that
# sees Debian's packages (NumPy) and the prefix's Python folder, and uses the module
# from there, away from the build tree, as the README describes.
# Usage: python_venv_test.sh CMAKE BUILD_DIR WORK PYTHON MODULE_DIR SOURCE_DIR
set -euo pipefail
cmake=$1 build=$2 work=$3 python=$4 module_dir=$5 source=$6
unset PYTHONPATH
rm -rf "$work"
mkdir -p "$work"
"$cmake" --install "$build" --prefix "$work/stage" > "$work/install.log"
test -n "$(ls "$work/stage/$module_dir"/xrq5/_xrq5*.so)"
test -f "$work/stage/$module_dir/xrq5/py.typed"
test -f "$work/stage/$module_dir/xrq5/__init__.pyi"

"$python" -m venv --system-site-packages "$work/venv"
site=$("$work/venv/bin/python" -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')
echo "$work/stage/$module_dir" > "$site/xrq5-prefix.pth"

cd "$work"
"$work/venv/bin/python" - "$work/stage" "$source/examples" <<'PY'
import sys
import xrq5

stage, examples = sys.argv[1], sys.argv[2]
assert xrq5.__file__.startswith(stage + "/"), xrq5.__file__
triggers = xrq5.read_triggers_file(examples + "/triggers.xml")
env = xrq5.read_env_dict_file(examples + "/env_dict.xml")
outcome = xrq5.evaluate(triggers, examples + "/events.xrq5ev", env)
fires = sum(len(o["fired"]) for o in outcome)
assert fires == 11, fires
print("module from", xrq5.__file__, "evaluated", len(triggers), "triggers:", fires, "fires")
PY

# The report command of the install, from elsewhere.
"$work/stage/bin/xrq5-report" "$source/examples/triggers.xml" "$source/examples/events.xrq5ev" \
    --env-dict "$source/examples/env_dict.xml" -o "$work/report.html"
grep -q 'id="trigger-8"' "$work/report.html"
