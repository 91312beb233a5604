"""The module refuses what it cannot use (None or a wrong type where records go, a NUL
in a path) with TypeError or ValueError, writes nothing then, and cuts texts as the
readers do."""
import os

import pytest

import xrq5

SOURCE = os.environ.get("XRQ5_SOURCE_DIR",
                        os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))


def example(name):
    return os.path.join(SOURCE, "examples", name)


def channel_with_bits():
    return next(c for c in xrq5.read_channels_file(example("xcd_tag.xml")) if c.bits)


@pytest.mark.parametrize("setter, value", [
    ("bits", [None]),
    ("bits", [xrq5.Bit(), None]),
    ("bits", [1]),
    ("dims", [None]),
    ("dims", ["x"]),
])
def test_record_lists_refuse_none_and_other_types(setter, value):
    ch = channel_with_bits()
    before = [b.bit_name for b in ch.bits]
    with pytest.raises(TypeError):
        setattr(ch, setter, value)
    # Nothing changed, and the channel still writes.
    assert [b.bit_name for b in ch.bits] == before
    assert "<CHANDESCRIPTIONS>" in xrq5.channels_to_xml([ch], "tag")


def test_dimension_statistics_and_event_blocks_refuse_none():
    dim = xrq5.Dimension()
    with pytest.raises(TypeError):
        dim.stats = [None]
    entry = xrq5.read_ev_list_file(example("ev_list.xml"))[0]
    before = entry.blocks
    for bad in ([None], [("name", None)], [("name", ["ok", None])], [42]):
        with pytest.raises(TypeError):
            entry.blocks = bad
        assert entry.blocks == before


@pytest.mark.parametrize("call", [
    lambda: xrq5.channels_to_xml([None], "tag"),
    lambda: xrq5.triggers_to_xml([None]),
    lambda: xrq5.write_ev_list([None], "/dev/null"),
    lambda: xrq5.evaluate(xrq5.read_triggers_file(example("triggers.xml")),
                          example("events.xrq5ev"), 42),
    lambda: xrq5.evaluate([None], example("events.xrq5ev")),
])
def test_calls_refuse_none_and_other_types(call):
    with pytest.raises(TypeError):
        call()


def test_nul_in_a_path_is_refused_and_nothing_is_written(tmp_path):
    channels = xrq5.read_channels_file(example("xcd_tag.xml"))
    triggers = xrq5.read_triggers_file(example("triggers.xml"))
    entries = xrq5.read_ev_list_file(example("ev_list.xml"))
    bad = str(tmp_path / "out.xml") + "\0.bak"
    writes = [
        lambda: xrq5.write_channels(channels, bad),
        lambda: xrq5.write_triggers(triggers, bad),
        lambda: xrq5.write_ev_list(entries, bad),
    ]
    for write in writes:
        with pytest.raises(ValueError):
            write()
    assert os.listdir(tmp_path) == []
    for read in (xrq5.read_channels_file, xrq5.read_triggers_file, xrq5.read_ev_list_file,
                 xrq5.read_events, xrq5.read_camera_features):
        with pytest.raises(ValueError):
            read(example("xcd_tag.xml") + "\0junk")


@pytest.mark.parametrize("text, kept", [
    ("a" * 254 + "ß", "a" * 254),               # two bytes, one would not fit
    ("a" * 253 + "ß", "a" * 253 + "ß"),         # fits exactly
    ("a" * 253 + "€", "a" * 253),               # three bytes
    ("a" * 252 + "𝄞", "a" * 252),               # four bytes
    ("a" * 300, "a" * 255),
])
def test_setters_cut_at_a_character_boundary(text, kept, tmp_path):
    t = xrq5.Trigger()
    t.group = text
    assert t.group == kept
    assert "\udcc3" not in t.group
    path = str(tmp_path / "t.xml")
    xrq5.write_triggers([t], path)
    assert xrq5.read_triggers_file(path)[0].group == kept
