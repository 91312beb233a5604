"""A trigger report: one self-contained HTML page that shows, per trigger, where its
function results fall, where its limits are, how often and when it fired, and what
limit would have made it fire in 10 %, 1 % and 0.1 % of the evaluated events.

    python3 -m xrq5.report TRIGGERS EVENTS... [--env-dict DICT] [-o report.html] [--title T]

EVENTS are recorded-event files or folders of them (their files in name order). The
page embeds the plotting library and needs no network. Bad input gets what
`xrq5xml eval` gives: the same messages and exit statuses (3 for a file that cannot be
opened, 1 for one that does not read cleanly or a trigger that is invalid, 2 for a bad
command line).
"""
import argparse
import datetime
import math
import os
import stat
import sys
import tempfile
import warnings
import xml.parsers.expat
from typing import Any, Dict, Iterable, Optional, Sequence, Union

import numpy as np

import xrq5

PROG = "xrq5-report"

# Exit statuses, as the tool's.
EXIT_CLEAN, EXIT_PROBLEMS, EXIT_USAGE, EXIT_UNREADABLE = 0, 1, 2, 3
# The event reader's result for a file it could not open.
_EVENTS_OPEN_FAILED = 1

# Operations that fire on one side of one limit: which limit, and whether results above
# (+1) or below (-1) it fire.
ONE_SIDED = {"GT": ("upper", +1), "GTE": ("upper", +1), "LT": ("low", -1), "LTE": ("low", -1)}
# The limits each operation compares with.
LIMITS = {
    "GT": ("upper",), "GTE": ("upper",), "EQ": ("low",), "LTE": ("low",), "LT": ("low",),
    "INSIDE": ("low", "upper"), "INSIDEWITHLIMITS": ("low", "upper"),
    "OUTSIDE": ("low", "upper"), "OUTSIDEWITHLIMITS": ("low", "upper"),
}
BIT_OPERATIONS = ("AND", "BITS")
# Fire fractions whose limits the summary shows.
FRACTIONS = (0.1, 0.01, 0.001)

# A plot holds at most this many points; more are binned.
MAX_POINTS = 2000
HISTOGRAM_BINS = 100
TIME_BINS = 400


class InputError(Exception):
    """Input the report cannot use: `status` is the exit status `xrq5xml eval` gives."""

    def __init__(self, message: str, status: int, reported: Sequence[str] = ()) -> None:
        super().__init__(message)
        self.status = status
        # What the libraries reported on the way (FILE:LINE:COLUMN: lines), shown first.
        self.reported = list(reported)


# ---- reading and evaluating ------------------------------------------------------------

def _open_check(path):
    """As the tool checks a file before it reads it: it exists, is a regular file and opens."""
    try:
        st = os.stat(path)
    except OSError as e:
        raise InputError(f"cannot open '{path}': {os.strerror(e.errno)}", EXIT_UNREADABLE)
    if not stat.S_ISREG(st.st_mode):
        why = "it is a folder" if stat.S_ISDIR(st.st_mode) else "not a regular file"
        raise InputError(f"cannot open '{path}': {why}", EXIT_UNREADABLE)
    try:
        os.close(os.open(path, os.O_RDONLY | os.O_NONBLOCK))
    except OSError as e:
        raise InputError(f"cannot open '{path}': {os.strerror(e.errno)}", EXIT_UNREADABLE)


def _reading(call, notes):
    """call(), its warnings (xrq5.Warning) added to `notes` as the libraries word them;
    with `notes` None they are dropped (a document read again)."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        result = call()
    if notes is not None:
        notes += [str(w.message) for w in caught if issubclass(w.category, xrq5.Warning)]
    return result


def _read_triggers(path, notes=None):
    try:
        return _reading(lambda: xrq5.read_triggers_file(path), notes)
    except xrq5.Error as e:
        raise InputError(f"'{path}' did not read cleanly as a trigger list", EXIT_PROBLEMS,
                         e.messages)


# Root elements of the document kinds, named as the tool names them.
KINDS = {
    "BMR": "an event list",
    "CHANDESCRIPTIONS": "channel descriptions, tag form",
    "DAQvariables": "channel descriptions, variable form",
    "XRQ5USERTRIGGERLIST": "a trigger list",
    "ENVINDEXDICT": "an environment index dictionary",
    "RegisterDescription": "a camera feature description",
}


def _is_recorded_events(path):
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
    except OSError:
        return False
    try:
        return stat.S_ISREG(os.fstat(fd).st_mode) and os.read(fd, 8) == b"XRQ5EVTS"
    finally:
        os.close(fd)


class _RootFound(Exception):
    pass


def _root_of(path):
    """The name of an XML file's root element; None where the file has none (not XML,
    or broken before the root)."""
    parser = xml.parsers.expat.ParserCreate()
    found = []

    def start(name, attrs):
        found.append(name)
        raise _RootFound

    parser.StartElementHandler = start
    try:
        with open(path, "rb") as f:
            while True:
                chunk = f.read(1 << 16)
                parser.Parse(chunk, not chunk)
                if not chunk:
                    break
    except (_RootFound, xml.parsers.expat.ExpatError, OSError):
        pass
    return found[0] if found else None


def _check_kind(path, root):
    """As the tool refuses a file of the wrong kind for its place (the two swapped, say):
    `root` is the wanted document's root element, None for recorded events."""
    wanted = KINDS[root] if root else "a recorded-event file"
    if _is_recorded_events(path):
        if root is None:
            return
        raise InputError(f"'{path}' is a recorded-event file, not {wanted}", EXIT_UNREADABLE)
    found = _root_of(path)
    if found not in KINDS:
        return  # its reader says what is wrong
    if found != root:
        raise InputError(f"'{path}' is {KINDS[found]}, not {wanted}", EXIT_UNREADABLE)


def _times(events):
    return np.fromiter((e.time_sec + e.time_usec * 1e-6 for e in events), dtype=np.float64)


def _evaluate_file(triggers_path, path, env):
    """One file's event times and per trigger its evaluation there, from a fresh trigger
    state (a DIFF function does not look back into the file before), streamed one event
    at a time; and what was wrong with the file (an InputError) or None. A file that does
    not open counts nothing; of a damaged one the events before the damage count, as the
    tool counts them."""
    try:
        stream = xrq5.iter_events(path)
    except OSError as e:
        return np.zeros(0), None, InputError(f"cannot open '{path}': {e.strerror}",
                                             EXIT_UNREADABLE)
    except xrq5.Error as e:
        status = EXIT_UNREADABLE if e.code == _EVENTS_OPEN_FAILED else EXIT_PROBLEMS
        return np.zeros(0), None, InputError(str(e), status)
    try:
        times = _times(stream)
    except xrq5.Error as e:
        problem = InputError(f"'{path}' is damaged at byte {e.offset}: {e}", EXIT_PROBLEMS)
    else:
        try:
            outcome = xrq5.evaluate(_read_triggers(triggers_path), path, env_dict=env)
        except xrq5.Error as e:
            raise InputError(f"'{path}' changed while the report was made: {e}", EXIT_PROBLEMS)
        if outcome and len(outcome[0]["results"]) != len(times):
            raise InputError(f"'{path}' changed while the report was made", EXIT_PROBLEMS)
        return times, outcome, None
    # Only here are events held: those before the damage.
    events = []
    try:
        for ev in xrq5.iter_events(path):
            events.append(ev)
    except xrq5.Error:
        pass
    outcome = xrq5.evaluate(_read_triggers(triggers_path), events, env_dict=env)
    return _times(events), outcome, problem


class TriggerResults:
    """What the report holds of one trigger over all files: its results and counts."""

    def __init__(self, index, trigger):
        self.index = index
        self.channel = trigger.channel
        self.subchannel = trigger.subchannel
        self.function = trigger.function_name
        self.operation = trigger.operation_name
        self.description = trigger.description
        self.group = trigger.group
        self.low, self.upper, self.bitmask = trigger.low, trigger.upper, trigger.bitmask
        self._results, self._fired = [], []
        self.missing = self.invalid = 0

    def add(self, outcome, offset):
        self._results.append(np.asarray(outcome["results"], dtype=np.float32))
        self._fired.append(np.asarray(outcome["fired"], dtype=np.int64) + offset)
        self.missing += len(outcome["missing"])
        self.invalid += len(outcome["invalid"])

    def finish(self):
        self.results = np.concatenate(self._results) if self._results else np.zeros(0, np.float32)
        self.fired_at = np.concatenate(self._fired) if self._fired else np.zeros(0, np.int64)
        del self._results, self._fired
        self.events = len(self.results)
        self.fired = len(self.fired_at)
        self.evaluations = self.events - self.missing
        self.values = self.results[np.isfinite(self.results)]

    def limit_quantiles(self):
        """For a one-sided operation, the limits that would have fired in each of FRACTIONS
        of the results (None where there are none); None for other operations."""
        if self.operation not in ONE_SIDED:
            return None
        side = ONE_SIDED[self.operation][1]
        if len(self.values) == 0:
            return [None] * len(FRACTIONS)
        levels = [1 - f if side > 0 else f for f in FRACTIONS]
        return [float(q) for q in np.quantile(self.values.astype(np.float64), levels)]

    def limits(self):
        if self.operation in BIT_OPERATIONS:
            return [("mask", self.bitmask)]
        return [(name, getattr(self, name)) for name in LIMITS.get(self.operation, ())]


def event_files(paths):
    """The recorded-event files of the arguments: files as given, a folder's regular
    files (not hidden) in name order."""
    if isinstance(paths, (str, os.PathLike)):
        paths = [paths]
    files = []
    for p in map(os.fspath, paths):
        if not os.path.isdir(p):
            files.append(p)
            continue
        try:
            names = os.listdir(p)
        except OSError as e:
            raise InputError(f"cannot read the folder '{p}': {os.strerror(e.errno)}",
                             EXIT_UNREADABLE)
        inside = [os.path.join(p, n) for n in names if not n.startswith(".")]
        files += sorted(f for f in inside if os.path.isfile(f))
    if not files:
        raise InputError("no recorded-event file in the folder given", EXIT_UNREADABLE)
    return files


def collect(triggers_path, events_paths, env_dict=None, notes=None):
    """Evaluates the trigger list on every events file (or folder of them) as the tool
    does. Returns (TriggerResults per trigger, event times in seconds, problems): the
    problems of single files (one that would not open, one damaged), each an InputError
    with the tool's message and status, do not stop the others. Input that stops the
    tool raises InputError. The documents' warnings are added to `notes`."""
    triggers_path = os.fspath(triggers_path)
    events_paths = event_files(events_paths)
    env_dict = os.fspath(env_dict) if env_dict else None
    given = [triggers_path, *events_paths] + ([env_dict] if env_dict else [])
    for p in given:
        _open_check(p)
    _check_kind(triggers_path, "XRQ5USERTRIGGERLIST")
    for p in events_paths:
        _check_kind(p, None)
    if env_dict:
        _check_kind(env_dict, "ENVINDEXDICT")
    env = None
    if env_dict:
        try:
            env = _reading(lambda: xrq5.read_env_dict_file(env_dict), notes)
        except xrq5.Error as e:
            raise InputError(f"'{env_dict}' did not read cleanly as an environment index "
                             f"dictionary (result {e.code})", EXIT_PROBLEMS, e.messages)
    per = [TriggerResults(i, t) for i, t in enumerate(_read_triggers(triggers_path, notes))]
    times, offset, problems = [], 0, []
    for path in events_paths:
        file_times, outcome, problem = _evaluate_file(triggers_path, path, env)
        if problem is not None:
            problems.append(problem)
        if outcome is None:
            continue
        if len(outcome) != len(per):
            raise InputError(f"'{triggers_path}' changed while the report was made",
                             EXIT_PROBLEMS)
        for r, out in zip(per, outcome):
            r.add(out, offset)
        times.append(file_times)
        offset += len(file_times)
    for r in per:
        r.finish()
    return per, (np.concatenate(times) if times else np.zeros(0)), problems


# ---- plots ---------------------------------------------------------------------------------

def _num(x):
    """A float as JSON takes it: None for what is not finite."""
    x = float(x)
    return x if math.isfinite(x) else None


def _value_range(values, marks):
    """The x range of a histogram: the values' range, widened to take in limits close
    enough not to squash the data; limits farther off are noted instead."""
    lo, hi = float(values.min()), float(values.max())
    span = hi - lo or abs(lo) or 1.0
    view_lo, view_hi = lo - 0.05 * span, hi + 0.05 * span
    on, off = [], []
    for name, v in marks:
        if math.isfinite(v) and lo - 3 * span <= v <= hi + 3 * span:
            view_lo, view_hi = min(view_lo, v - 0.05 * span), max(view_hi, v + 0.05 * span)
            on.append((name, v))
        else:
            off.append((name, v))
    return (lo, hi, span), (view_lo, view_hi), on, off


def histogram_figure(r):
    values = r.values.astype(np.float64)
    marks = r.limits()
    (lo, hi, span), view, on, off = _value_range(values, marks)
    if lo == hi:
        edges = np.linspace(lo - 0.05 * span, lo + 0.05 * span, 11)
    else:
        edges = np.linspace(lo, hi, min(HISTOGRAM_BINS, max(10, int(math.sqrt(len(values))))) + 1)
    fired_values = r.results[r.fired_at].astype(np.float64)
    fired_values = fired_values[np.isfinite(fired_values)]
    all_counts, _ = np.histogram(values, edges)
    fired_counts, _ = np.histogram(fired_values, edges)
    centers = [_num(c) for c in (edges[:-1] + edges[1:]) / 2]
    width = _num(edges[1] - edges[0])
    data = [
        {"type": "bar", "name": "not fired", "x": centers, "width": width,
         "y": (all_counts - fired_counts).tolist(), "marker": {"color": "#4c78a8"}},
        {"type": "bar", "name": "fired", "x": centers, "width": width,
         "y": fired_counts.tolist(), "marker": {"color": "#e45756"}},
    ]
    shapes, notes = [], []
    for name, v in on:
        shapes.append({"type": "line", "xref": "x", "yref": "paper", "x0": v, "x1": v,
                       "y0": 0, "y1": 1, "line": {"color": "#222", "width": 2, "dash": "dash"}})
        notes.append({"xref": "x", "yref": "paper", "x": v, "y": 1, "yanchor": "bottom",
                      "showarrow": False, "text": f"{name} {v:.6g}"})
    for k, (name, v) in enumerate(off):
        right = not v < lo  # NaN too
        notes.append({"xref": "paper", "yref": "paper", "x": 1 if right else 0,
                      "xanchor": "right" if right else "left", "y": 0.9 - 0.1 * k,
                      "showarrow": False,
                      "text": f"{name} {v:.6g} {'→' if right else '←'} off the scale"})
    layout = {"barmode": "stack", "bargap": 0, "title": {"text": "function results"},
              "xaxis": {"title": {"text": r.function}, "range": list(view)},
              "yaxis": {"title": {"text": "events"}}, "shapes": shapes, "annotations": notes,
              "updatemenus": [_log_switch()]}
    return {"data": data, "layout": layout}


def _log_switch():
    """Buttons that put the counts on a log scale, where the tails a rare limit cuts show."""
    return {"type": "buttons", "direction": "right", "x": 1.02, "xanchor": "left", "y": 0.1,
            "yanchor": "bottom", "showactive": True, "font": {"size": 10}, "pad": {"l": 0},
            "buttons": [{"label": "linear", "method": "relayout", "args": [{"yaxis.type": "linear"}]},
                        {"label": "log", "method": "relayout", "args": [{"yaxis.type": "log"}]}]}


def bit_values(values):
    """What the bit operations test: the result truncated toward zero to a 64-bit integer
    (0 beyond its range), of which the low 32 bits."""
    values = np.asarray(values, dtype=np.float64)
    inside = np.abs(values) < 2.0 ** 63
    return np.where(inside, np.trunc(np.where(inside, values, 0)), 0).astype(np.int64) & 0xFFFFFFFF


def bits_figure(r):
    bits = bit_values(r.values)
    mask = r.bitmask & 0xFFFFFFFF
    top = max(8, int(bits.max()).bit_length() if len(bits) else 0, mask.bit_length())
    counts = [int(np.count_nonzero((bits >> b) & 1)) for b in range(top)]
    colors = ["#e45756" if mask >> b & 1 else "#4c78a8" for b in range(top)]
    data = [{"type": "bar", "name": "events with the bit set", "x": list(range(top)),
             "y": counts, "marker": {"color": colors}}]
    layout = {"title": {"text": f"bits of the results (mask 0x{mask:x} in red)"},
              "xaxis": {"title": {"text": "bit"}, "dtick": 1},
              "yaxis": {"title": {"text": "events"}}, "showlegend": False}
    return {"data": data, "layout": layout}


def fires_figure(r, times):
    """Fires over event time: each fire with its result, or fires per time bin when there
    are more than a plot holds."""
    t = times[r.fired_at]
    layout = {"title": {"text": "fires over event time"}, "showlegend": False,
              "xaxis": {"type": "date", "title": {"text": "event time (UTC)"}}}
    if len(t) <= MAX_POINTS:
        y = r.results[r.fired_at].astype(np.float64)
        data = [{"type": "scatter", "mode": "markers", "name": "fired",
                 "x": [round(v * 1000.0, 3) for v in t.tolist()],
                 "y": [_num(v) for v in y], "marker": {"color": "#e45756", "size": 6}}]
        layout["yaxis"] = {"title": {"text": "result"}}
        return {"data": data, "layout": layout}
    lo, hi = float(t.min()), float(t.max())
    if hi <= lo:
        hi = lo + 1.0
    counts, edges = np.histogram(t, np.linspace(lo, hi, TIME_BINS + 1))
    data = [{"type": "bar", "name": "fires", "x": [round(v * 1000.0, 3) for v in
                                                  ((edges[:-1] + edges[1:]) / 2).tolist()],
             "y": counts.tolist(), "width": (edges[1] - edges[0]) * 1000.0,
             "marker": {"color": "#e45756"}}]
    layout["bargap"] = 0
    layout["yaxis"] = {"title": {"text": f"fires per {_duration(edges[1] - edges[0])}"}}
    return {"data": data, "layout": layout}


def _duration(seconds):
    for unit, size in (("h", 3600.0), ("min", 60.0), ("s", 1.0), ("ms", 1e-3)):
        if seconds >= size:
            return f"{seconds / size:.3g} {unit}"
    return f"{seconds * 1e6:.3g} µs"


def figures(r, times):
    """The plots of one trigger: none when it has no result at all."""
    if len(r.values) == 0:
        return []
    plots = [bits_figure(r) if r.operation in BIT_OPERATIONS else histogram_figure(r)]
    if r.fired:
        plots.append(fires_figure(r, times))
    return plots


# ---- the page ------------------------------------------------------------------------------

def _limit_text(name, value):
    return f"mask 0x{value & 0xFFFFFFFF:x}" if name == "mask" else f"{name} {value:.6g}"


def _environment():
    import jinja2
    here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "templates")
    env = jinja2.Environment(loader=jinja2.FileSystemLoader(here),
                             autoescape=jinja2.select_autoescape(["html", "j2"]),
                             undefined=jinja2.StrictUndefined)
    env.filters["num"] = lambda v: "—" if v is None else f"{v:.6g}"
    return env


def _plotly_js():
    from plotly.offline import get_plotlyjs
    # Nothing in a script element may close it early.
    return get_plotlyjs().replace("</script", "<\\/script")


def render(per, times, title, sources):
    rows = []
    for r in per:
        rows.append({
            "r": r,
            "limits": ", ".join(_limit_text(n, v) for n, v in r.limits()) or "—",
            "quantiles": r.limit_quantiles(),
            "plots": figures(r, times),
        })
    span = ""
    if len(times):
        def utc(s):
            return datetime.datetime.fromtimestamp(s, datetime.timezone.utc)
        span = (f"{utc(float(times.min())):%Y-%m-%d %H:%M:%S} to "
                f"{utc(float(times.max())):%Y-%m-%d %H:%M:%S} UTC")
    page = _environment().get_template("report.html.j2").render(
        title=title, rows=rows, fractions=FRACTIONS, events=len(times), span=span,
        sources=sources, fires=sum(r.fired for r in per), plotly_js=_plotly_js(),
        made=f"{datetime.datetime.now(datetime.timezone.utc):%Y-%m-%d %H:%M} UTC")
    return page


def _write_whole(path, data):
    """Writes a file whole or not at all: a failed write leaves what was there. What is
    not a regular file (/dev/stdout, a pipe) is written to as it is."""
    try:
        special = not stat.S_ISREG(os.stat(path).st_mode)
    except FileNotFoundError:
        special = False
    if special:
        with open(path, "wb") as f:
            f.write(data)
        return
    folder = os.path.dirname(path) or "."
    fd, part = tempfile.mkstemp(prefix=".xrq5-report-", dir=folder)
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(part, 0o666 & ~umask)
        os.replace(part, path)
    except BaseException:
        os.unlink(part)
        raise


Path = Union[str, "os.PathLike[str]"]


def write(triggers: Path, events: Union[Path, Iterable[Path]], output: Path = "report.html",
          env_dict: Optional[Path] = None, title: Optional[str] = None) -> Dict[str, Any]:
    """Writes the report of the trigger list file `triggers` over the recorded-event
    files (or folders of them) `events` to `output`. Returns a dict: "triggers", per
    trigger its counts and the limits of the fire fractions; "events"; "warnings", those
    of the documents as the libraries word them; "problems", the
    messages of files that would not open or were damaged (the page holds what could be
    read); and "status", the exit status `xrq5xml eval` gives. Raises InputError (with
    that status) for input that stops it."""
    names = [os.fspath(e) for e in ([events] if isinstance(events, (str, os.PathLike))
                                    else events)]
    notes = []
    per, times, problems = collect(triggers, names, env_dict, notes)
    shown = names if len(names) <= 10 else names[:9] + [f"and {len(names) - 9} more"]
    sources = {"triggers": os.fspath(triggers), "events": shown,
               "env_dict": os.fspath(env_dict) if env_dict else None}
    if title is None:
        title = f"Triggers of {os.path.basename(os.fspath(triggers))}"
    page = render(per, times, title, sources)
    _write_whole(os.fspath(output), page.encode("utf-8", "surrogateescape"))
    status = max([p.status for p in problems] +
                 [EXIT_PROBLEMS if r.invalid else EXIT_CLEAN for r in per] + [EXIT_CLEAN])
    return {"triggers": [{"trigger": r.index, "channel": r.channel, "function": r.function,
                          "operation": r.operation, "fired": r.fired,
                          "evaluations": r.evaluations, "missing": r.missing,
                          "invalid": r.invalid, "limits": r.limit_quantiles()} for r in per],
            "events": len(times), "warnings": notes, "problems": [str(p) for p in problems],
            "status": status}


def main(argv: Optional[Sequence[str]] = None) -> int:
    p = argparse.ArgumentParser(prog=PROG, description=__doc__.split("\n\n")[0])
    p.add_argument("triggers", help="trigger list file")
    p.add_argument("events", nargs="+", help="recorded-event files, or folders of them")
    p.add_argument("--env-dict", help="environment index dictionary for the slow channels")
    p.add_argument("-o", "--output", default="report.html", help="the page (report.html)")
    p.add_argument("--title", help="the page's title")
    p.add_argument("--version", action="version", version=f"{PROG} {xrq5.__version__}")
    args = p.parse_args(argv)
    try:
        summary = write(args.triggers, args.events, args.output, args.env_dict, args.title)
    except InputError as e:
        for line in e.reported:
            print(line, file=sys.stderr)
        print(f"{PROG}: {e}", file=sys.stderr)
        return e.status
    except OSError as e:
        print(f"{PROG}: cannot write '{args.output}': {e.strerror or e}", file=sys.stderr)
        return EXIT_PROBLEMS
    for line in summary["warnings"]:
        print(line, file=sys.stderr)
    for problem in summary["problems"]:
        print(f"{PROG}: {problem}", file=sys.stderr)
    triggers = summary["triggers"]
    for t in triggers:
        if t["invalid"]:
            print(f"{PROG}: trigger [{t['trigger']}] {t['channel']} {t['function']} "
                  f"{t['operation']} was invalid in {t['invalid']} evaluations", file=sys.stderr)
    print(f"{args.output}: {len(triggers)} triggers over {summary['events']} events, "
          f"{sum(t['fired'] for t in triggers)} fires")
    return int(summary["status"])


if __name__ == "__main__":
    sys.exit(main())
