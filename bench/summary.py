"""Prints the performance table from the ratio lines of the benchmarks' reports.

A ratio line is "NAME[ / BASELINE] N NS_PER_ITEM RATIOx" (RATIO "-" without baseline);
a spread line is "NAME SPREADx spread of ns per item".
"""
import re
import sys

ratios = {}   # name -> {n: ratio}
per_item = {}  # name -> {n: ns}
for line in open(sys.argv[1]):
    m = re.match(r"^(BM_\w+)(?: / \S*)?\s+(\d+)\s+([\d.]+)\s+([\d.]+x|-)\s*$", line)
    if not m:
        continue
    name, n, ns, ratio = m.group(1), int(m.group(2)), float(m.group(3)), m.group(4)
    per_item.setdefault(name, {})[n] = ns
    if ratio != "-":
        ratios.setdefault(name, {})[n] = float(ratio[:-1])


def span(names, table=ratios, unit="x"):
    values = [v for nm in names for v in table.get(nm, {}).values()]
    if not values:
        return "not measured"
    lo, hi = min(values), max(values)
    return f"{lo:.2f}{unit}" if abs(hi - lo) < 0.005 else f"{lo:.2f}-{hi:.2f}{unit}"


def spread(names):
    """Largest ratio of the slowest to the fastest time per item across sizes."""
    worst = 0.0
    for nm in names:
        v = list(per_item.get(nm, {}).values())
        if v and min(v) > 0:
            worst = max(worst, max(v) / min(v))
    return f"{worst:.2f}x" if worst else "-"


def largest(names):
    values = []
    for nm in names:
        t = per_item.get(nm, {})
        if t:
            values.append(t[max(t)])
    return f"{max(values):.0f} ns" if values else "not measured"


def with_time(name, scale, unit):
    t = per_item.get(name, {})
    if not t:
        return "not measured"
    return f"{t[max(t)] / scale:.1f} {unit}, " + span([name])


xml_writers = ["BM_write_tag_string", "BM_write_var_string"]
text_writers = ["BM_write_text_file", "BM_write_short_file"]
selector = ["BM_find_channel_by_prop", "BM_find_channel_by_daq", "BM_get_event_type"]
rows = [
    ("read one small document (the example event list), nothing held",
     "1230 us, 264x expat", "<= 3x expat",
     with_time("BM_small_event_list_read", 1e3, "us") + " expat"),
    ("the same with the Xerces platform held by the caller", "17 us, 3.7x expat",
     "<= 2x expat", with_time("BM_small_event_list_read_held", 1e3, "us") + " expat"),
    ("XCD read / bare scan, both forms, memory and file", "1.31-1.56x", "<= 1.25x",
     span(["BM_read_tag_mem", "BM_read_tag_file", "BM_read_var_mem", "BM_read_var_file"])),
    ("XML writer to a string / plain write of the same bytes", "3.9-8.0x",
     "<= 2x; per channel flat within 1.3x",
     span(xml_writers) + "; per channel within " + spread(xml_writers)),
    ("text writers / plain write", "2.1-8.1x", "<= 2x", span(text_writers)),
    ("selector find_channel/get_event_type, 10^5 held, 4096 names", "184-372 ns",
     "< 120 ns, flat within 1.5x", largest(selector) + ", within " + spread(selector)),
    ("camera reader fill / pugixml load of the same file", "-", "reported",
     with_time("BM_fill", 1e6, "ms")),
]
print("| What | Today | Target | Measured |")
print("|---|---|---|---|")
for r in rows:
    print("| " + " | ".join(r) + " |")
