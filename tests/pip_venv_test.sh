#!/usr/bin/env bash
# pip's route: a copy of the sources installed with pip into a fresh virtual environment
# that sees Debian's packages (setuptools, NumPy, mypy), with no package index; then the
# package is used from there: version, libraries beside the extension, an evaluation,
# and mypy on a use of it through the installed stubs.
# Usage: pip_venv_test.sh SOURCE_DIR WORK [PYTHON]
set -euo pipefail
source=$(cd "$1" && pwd)
mkdir -p "$2"
work=$(cd "$2" && pwd)  # absolute: the checks below run from inside it
python=${3:-/usr/bin/python3}
unset PYTHONPATH
rm -rf "$work"
mkdir -p "$work/src"
(cd "$source" && git ls-files -z --cached --others --exclude-standard |
   tar --null -T - --ignore-failed-read -cf - 2>/dev/null) | tar -C "$work/src" -xf -

"$python" -m venv --system-site-packages "$work/venv"
PIP_NO_INDEX=1 PIP_DISABLE_PIP_VERSION_CHECK=1 \
  "$work/venv/bin/pip" install -q --no-build-isolation "$work/src" >"$work/pip.log" 2>&1 ||
  { tail -40 "$work/pip.log"; exit 1; }

version=$(sed -n 's/^project(XRQ5 VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
cd "$work"
"$work/venv/bin/python" - "$work/venv" "$source/examples" "$version" <<'PY'
import os
import sys

import xrq5

venv, examples, version = sys.argv[1:]
here = os.path.dirname(xrq5.__file__)
assert here.startswith(venv + "/"), here
assert xrq5.__version__ == version, (xrq5.__version__, version)
for f in ("py.typed", "__init__.pyi", "_xrq5.pyi"):
    assert os.path.isfile(os.path.join(here, f)), f
assert any(n.startswith("libXRQ5USERTRIG.so.") for n in os.listdir(here)), os.listdir(here)
triggers = xrq5.read_triggers_file(examples + "/triggers.xml")
env = xrq5.read_env_dict_file(examples + "/env_dict.xml")
outcome = xrq5.evaluate(triggers, examples + "/events.xrq5ev", env)
fires = sum(len(o["fired"]) for o in outcome)
assert fires == 11, fires
print("pip-installed xrq5", xrq5.__version__, "from", here, ":", fires, "fires")
PY

# mypy finds the installed stubs (py.typed) with no search path of ours.
printf 'import xrq5\nn: int = xrq5.read_triggers_file("t.xml")[0].subchannel\n' >"$work/good.py"
printf 'import xrq5\nxrq5.read_triggers_file(3)\n' >"$work/bad.py"
if "$work/venv/bin/python" -c 'import mypy' 2>/dev/null; then
  "$work/venv/bin/python" -m mypy --strict --no-incremental --cache-dir /dev/null "$work/good.py"
  if "$work/venv/bin/python" -m mypy --no-incremental --cache-dir /dev/null "$work/bad.py" \
      >"$work/bad.out"; then
    echo "mypy accepted a wrong argument type" >&2; exit 1
  fi
  grep -q 'bad.py:2: error' "$work/bad.out"
fi
