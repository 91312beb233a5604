"""The trigger report: its numbers against `xrq5xml eval --json` and NumPy, its size on a
large archive, bad input as eval handles it, and the page in a browser with no network."""
import html.parser
import importlib.util
import json
import os
import shutil
import struct
import subprocess
import sys

import numpy as np
import pytest

import xrq5
import xrq5.report as report

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import headless_page  # noqa: E402

SOURCE = os.environ.get("XRQ5_SOURCE_DIR",
                        os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
TOOL = os.environ.get("XRQ5_TOOL", "xrq5xml")
EXAMPLES = os.path.join(SOURCE, "examples")
TRIGGERS = os.path.join(EXAMPLES, "triggers.xml")
EVENTS = os.path.join(EXAMPLES, "events.xrq5ev")
ENV_DICT = os.path.join(EXAMPLES, "env_dict.xml")
# Where the screenshot README shows is written when XRQ5_UPDATE_SCREENSHOT is set.
SCREENSHOT = os.path.join(EXAMPLES, "python", "report.png")


def run_report(*args, cwd=None):
    return subprocess.run([sys.executable, "-m", "xrq5.report", *args],
                          capture_output=True, text=True, cwd=cwd)


def eval_json(*args):
    r = subprocess.run([TOOL, "eval", *args, "--json"], capture_output=True, text=True)
    return json.loads(r.stdout.splitlines()[-1])["summary"]


class Page(html.parser.HTMLParser):
    """The summary table's rows (the data-sort value of every cell), the figures, and the
    sections that say they have no plot."""

    def __init__(self, text):
        super().__init__()
        self.rows, self.noplot, self.figures, self._script = {}, set(), None, None
        self.scripts, self.links = 0, []
        self._row = self._section = None
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        self.links += [v for k, v in attrs if k in ("src", "href", "srcset", "data")]
        self.scripts += tag == "script"
        if tag == "tr" and "data-trigger" in a:
            self._row = self.rows.setdefault(int(a["data-trigger"]), [])
        elif tag == "td" and self._row is not None:
            self._row.append(a.get("data-sort"))
        elif tag == "section":
            self._section = int(a["id"].split("-")[1])
        elif tag == "p" and a.get("class") == "noplot":
            self.noplot.add(self._section)
        elif tag == "script" and a.get("id") == "figures":
            self._script = ""

    def handle_endtag(self, tag):
        if tag == "tr":
            self._row = None
        elif tag == "script" and self._script is not None:
            self.figures = json.loads(self._script)
            self._script = None

    def handle_data(self, data):
        if self._script is not None:
            self._script += data

    def counts(self, i):
        # index, fired, evaluations, without the channel, invalid
        return [int(self.rows[i][k]) for k in (0, 5, 6, 7, 8)]

    def quantiles(self, i):
        return [None if v == "" else float(v) for v in self.rows[i][9:12]]


def read_page(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def expected_quantiles(values, operation):
    """The limits at which a one-sided operation would have fired in 10, 1 and 0.1 % of
    the results, from NumPy."""
    values = values[np.isfinite(values)].astype(np.float64)
    if operation not in ("GT", "GTE", "LT", "LTE"):
        return [None] * 3
    if len(values) == 0:
        return [None] * 3
    levels = [0.9, 0.99, 0.999] if operation in ("GT", "GTE") else [0.1, 0.01, 0.001]
    return list(np.quantile(values, levels))


def check_against_eval(page, summaries, events, triggers_path, event_paths, env=None):
    """Counts against eval (summed over the files) and limits against NumPy."""
    triggers = xrq5.read_triggers_file(triggers_path)
    results = []
    for p in event_paths:
        out = xrq5.evaluate(xrq5.read_triggers_file(triggers_path), p,
                            xrq5.read_env_dict_file(env) if env else None)
        results.append([o["results"] for o in out])
    assert sorted(page.rows) == list(range(len(triggers)))
    assert sum(page.counts(i)[2] for i in page.rows) == sum(s["evaluations"] for s in summaries)
    for i, t in enumerate(triggers):
        fired = sum(s["per_trigger"][i]["fired"] for s in summaries)
        missing = sum(s["per_trigger"][i]["missing"] for s in summaries)
        invalid = sum(s["per_trigger"][i]["invalid"] for s in summaries)
        assert page.counts(i) == [i, fired, events - missing, missing, invalid], t
        values = np.concatenate([r[i] for r in results])
        want = expected_quantiles(values, t.operation_name)
        got = page.quantiles(i)
        for g, w in zip(got, want):
            assert (g is None) == (w is None), (i, got, want)
            if w is not None:
                assert g == pytest.approx(w, rel=1e-12, abs=1e-30), (i, got, want)


# ---- the examples -----------------------------------------------------------------------

def test_report_on_the_examples_agrees_with_eval(tmp_path):
    out = tmp_path / "r.html"
    r = run_report(TRIGGERS, EVENTS, "--env-dict", ENV_DICT, "-o", str(out), "--title", "T<1>")
    assert r.returncode == 0, r.stderr
    text = read_page(out)
    page = Page(text)
    summary = eval_json(TRIGGERS, EVENTS, "--env-dict", ENV_DICT)
    check_against_eval(page, [summary], summary["events"], TRIGGERS, [EVENTS], ENV_DICT)
    assert "<title>T&lt;1&gt;</title>" in text
    # The plotting library inline, once; no element loads anything.
    assert page.scripts == 3 and page.links == ["#trigger-%d" % i for i in range(9)]


def test_several_files_count_as_one_archive_with_fresh_trigger_state(tmp_path):
    out = tmp_path / "r.html"
    once = eval_json(TRIGGERS, EVENTS, "--env-dict", ENV_DICT)
    # Two files given, or a folder of them (hidden files and folders in it aside).
    folder = tmp_path / "run"
    (folder / "sub").mkdir(parents=True)
    for name in ("b.xrq5ev", "a.xrq5ev", ".partial"):
        shutil.copy(EVENTS, folder / name)
    for events in ([EVENTS, EVENTS], [str(folder)]):
        r = run_report(TRIGGERS, *events, "--env-dict", ENV_DICT, "-o", str(out))
        assert r.returncode == 0, r.stderr
        page = Page(read_page(out))
        # DIFF functions start afresh in the second file, so both halves count as eval's one.
        check_against_eval(page, [once, once], 2 * once["events"], TRIGGERS, [EVENTS, EVENTS],
                           ENV_DICT)
    (folder / "sub").rmdir()
    for name in ("b.xrq5ev", "a.xrq5ev", ".partial"):
        (folder / name).unlink()
    r = run_report(TRIGGERS, str(folder), "-o", str(out))
    assert (r.returncode, r.stderr) == (
        3, "xrq5-report: no recorded-event file in the folder given\n")


# ---- a generated archive ------------------------------------------------------------------

def write_archive(path, x, y, bits, present, start=1764583200):
    """Recorded events, one per 10 ms, with a three-value block GEN.X (x, y, bits) in the
    events where `present` holds."""
    name = b"GEN.X".ljust(256, b"\0")
    parts = [b"XRQ5EVTS", struct.pack("<II", 1, 0)]
    for e in range(len(x)):
        data = b""
        if present[e]:
            data = name + struct.pack("<iii3f", 60, 0, 12, x[e], y[e], bits[e])
        t = start * 1000000 + e * 10000
        parts.append(struct.pack("<IiIIII", 0x544E5645, 1, e, t // 1000000, t % 1000000,
                                 len(data)))
        parts.append(data)
    path.write_bytes(b"".join(parts))


GENERATED_TRIGGERS = """<?xml version="1.0" encoding="ISO-8859-1" ?>
<XRQ5USERTRIGGERLIST>
<USERTRIGGER><Chan name="GEN.X" subchan="0"/><Function name="VALUE"/><Operation name="GT"/>
<UpperLimit value="1.5"/><Description text="x high"/></USERTRIGGER>
<USERTRIGGER><Chan name="GEN.X" subchan="1"/><Function name="VALUE"/><Operation name="LTE"/>
<LowLimit value="0.02"/><Description text="y low"/></USERTRIGGER>
<USERTRIGGER><Chan name="GEN.X" subchan="0"/><Function name="DIFFVALUE"/><Operation name="OUTSIDE"/>
<LowLimit value="-3"/><UpperLimit value="3"/></USERTRIGGER>
<USERTRIGGER><Chan name="GEN.X" subchan="2"/><Function name="VALUE"/><Operation name="BITS"/>
<BitMask mask="0x5"/></USERTRIGGER>
<USERTRIGGER><Chan name="NOT.RECORDED" subchan="0"/><Function name="VALUE"/><Operation name="GT"/>
<UpperLimit value="0"/></USERTRIGGER>
</XRQ5USERTRIGGERLIST>
"""


def test_a_large_archive_stays_small_and_agrees_with_eval(tmp_path):
    n = 100_000
    rng = np.random.default_rng(7)
    present = rng.random(n) > 0.05
    write_archive(tmp_path / "big.xrq5ev", rng.normal(size=n).astype(np.float32),
                  rng.random(n).astype(np.float32), rng.integers(0, 64, n).astype(np.float32),
                  present)
    triggers = tmp_path / "t.xml"
    triggers.write_text(GENERATED_TRIGGERS)
    events = str(tmp_path / "big.xrq5ev")
    out = tmp_path / "big.html"
    summary = report.write(str(triggers), [events], str(out))
    text = read_page(out)
    page = Page(text)
    ev = eval_json(str(triggers), events)
    check_against_eval(page, [ev], n, str(triggers), [events])
    assert [s["fired"] for s in summary["triggers"]] == [t["fired"] for t in ev["per_trigger"]]
    assert (summary["events"], summary["problems"], summary["status"]) == (n, [], 0)

    # What the quantile limits promise: that share of the evaluations fires.
    x = xrq5.evaluate(xrq5.read_triggers_file(str(triggers)), events)
    for i, side in ((0, 1), (1, -1)):
        values = x[i]["results"][np.isfinite(x[i]["results"])]
        for share, limit in zip((0.1, 0.01, 0.001), page.quantiles(i)):
            fires = np.count_nonzero(values > limit if side > 0 else values < limit)
            assert abs(fires - share * len(values)) <= 1 + 1e-6 * len(values)

    # Besides the plotting library the page holds less than 2 MB, and no plot more than
    # a binned plot's points.
    from plotly.offline import get_plotlyjs
    assert len(text.encode()) - len(get_plotlyjs().encode()) < 2_000_000
    for plots in page.figures[:4]:
        assert plots, "every trigger with results has plots"
        for fig in plots:
            for trace in fig["data"]:
                assert len(trace["x"]) <= report.MAX_POINTS
    # x fires in ~6.7 % of the events: far more than a plot holds, so fires are per bin.
    assert summary["triggers"][0]["fired"] > report.MAX_POINTS
    assert page.figures[0][1]["data"][0]["type"] == "bar"
    assert sum(page.figures[0][1]["data"][0]["y"]) == summary["triggers"][0]["fired"]
    # The never recorded channel: counts and no plot.
    assert page.counts(4) == [4, 0, 0, n, 0] and page.noplot == {4} and page.figures[4] == []


def test_the_bit_plot_counts_what_the_bit_operations_test(tmp_path):
    # Each bit's bar against the library: a BITS trigger on that bit alone fires as often.
    values = np.array([-1, 2.9, -2.5, 1e30, -1e30, 2.0 ** 32 + 5, 6, -7.9, 0.4, 2.0 ** 31,
                       float("nan")], dtype=np.float32)
    n = len(values)
    write_archive(tmp_path / "e.xrq5ev", values, np.zeros(n), np.zeros(n), np.ones(n, bool))
    one = ('<USERTRIGGER><Chan name="GEN.X" subchan="0"/><Function name="VALUE"/>'
           '<Operation name="{}"/><BitMask mask="{}"/></USERTRIGGER>')
    triggers = tmp_path / "t.xml"
    triggers.write_text("<XRQ5USERTRIGGERLIST>" + one.format("AND", "0x5") +
                        "".join(one.format("BITS", hex(1 << b)) for b in range(32)) +
                        "</XRQ5USERTRIGGERLIST>")
    out = tmp_path / "r.html"
    summary = report.write(str(triggers), str(tmp_path / "e.xrq5ev"), str(out))
    bars = Page(read_page(out)).figures[0][0]["data"][0]
    assert bars["x"] == list(range(32))
    assert bars["y"] == [summary["triggers"][b + 1]["fired"] for b in range(32)]
    assert [c != "#4c78a8" for c in bars["marker"]["color"][:4]] == [True, False, True, False]


# ---- what has no results -----------------------------------------------------------------

def test_an_empty_archive_and_a_missing_channel_get_sections_without_plots(tmp_path):
    empty = tmp_path / "empty.xrq5ev"
    empty.write_bytes(b"XRQ5EVTS" + struct.pack("<II", 1, 0))
    out = tmp_path / "r.html"
    r = run_report(TRIGGERS, str(empty), "-o", str(out))
    assert r.returncode == 0, r.stderr
    page = Page(read_page(out))
    assert all(page.counts(i) == [i, 0, 0, 0, 0] for i in range(9))
    assert page.noplot == set(range(9))

    # Text from the documents is text in the page, never markup.
    t = xrq5.Trigger()
    t.channel, t.description = "<b>NO.SUCH</b>", "</script><script>alert(1)</script>"
    hostile = tmp_path / "t.xml"
    xrq5.write_triggers([t], str(hostile))
    r = run_report(str(hostile), EVENTS, "-o", str(out))
    assert r.returncode == 0, r.stderr
    text = read_page(out)
    assert "<script>alert" not in text and "<b>NO.SUCH" not in text
    assert "&lt;/script&gt;&lt;script&gt;alert(1)" in text
    page = Page(text)
    assert page.counts(0) == [0, 0, 0, 6, 0] and page.noplot == {0}


# ---- bad input ------------------------------------------------------------------------------

def test_bad_input_gets_the_messages_and_statuses_of_eval(tmp_path):
    bad_xml = tmp_path / "bad.xml"
    bad_xml.write_text("<XRQ5USERTRIGGERLIST><USERTRIGGER>")
    not_events = tmp_path / "text.xrq5ev"
    not_events.write_text("not events")
    missing = str(tmp_path / "none")
    # (arguments, whether a page is written: eval still sums up what it read)
    cases = [
        ([missing, EVENTS], False),
        ([TRIGGERS, missing], False),
        ([TRIGGERS, EVENTS, "--env-dict", missing], False),
        ([TRIGGERS, "/dev/null"], False),
        ([TRIGGERS, str(tmp_path / "empty")], False),
        # a file of the wrong kind for its place
        ([EVENTS, EVENTS], False),
        ([TRIGGERS, TRIGGERS], False),
        ([TRIGGERS, EVENTS, "--env-dict", TRIGGERS], False),
        ([ENV_DICT, EVENTS], False),
        # of the right kind, or of none, but broken
        ([str(bad_xml), EVENTS], False),
        ([TRIGGERS, EVENTS, "--env-dict", str(tmp_path / "bad_env.xml")], False),
        ([TRIGGERS, str(not_events), EVENTS], True),
    ]
    (tmp_path / "empty").mkdir()
    (tmp_path / "bad_env.xml").write_text("<ENVINDEXDICT><CHANNEL></ENVINDEXDICT>")
    out = tmp_path / "r.html"
    for args, written in cases:
        ours = run_report(*args, "-o", str(out))
        theirs = subprocess.run([TOOL, "eval", *args], capture_output=True, text=True)
        assert ours.returncode == theirs.returncode != 0, (args, ours.stderr)
        # The library's own messages come first, alike in both.
        assert ours.stderr.splitlines()[-1].startswith("xrq5-report: "), ours.stderr
        assert ours.stderr.replace("xrq5-report: ", "xrq5xml eval: ") == theirs.stderr, args
        assert out.exists() == written, args
        if written:
            out.unlink()

    # A damaged file among good ones: what could be read counts, as in eval, and the
    # page is written; the status says that something was wrong.
    truncated = tmp_path / "cut.xrq5ev"
    truncated.write_bytes(open(EVENTS, "rb").read()[:-40])
    files = [TRIGGERS, EVENTS, str(truncated), EVENTS, "--env-dict", ENV_DICT]
    ours = run_report(*files, "-o", str(out))
    theirs = subprocess.run([TOOL, "eval", *files, "--json"], capture_output=True, text=True)
    assert ours.returncode == theirs.returncode == 1
    assert "damaged at byte" in ours.stderr
    assert ours.stderr.replace("xrq5-report: ", "xrq5xml eval: ") == theirs.stderr
    summary = json.loads(theirs.stdout.splitlines()[-1])["summary"]
    page = Page(read_page(out))
    for i, t in enumerate(summary["per_trigger"]):
        assert page.counts(i) == [i, t["fired"], summary["events"] - t["missing"],
                                  t["missing"], t["invalid"]]
    assert summary["events"] == 6 + 5 + 6
    out.unlink()

    # An output that cannot be written fails; a device is written to, never replaced; a
    # page is replaced whole, leaving no part file behind.
    r = run_report(TRIGGERS, EVENTS, "-o", str(tmp_path / "no" / "r.html"))
    assert r.returncode == 1 and "xrq5-report: cannot write" in r.stderr
    kept = tmp_path / "kept.html"
    kept.write_text("old page")
    full = run_report(TRIGGERS, EVENTS, "-o", "/dev/full")
    assert full.returncode == 1 and "cannot write '/dev/full'" in full.stderr
    assert os.path.exists("/dev/full") and not os.path.isfile("/dev/full")
    assert run_report(TRIGGERS, EVENTS, "-o", str(kept)).returncode == 0
    assert "id=\"trigger-8\"" in kept.read_text()
    assert not list(tmp_path.glob(".xrq5-report-*"))
    # A bad command line is a usage error, as eval's.
    assert run_report(TRIGGERS).returncode == 2


# ---- in a browser ---------------------------------------------------------------------------

@pytest.mark.skipif(headless_page.chromium() is None, reason="no Chromium")
def test_the_page_draws_every_plot_offline_and_sorts(tmp_path):
    out = tmp_path / "r.html"
    # From the source folder, so that the page (and the screenshot) names the files as
    # README does.
    r = run_report("examples/triggers.xml", "examples/events.xrq5ev", "--env-dict",
                   "examples/env_dict.xml", "-o", str(out), "--title", "Example triggers",
                   cwd=SOURCE)
    assert r.returncode == 0, r.stderr
    page = Page(read_page(out))
    wanted = sum(len(p) for p in page.figures)
    with headless_page.Browser(width=1280, height=900) as b:
        b.open(out.as_uri())
        drawn = b.wait_for("document.body && document.body.getAttribute('data-plots-drawn')")
        assert int(drawn) == wanted
        plots = b.evaluate("""Array.from(document.querySelectorAll('.trigger-plot')).map(
            d => [d.id, d.getAttribute('data-drawn'), d.querySelectorAll('svg.main-svg').length,
                  d.querySelectorAll('.bars path, .points path').length])""")
        ids = {f"plot-{t}-{k}" for t, p in enumerate(page.figures) for k in range(len(p))}
        assert {p[0] for p in plots} == ids
        for pid, flag, svgs, marks in plots:
            assert flag == "true" and svgs > 0 and marks > 0, pid
        # Clicking "fired" twice orders the rows by fires, most first.
        order = b.evaluate("""(() => {
            const th = document.querySelectorAll('#summary thead tr:last-child th')[5];
            th.click(); th.click();
            return Array.from(document.querySelectorAll('#summary tbody tr')).map(
              tr => Number(tr.cells[5].getAttribute('data-sort')));
            })()""")
        assert order == sorted(order, reverse=True) and len(order) == 9
        b.evaluate("document.querySelectorAll('#summary thead tr:last-child th')[0].click()")
        # Nothing but the page itself and inline data was requested.
        requests = b.requests()
        assert requests and requests[0] == out.as_uri()
        assert all(u == out.as_uri() or u.startswith(("data:", "blob:")) for u in requests), \
            requests
        shot = SCREENSHOT if os.environ.get("XRQ5_UPDATE_SCREENSHOT") else str(tmp_path / "r.png")
        b.screenshot(shot, height=1400)
    with open(shot, "rb") as f:
        assert f.read(8) == b"\x89PNG\r\n\x1a\n"


@pytest.mark.skipif(importlib.util.find_spec("mypy") is None, reason="no mypy")
def test_the_report_is_typed_for_its_callers(tmp_path):
    use = tmp_path / "use.py"
    use.write_text("import xrq5.report\n"
                   "rows = xrq5.report.write('t.xml', ['a.xrq5ev', 'b.xrq5ev'], 'r.html')\n"
                   "fired: int = rows['triggers'][0]['fired']\n"
                   "status: int = xrq5.report.main(['t.xml', 'e.xrq5ev'])\n"
                   "xrq5.report.write('t.xml', 'e.xrq5ev', title=3)\n")
    r = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental",
                        "--cache-dir", str(tmp_path / "cache"), str(use)],
                       capture_output=True, text=True,
                       env=dict(os.environ, MYPYPATH=os.environ.get("PYTHONPATH", "")))
    errors = [l for l in r.stdout.splitlines() if ": error:" in l]
    assert len(errors) == 1 and "use.py:5:" in errors[0], r.stdout
