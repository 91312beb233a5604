"""Recorded events streamed from files: iter_events, evaluate over paths, the stream
under a memory limit, and the Dask example against `xrq5xml eval`."""
import json
import os
import pathlib
import struct
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import xrq5

SOURCE = os.environ.get("XRQ5_SOURCE_DIR",
                        os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
TOOL = os.environ.get("XRQ5_TOOL", "xrq5xml")
EXAMPLES = os.path.join(SOURCE, "examples")
EVENTS = os.path.join(EXAMPLES, "events.xrq5ev")
TRIGGERS = os.path.join(EXAMPLES, "triggers.xml")


def summary_of(out):
    return json.loads(out.strip().splitlines()[-1])


def test_iter_events_streams_what_read_events_reads(tmp_path):
    whole = xrq5.read_events(EVENTS)
    for path in (EVENTS, pathlib.Path(EVENTS)):
        streamed = list(xrq5.iter_events(path))
        assert [e.ev_number for e in streamed] == [e.ev_number for e in whole]
        assert [e.data for e in streamed] == [e.data for e in whole]
    # A damaged file: the events before the damage, then the error.
    cut = tmp_path / "cut.ev"
    data = pathlib.Path(EVENTS).read_bytes()
    cut.write_bytes(data[:-7])
    it = xrq5.iter_events(cut)
    got = []
    with pytest.raises(xrq5.Error, match="truncated|declares"):
        for e in it:
            got.append(e.ev_number)
    assert got == [e.ev_number for e in whole[:-1]]
    with pytest.raises(FileNotFoundError):
        xrq5.iter_events(tmp_path / "missing.ev")
    with pytest.raises(FileNotFoundError):
        xrq5.evaluate([], [EVENTS, tmp_path / "missing.ev"])


def test_evaluate_over_paths_is_each_file_alone(tmp_path):
    triggers = xrq5.read_triggers_file(TRIGGERS)
    env = xrq5.read_env_dict_file(os.path.join(EXAMPLES, "env_dict.xml"), False)
    one = xrq5.evaluate(triggers, EVENTS, env)
    second = tmp_path / "second.ev"
    second.write_bytes(pathlib.Path(EVENTS).read_bytes())
    both = xrq5.evaluate(triggers, [EVENTS, second], env_dict=env)
    n = len(one[0]["results"])
    for a, b in zip(one, both):
        np.testing.assert_array_equal(b["results"], np.concatenate([a["results"], a["results"]]))
        # The second file's DIFF triggers start over: the same indices, shifted.
        np.testing.assert_array_equal(b["fired"], np.concatenate([a["fired"], a["fired"] + n]))
        np.testing.assert_array_equal(b["missing"], np.concatenate([a["missing"], a["missing"] + n]))
    # The counts are what the tool gives for the same files.
    r = subprocess.run([TOOL, "eval", "--json", "--env-dict", os.path.join(EXAMPLES, "env_dict.xml"),
                        TRIGGERS, EVENTS, str(second)], capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    per = summary_of(r.stdout)["summary"]["per_trigger"]
    assert [len(t["fired"]) for t in both] == [p["fired"] for p in per]
    assert [len(t["missing"]) for t in both] == [p["missing"] for p in per]


def write_sparse_events(path, n, hole):
    """n events, each a COUNT block and a block of `hole` bytes never written."""
    with open(path, "wb") as f:
        f.write(b"XRQ5EVTS" + struct.pack("<II", 1, 0))
        at = 16
        for i in range(n):
            count = b"COUNT".ljust(256, b"\0") + struct.pack("<iii", 60, 0, 4) + struct.pack("<f", i)
            big = b"HOLE".ljust(256, b"\0") + struct.pack("<iii", 60, 0, hole)
            length = len(count) + len(big) + hole
            f.seek(at)
            f.write(struct.pack("<IiIIII", 0x544E5645, 1, i, 3000 + i, 0, length) + count + big)
            at += 24 + length
        f.truncate(at)
    return at


def test_the_stream_under_a_memory_limit(tmp_path):
    if "asan" in os.environ.get("LD_PRELOAD", ""):
        pytest.skip("the address sanitizer's shadow memory does not fit an address-space limit")
    path = tmp_path / "big.ev"
    n = 48
    size = write_sparse_events(path, n, 16 << 20)
    assert size > 768 << 20
    triggers = tmp_path / "t.xml"
    triggers.write_text('<?xml version="1.0"?><XRQ5USERTRIGGERLIST><USERTRIGGER>'
                        '<Chan name="COUNT" subchan="0"/><Function name="VALUE"/>'
                        '<Operation name="GT"/><UpperLimit value="9.5"/></USERTRIGGER>'
                        '</XRQ5USERTRIGGERLIST>')
    # The child caps its own address space at what it holds now plus 256 MB: a reader
    # that held the file (768 MB) could not.
    script = textwrap.dedent(f"""
        import resource, xrq5
        vm = [int(l.split()[1]) * 1024 for l in open("/proc/self/status") if l.startswith("VmSize")][0]
        resource.setrlimit(resource.RLIMIT_AS, (vm + (256 << 20),) * 2)
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        numbers = [e.ev_number for e in xrq5.iter_events({str(path)!r})]
        out = xrq5.evaluate(xrq5.read_triggers_file({str(triggers)!r}), {str(path)!r})[0]
        grown = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before
        print(len(numbers), numbers[-1], len(out["results"]), len(out["fired"]), grown)
    """)
    env = dict(os.environ, OPENBLAS_NUM_THREADS="1", OMP_NUM_THREADS="1")
    r = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, env=env)
    assert r.returncode == 0, r.stderr
    events, last, results, fired, grown_kb = map(int, r.stdout.split())
    assert (events, last, results, fired) == (n, n - 1, n, n - 10)
    assert grown_kb <= 64 * 1024


def test_dask_example_gives_the_tools_summary(tmp_path):
    pytest.importorskip("distributed")
    season = tmp_path / "season"
    season.mkdir()
    data = pathlib.Path(EVENTS).read_bytes()
    for name in ("run1.ev", "run2.ev", "run3.ev"):
        (season / name).write_bytes(data)
    env = os.path.join(EXAMPLES, "env_dict.xml")
    tool = subprocess.run([TOOL, "eval", "--json", "--env-dict", env, TRIGGERS, str(season)],
                          capture_output=True, text=True)
    assert tool.returncode == 0, tool.stderr
    script = os.path.join(EXAMPLES, "python", "dask_eval.py")
    r = subprocess.run([sys.executable, script, TRIGGERS, str(season), "--env-dict", env,
                        "--workers", "2"], capture_output=True, text=True, timeout=300)
    assert r.returncode == 0, r.stderr
    got = summary_of(r.stdout)
    assert got == summary_of(tool.stdout)
    assert got["summary"]["events"] == 18
