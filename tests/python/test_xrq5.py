"""The Python module against the libraries and the tool: every document kind read,
changed, written and read again; evaluation as `xrq5xml eval` gives it; errors."""
import math
import os
import re
import struct
import subprocess
import sys

import numpy as np
import pytest

import xrq5

SOURCE = os.environ.get("XRQ5_SOURCE_DIR",
                        os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
TOOL = os.environ.get("XRQ5_TOOL", "xrq5xml")
EXAMPLES = os.path.join(SOURCE, "examples")


def example(name):
    return os.path.join(EXAMPLES, name)


def tool(*args):
    return subprocess.run([TOOL, *args], capture_output=True, text=True)


def read_text(path):
    with open(path, encoding="latin-1") as f:
        return f.read()


# ---- trigger lists ----------------------------------------------------------------------

def test_triggers_round_trip_through_text_and_file(tmp_path):
    triggers = xrq5.read_triggers_file(example("triggers.xml"))
    assert len(triggers) == 9
    first = triggers[0]
    assert (first.channel, first.function_name, first.operation_name) == (
        "LINAC/TOROID/INJ.1/CHARGE.TD", "MEAN", "GT")
    assert first.upper == pytest.approx(1.5)
    assert first.fparam[:3] == [0.0, -1.0, 1.0]
    assert triggers[5].bitmask == 4

    first.upper = 2.25
    first.description = "changed from Python"
    first.function_name = "RMS"
    first.fparam = [1, 2, 3]
    first.group = "g" * 300  # cut to the field
    added = xrq5.Trigger()
    added.channel = "NEW.CHANNEL"
    added.operation_name = "INSIDE"
    added.low, added.upper, added.subchannel = -1.0, 1.0, 2
    triggers.append(added)

    again = xrq5.read_triggers(xrq5.triggers_to_xml(triggers))
    assert len(again) == 10
    assert again[0].function == xrq5.function_index("RMS")
    assert again[0].upper == 2.25
    assert again[0].description == "changed from Python"
    assert again[0].fparam[:4] == [1.0, 2.0, 3.0, 0.0]
    assert again[0].group == "g" * 255
    assert again[9].to_dict() | {"time": 0} == added.to_dict() | {"time": 0}
    assert again[0].same_as(first) and again[9].same_as(added)
    assert not again[1].same_as(first)

    path = tmp_path / "t.xml"
    xrq5.write_triggers(again, str(path))
    from_file = xrq5.read_triggers_file(str(path))
    assert [t.to_dict() | {"time": 0} for t in from_file] == \
           [t.to_dict() | {"time": 0} for t in again]
    text = tmp_path / "t.txt"
    xrq5.write_triggers(again, str(text), text=True)
    assert len(read_text(text).splitlines()) >= 10


def test_trigger_names_must_be_in_the_registry():
    t = xrq5.Trigger()
    assert (t.function_name, t.operation_name, t.result) == ("MEAN", "GT", None)
    with pytest.raises(ValueError):
        t.function_name = "mean"  # names are case-sensitive
    with pytest.raises(ValueError):
        t.fparam = [0.0] * 17


def test_registry_is_what_the_tool_lists():
    listed = tool("registry").stdout
    functions = xrq5.functions()
    operations = xrq5.operations()
    assert len(functions) == len(operations) == 32
    assert functions[13][1] == "DIFFSUM" and operations[12][1] == "BITS"
    assert functions[16][2] == "FUNC16 : undefined"
    for index, name, help_text in functions + operations:
        assert f"\n{index:3d}  {help_text}\n" in listed
        assert help_text.startswith(name)
    assert xrq5.operation_index("BITS") == 12
    assert xrq5.function_index("NO SUCH") == -1


# ---- environment index dictionaries -----------------------------------------------------

@pytest.mark.parametrize("classic", [False, True])
def test_env_dict_round_trip(tmp_path, classic):
    entries = xrq5.read_env_dict_file(example("env_dict.xml"), classic=classic)
    kind = xrq5.ClassicEnvEntry if classic else xrq5.EnvEntry
    assert all(isinstance(e, kind) for e in entries)
    assert [e.to_dict() for e in entries][1] == {
        "index": 12, "prop": "TEMP.HALL2.AIR", "abs_delta": pytest.approx(0.1),
        "rel_delta": 0.0}
    entries[0].abs_delta = 0.5
    entries[1].prop = "P" * 300
    new = kind()
    new.index, new.prop, new.rel_delta = 99, "NEW.PROP", 0.25
    entries.append(new)
    xml = xrq5.env_dict_to_xml(entries)
    again = xrq5.read_env_dict(xml, classic=classic)
    assert [e.to_dict() for e in again] == [e.to_dict() for e in entries]
    assert again[1].prop == "P" * (79 if classic else 255)
    path = tmp_path / "d.xml"
    xrq5.write_env_dict(again, str(path))
    assert [e.to_dict() for e in xrq5.read_env_dict_file(str(path), classic)] == \
           [e.to_dict() for e in entries]
    xrq5.write_env_dict(again, str(tmp_path / "d.txt"), text=True)
    assert read_text(tmp_path / "d.txt").splitlines()[-1].startswith("99\tNEW.PROP\t")


# ---- event lists ------------------------------------------------------------------------

def test_ev_list_round_trip(tmp_path):
    entries = xrq5.read_ev_list_file(example("ev_list.xml"))
    assert [e.evtype_name for e in entries] == ["NORMAL", "ENV", "IMAGE"]
    assert entries[0].blocks == [
        ("BPM.ARC1", ["BPM.ARC1.X", "BPM.ARC1.Y", "BPM.ARC1.CHARGE"]), ("TOROID.INJ", [])]
    assert entries[0].tmask == 0x1F and entries[2].min_time_usec == 500000

    entries[0].blocks = [("BPM.ARC2 & co", ["X<1>"])]
    entries[1].priority = 7
    new = xrq5.EventEntry()
    new.evtype, new.tmask, new.min_time_sec = 13, 0xABC, 3
    entries.append(new)
    again = xrq5.read_ev_list(xrq5.ev_list_to_xml(entries))
    # An entry without blocks comes back with an empty block list: both are the full event.
    assert new.blocks is None and again[3].blocks == []
    assert [e.to_dict() | {"blocks": e.blocks or []} for e in again] == \
           [e.to_dict() | {"blocks": e.blocks or []} for e in entries]

    path = tmp_path / "l.xml"
    xrq5.write_ev_list(again, str(path))
    shown = tool("show", str(path))
    assert shown.returncode == 0
    assert "Channel[0]:\t'X<1>'" in shown.stdout
    assert [e.to_dict() for e in xrq5.read_ev_list_file(str(path))] == \
           [e.to_dict() for e in again]


# ---- channel descriptions ----------------------------------------------------------------

def channel_dicts(channels):
    return [c.to_dict() for c in channels]


@pytest.mark.parametrize("name", ["xcd_tag.xml", "xcd_var.xml"])
def test_channels_read_from_file_and_text_alike(name):
    from_file = xrq5.read_channels_file(example(name))
    from_text = xrq5.read_channels(read_text(example(name)))
    assert from_file and channel_dicts(from_file) == channel_dicts(from_text)


@pytest.mark.parametrize("name,form", [("xcd_tag.xml", "tag"), ("xcd_var.xml", "var"),
                                       ("xcd_tag.xml", "var"), ("xcd_var.xml", "tag")])
def test_channels_round_trip(tmp_path, name, form):
    channels = xrq5.read_channels_file(example(name))
    channels[0].prop_desc = "changed from Python"
    channels[0].units = "u" * 40
    bit = xrq5.Bit()
    bit.bit, bit.bit_name = 3, "added"
    channels[0].bits = channels[0].bits + [bit]
    assert channels[0].bits[-1].bit_name == "added"
    xml = xrq5.channels_to_xml(channels, form)
    again = xrq5.read_channels(xml)
    assert again[0].prop_desc == "changed from Python"
    assert again[0].units == "u" * 15
    if form == "tag":  # the variable form writes bits of bit channels only
        assert ("added", 3) in [(b.bit_name, b.bit) for b in again[0].bits]
    assert [c.prop_name for c in again] == [c.prop_name for c in channels]

    path = tmp_path / "c.xml"
    xrq5.write_channels(again, str(path), form=form)
    assert channel_dicts(xrq5.read_channels_file(str(path))) == channel_dicts(again)
    xrq5.write_channels(again, str(tmp_path / "c.txt"), as_="short")
    assert len(read_text(tmp_path / "c.txt").splitlines()) == len(again)


def test_nested_channel_records_are_copies_set_as_a_whole():
    channels = xrq5.read_channels_file(example("xcd_var.xml"))
    matrix = next(c for c in channels if c.dims)
    dims = matrix.dims
    dims[0].dim_name = "changed"
    assert matrix.dims[0].dim_name == "time"  # a copy: the channel is not changed
    stat = xrq5.Statistic()
    stat.stat_name, stat.units = "mean", "V"
    dims[0].stats = [stat, stat]
    matrix.dims = dims
    del dims, stat
    assert matrix.dims[0].dim_name == "changed"
    assert [s.stat_name for s in matrix.dims[0].stats] == ["mean", "mean"]
    assert matrix.to_dict()["dims"][0]["stats"][1]["units"] == "V"
    again = xrq5.read_channels(xrq5.channels_to_xml(channels, "var"))
    assert next(c for c in again if c.dims).dims[0].dim_name == "changed"


def test_lists_of_records_take_iterables_but_not_none():
    triggers = xrq5.read_triggers_file(example("triggers.xml"))
    from_generator = xrq5.triggers_to_xml(t for t in xrq5.read_triggers_file(example("triggers.xml")))
    assert xrq5.read_triggers(from_generator)[8].channel == triggers[8].channel
    with pytest.raises(TypeError):
        xrq5.triggers_to_xml([triggers[0], None])
    with pytest.raises(TypeError):
        xrq5.evaluate(triggers, [None])
    with pytest.raises(TypeError):
        xrq5.write_channels([xrq5.Trigger()], "/dev/null")


# ---- camera features ---------------------------------------------------------------------

def test_camera_features_are_what_the_tool_shows():
    path = os.path.join(SOURCE, "tests/data/corpus/camera/aravis/arv-fake-camera.xml")
    features = xrq5.read_camera_features(path)
    shown = tool("show", path).stdout.splitlines()[1:]
    lines = []
    for i, f in enumerate(features):
        if not f.name:
            continue
        ext = f" Extension:'{f.extension}'" if f.extension else ""
        lines.append(f"[{i}] Name:'{f.name}'{ext} type:{f.type} ToolTip:'{f.tooltip}' "
                     f"Description:'{f.description}'")
    assert features and lines == shown[:len(lines)]
    assert features[0].to_dict()["type_name"] == "StringReg"


# ---- channel selector --------------------------------------------------------------------

def test_selector_answers_as_the_tool():
    path = example("xcd_tag.xml")
    s = xrq5.ChannelSelector([path])
    out = tool("select", path).stdout.splitlines()[1:]
    assert len(s) == len(out) == 3
    for i, line in enumerate(out):
        name = s.get_channel(i)
        m = re.match(r"(\S+): event types (0x[0-9a-f]+) .*data type (0x[0-9a-f]+) .*"
                     r"slow (yes|no); ML (yes|no); sub-channels (\d+)", line)
        assert m and m.group(1) == name
        assert s.get_event_type(name) == int(m.group(2), 16)
        assert s.get_data_type(name) & 0xFFFFFFFF == int(m.group(3), 16)
        assert s.is_channel_slow(i) == (m.group(4) == "yes")
        assert s.is_channel_ml(i) == (m.group(5) == "yes")
        assert s.get_subchannels(i) == int(m.group(6))
    # NORMAL events name their channels by property.
    prop = s.get_prop(0)
    assert prop == "LINAC/BPM/ARC1.1/XYQ"
    assert s.find_channel(1, prop) and not s.find_channel(0, prop)
    assert not s.find_channel(1, "NO.SUCH.CHANNEL")
    assert s.get_channel(99) is None

    text = xrq5.ChannelSelector([read_text(path)], from_xml=True)
    assert [text.get_channel(i) for i in range(3)] == [s.get_channel(i) for i in range(3)]


# ---- evaluation ----------------------------------------------------------------------------

def tool_eval(*extra):
    r = tool("eval", example("triggers.xml"), example("events.xrq5ev"), *extra)
    fired = {}  # (trigger, event) -> printed result
    event = None
    for line in r.stdout.splitlines():
        m = re.match(r"event (\d+) ", line)
        if m:
            event = int(m.group(1))
            continue
        m = re.match(r"  \[(\d+)\] .*  result (\S+)$", line)
        if m and event is not None:
            fired[(int(m.group(1)), event)] = m.group(2)
        if line.startswith("summary"):
            event = None
    counts = [tuple(map(int, m)) for m in
              re.findall(r"fired in (\d+), channel missing in (\d+)", r.stdout)]
    return fired, counts


@pytest.mark.parametrize("with_dict", [True, False])
def test_evaluate_gives_what_the_tool_gives(with_dict):
    extra = ["--env-dict", example("env_dict.xml")] if with_dict else []
    fired, counts = tool_eval(*extra)
    triggers = xrq5.read_triggers_file(example("triggers.xml"))
    env = xrq5.read_env_dict_file(example("env_dict.xml")) if with_dict else None
    outcome = xrq5.evaluate(triggers, example("events.xrq5ev"), env)
    assert len(outcome) == len(counts) == 9
    mine = {}
    for i, out in enumerate(outcome):
        assert isinstance(out["results"], np.ndarray) and out["results"].shape == (6,)
        assert (len(out["fired"]), len(out["missing"])) == counts[i]
        for e in out["fired"]:
            mine[(i, int(e))] = "%g" % out["results"][e]
        for e in out["missing"]:
            assert math.isnan(out["results"][e])
    assert mine == fired
    if with_dict:
        assert sum(len(o["fired"]) for o in outcome) == 11
        assert triggers[0].result == pytest.approx(0.92)  # the last event's result stays


def test_evaluate_over_read_events_and_a_classic_dictionary():
    events = xrq5.read_events(example("events.xrq5ev"))
    assert len(events) == 6 and events[0].ev_type_name == "NORMAL"
    assert events[0].ev_number == 1000 and events[0].blocks
    assert len(events[0].data) >= 268
    triggers = xrq5.read_triggers_file(example("triggers.xml"))
    classic = xrq5.read_env_dict_file(example("env_dict.xml"), classic=True)
    a = xrq5.evaluate(triggers, events, classic)
    b = xrq5.evaluate(xrq5.read_triggers_file(example("triggers.xml")),
                      example("events.xrq5ev"), xrq5.read_env_dict_file(example("env_dict.xml")))
    for x, y in zip(a, b):
        np.testing.assert_array_equal(x["results"], y["results"])
        np.testing.assert_array_equal(x["fired"], y["fired"])


def write_event_file(path, blocks):
    """A recorded-event file of one NORMAL event holding the given (name, dtype, floats)."""
    data = b""
    for name, dtype, values in blocks:
        payload = struct.pack(f"<{len(values)}f", *values)
        data += name.ljust(256, b"\0") + struct.pack("<iii", dtype, 0, len(payload)) + payload
    path.write_bytes(b"XRQ5EVTS" + struct.pack("<II", 1, 0) +
                     struct.pack("<IiIIII", 0x544E5645, 1, 7, 10, 20, len(data)) + data)


def test_event_data_names_that_are_not_utf8_still_read(tmp_path):
    path = tmp_path / "e.xrq5ev"
    write_event_file(path, [(b"\xffBAD", 41, [2.0]), (b"GOOD", 41, [3.0])])
    events = xrq5.read_events(str(path))
    (name, dtype, error, length), good = events[0].blocks
    assert name.encode("utf-8", "surrogateescape") == b"\xffBAD"
    assert (dtype, error, length) == (41, 0, 4) and good[0] == "GOOD"
    assert (events[0].ev_number, events[0].time_sec, events[0].time_usec) == (7, 10, 20)
    t = xrq5.Trigger()
    t.channel, t.function_name, t.operation_name = "GOOD", "VALUE", "TRUE"
    out = xrq5.evaluate([t], events)[0]
    assert out["results"].tolist() == [3.0] and out["fired"].tolist() == [0]


def test_an_invalid_trigger_is_reported_per_event():
    t = xrq5.Trigger()
    t.channel = "BPM.ARC1.1"
    t.function = 40
    out = xrq5.evaluate([t], example("events.xrq5ev"))[0]
    assert len(out["invalid"]) == 6 - len(out["missing"]) > 0
    assert len(out["fired"]) == 0


# ---- errors ------------------------------------------------------------------------------

def test_failed_reads_raise_with_the_library_code(tmp_path, capfd):
    cases = [
        (lambda: xrq5.read_triggers("<USERTRIGGERLIST/>"), 1),
        (lambda: xrq5.read_ev_list("<NOTBMR/>"), 1),
        (lambda: xrq5.read_env_dict("<ENVINDEXDICT><CHANNEL></ENVINDEXDICT>"), None),
        (lambda: xrq5.read_channels("<WRONG/>"), 1),
        (lambda: xrq5.write_triggers([], str(tmp_path / "no/such/t.xml")), 1),
        (lambda: xrq5.write_ev_list([], str(tmp_path / "no/such/l.xml")), 1),
        (lambda: xrq5.write_env_dict([], "/dev/full"), 2),
    ]
    messages = []
    for call, code in cases:
        with pytest.raises(xrq5.Error) as info:
            call()
        assert isinstance(info.value.code, int) and info.value.code > 0
        if code is not None:
            assert info.value.code == code
        messages += info.value.messages
    junk = tmp_path / "junk.xrq5ev"
    junk.write_bytes(b"not events at all")
    with pytest.raises(xrq5.Error) as info:
        xrq5.read_events(str(junk))
    assert info.value.code == 3
    # The library's messages are in the exceptions, not on standard error.
    assert "<memory>: error: WRONG root tag: 'USERTRIGGERLIST' must be 'XRQ5USERTRIGGERLIST'" \
        in messages
    assert "WRONG root tag" not in capfd.readouterr().err
    with pytest.raises(ValueError):
        xrq5.channels_to_xml([], "html")


# ---- the example script --------------------------------------------------------------------

def test_example_script_writes_its_png(tmp_path):
    out = tmp_path / "t.png"
    script = os.path.join(EXAMPLES, "python", "plot_triggers.py")
    r = subprocess.run([sys.executable, script, "-o", str(out)], capture_output=True, text=True,
                       env=dict(os.environ, MPLCONFIGDIR=str(tmp_path)))
    assert r.returncode == 0, r.stderr
    assert "9 triggers over 6 events, 11 fires" in r.stdout
    assert out.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
