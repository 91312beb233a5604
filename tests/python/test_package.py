"""The package around the extension: its names, its version, its stubs as mypy reads them."""
import importlib.util
import os
import re
import subprocess
import sys

import pytest

import xrq5
import xrq5._xrq5 as ext

SOURCE = os.environ.get("XRQ5_SOURCE_DIR",
                        os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
PACKAGE_DIR = os.path.dirname(xrq5.__file__)


def test_version_is_the_projects():
    with open(os.path.join(SOURCE, "CMakeLists.txt")) as f:
        version = re.search(r"project\(XRQ5 VERSION (\d+\.\d+\.\d+)", f.read()).group(1)
    assert xrq5.__version__ == version
    # The Debian package carries the same one.
    with open(os.path.join(SOURCE, "debian", "changelog")) as f:
        assert re.match(r"xrq5 \(([^)-]+)", f.readline()).group(1) == version


def test_every_name_of_the_extension_is_a_name_of_the_package():
    public = [n for n in dir(ext) if not n.startswith("_")]
    assert len(public) > 30
    for name in public:
        assert getattr(xrq5, name) is getattr(ext, name), name
    assert issubclass(xrq5.Error, RuntimeError)


def stub_names(path):
    with open(path) as f:
        text = f.read()
    return set(re.findall(r"^(?:class|def) (\w+)", text, re.M))


def test_stubs_and_marker_sit_beside_the_extension():
    assert os.path.isfile(os.path.join(PACKAGE_DIR, "py.typed"))
    stubbed = stub_names(os.path.join(PACKAGE_DIR, "_xrq5.pyi"))
    public = {n for n in dir(ext) if not n.startswith("_")}
    # Every public name has a stub, and no stub describes a name that is not there.
    assert public - stubbed == set()
    assert stubbed - public == set()


def test_every_attribute_has_a_docstring():
    undocumented = []
    for name in dir(ext):
        if name.startswith("_"):
            continue
        obj = getattr(ext, name)
        if not (obj.__doc__ or "").strip():
            undocumented.append(name)
        if isinstance(obj, type) and obj is not xrq5.Error:
            for attr, member in vars(obj).items():
                if attr.startswith("_") and attr != "__init__":
                    continue
                doc = getattr(member, "__doc__", None) or ""
                # pybind11 writes the signature as the first line; a description follows it.
                lines = [l for l in doc.strip().splitlines() if l.strip()]
                if attr == "__init__" or callable(member) and not isinstance(member, property):
                    described = len(lines) > 1 or (lines and not lines[0].startswith(attr + "("))
                else:
                    described = bool(lines)
                if not described:
                    undocumented.append(name + "." + attr)
    assert undocumented == []


MYPY = importlib.util.find_spec("mypy") is not None

GOOD = """
import xrq5
triggers: list[xrq5.Trigger] = xrq5.read_triggers_file("t.xml")
t = triggers[0]
t.low = 1.5
name: str = t.function_name
r = t.result
if r is not None:
    print(r + 1.0)
out = xrq5.evaluate(triggers, "events.xrq5ev", xrq5.read_env_dict_file("d.xml"))
print(out[0]["fired"].size, xrq5.__version__)
sel = xrq5.ChannelSelector(["a.xml"], shift=False)
ok: bool = sel.find_channel(1, "CH")
xml: str = xrq5.channels_to_xml(xrq5.read_channels("<x/>"), form="var")
"""

# Each line a wrong use that mypy must report on that line.
BAD = [
    "xrq5.read_triggers_file(3)",
    "xrq5.Trigger().low = 'high'",
    "n: int = xrq5.Trigger().channel",
    "xrq5.write_ev_list(xrq5.read_triggers(''), 'out.xml')",
    "xrq5.ChannelSelector(shift='yes')",
    "v: int = xrq5.__version__",
    "xrq5.evaluate([xrq5.Trigger()], 42)",
]


def mypy(tmp_path, lines):
    path = tmp_path / "use.py"
    path.write_text("import xrq5\n" + "\n".join(lines) + "\n")
    env = dict(os.environ, MYPYPATH=os.path.dirname(PACKAGE_DIR))
    return subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental",
                           "--cache-dir", os.devnull, str(path)],
                          capture_output=True, text=True, env=env, cwd=tmp_path)


@pytest.mark.skipif(not MYPY, reason="mypy is not installed")
def test_mypy_passes_a_correct_use(tmp_path):
    r = mypy(tmp_path, GOOD.strip().splitlines()[1:])
    assert r.returncode == 0, r.stdout + r.stderr


@pytest.mark.skipif(not MYPY, reason="mypy is not installed")
def test_mypy_rejects_each_wrong_argument_type(tmp_path):
    r = mypy(tmp_path, BAD)
    assert r.returncode == 1, r.stdout + r.stderr
    flagged = {int(n) for n in re.findall(r"^use\.py:(\d+): error", r.stdout, re.M)}
    assert flagged == set(range(2, len(BAD) + 2)), r.stdout
