"""The module's Python habits: OSError kinds for files that cannot be opened, xrq5.Error
with the place and the messages, os.PathLike paths, documents that read back with every
character, silent writers, == and repr on records, and xrq5.check as the tool's check."""
import os
import pathlib
import shlex

import pytest

import xrq5

SOURCE = pathlib.Path(os.environ.get(
    "XRQ5_SOURCE_DIR", pathlib.Path(__file__).resolve().parent.parent.parent))
EXAMPLES = SOURCE / "examples"
STRICT = SOURCE / "tests" / "data" / "strict"

READERS = [
    xrq5.read_triggers_file,
    xrq5.read_env_dict_file,
    xrq5.read_ev_list_file,
    xrq5.read_channels_file,
    xrq5.read_camera_features,
    xrq5.read_events,
    lambda p: xrq5.ChannelSelector([p]),
    lambda p: xrq5.check(p),
]


@pytest.mark.parametrize("read", READERS)
def test_files_that_cannot_be_opened_raise_their_oserror(tmp_path, read, capfd):
    missing = tmp_path / "missing.xml"
    with pytest.raises(FileNotFoundError) as info:
        read(missing)
    assert info.value.filename == missing
    with pytest.raises(FileNotFoundError):
        read(str(missing))
    with pytest.raises(IsADirectoryError):
        read(tmp_path)
    if os.geteuid() != 0:  # root opens any file
        locked = tmp_path / "locked.xml"
        locked.write_text("<BMR/>")
        locked.chmod(0)
        with pytest.raises(PermissionError):
            read(locked)
    assert capfd.readouterr() == ("", "")


def test_documents_that_do_not_read_cleanly_raise_with_the_place(tmp_path, capfd):
    broken = tmp_path / "broken.xml"
    broken.write_text("<BMR>\n<EVENT><TYPE>1</TYPE></BMR>\n")
    cases = [
        (lambda: xrq5.read_ev_list_file(broken), str(broken)),
        (lambda: xrq5.read_ev_list_file(str(broken).encode()), str(broken)),
        (lambda: xrq5.read_ev_list(broken.read_text()), "<memory>"),
        (lambda: xrq5.read_ev_list(broken.read_bytes()), "<memory>"),
    ]
    for read, name in cases:
        with pytest.raises(xrq5.Error) as info:
            read()
        e = info.value
        assert (e.file, e.line, e.column) == (name, 2, 24)
        assert e.messages == [f"{name}:2:24: error: expected end of tag 'EVENT'"]
        assert e.messages[0] in str(e)
        assert e.code == 1
    # Nothing of it on standard error: it is all in the exception.
    assert capfd.readouterr() == ("", "")
    # A warning before the error is among the messages; the place is the error's.
    with pytest.raises(xrq5.Error) as info:
        xrq5.read_ev_list('<!DOCTYPE BMR [<!ATTLIST BMR a CDATA #IMPLIED>'
                          '<!ATTLIST BMR a CDATA #IMPLIED>]><BMR/>')
    e = info.value
    assert [m.split(": ")[1] for m in e.messages] == ["warning", "error"]
    assert e.messages[0].startswith("<memory>:1:62: warning: attribute 'a'")
    assert (e.file, e.line, e.column) == ("<memory>", 1, 84)


def test_paths_may_be_pathlike_or_bytes(tmp_path):
    triggers = xrq5.read_triggers_file(EXAMPLES / "triggers.xml")
    assert triggers == xrq5.read_triggers_file(os.fsencode(EXAMPLES / "triggers.xml"))
    xrq5.write_triggers(triggers, tmp_path / "t.xml")
    assert xrq5.read_triggers_file(tmp_path / "t.xml") == triggers
    channels = xrq5.read_channels_file(EXAMPLES / "xcd_tag.xml")
    xrq5.write_channels(channels, tmp_path / "c.xml", "var")
    assert len(xrq5.read_channels_file(tmp_path / "c.xml")) == len(channels)
    entries = xrq5.read_env_dict_file(EXAMPLES / "env_dict.xml")
    xrq5.write_env_dict(entries, tmp_path / "d.xml")
    assert xrq5.read_env_dict_file(tmp_path / "d.xml") == entries
    events = xrq5.read_ev_list_file(EXAMPLES / "ev_list.xml")
    xrq5.write_ev_list(events, tmp_path / "e.xml")
    assert xrq5.read_ev_list_file(tmp_path / "e.xml") == events
    assert len(xrq5.read_events(EXAMPLES / "events.xrq5ev")) > 0
    assert len(xrq5.evaluate(triggers, EXAMPLES / "events.xrq5ev")) == len(triggers)
    assert len(xrq5.ChannelSelector([EXAMPLES / "xcd_tag.xml"])) > 0
    with pytest.raises(TypeError):
        xrq5.read_triggers_file(42)
    # Not the file named up to the NUL.
    with pytest.raises(ValueError):
        xrq5.read_triggers_file(str(EXAMPLES / "triggers.xml") + "\0.bak")
    with pytest.raises(ValueError):
        xrq5.check(str(EXAMPLES / "triggers.xml") + "\0")


TEXTS = ["caf\u00e9", "Stra\u00dfe", "\u6e29\u5ea6\u8a08", "\U0001f600 smile", "a<b & \"c\""]


@pytest.mark.parametrize("value", TEXTS)
def test_documents_written_read_back_with_every_character(tmp_path, value, capfd):
    trigger = xrq5.Trigger()
    trigger.channel, trigger.description, trigger.group = value, value, value
    entry = xrq5.EnvEntry()
    entry.index, entry.prop = 1, value
    channel = xrq5.ChannelDescription()
    channel.prop_name, channel.daq_name, channel.prop_desc = value, value, value
    channel.units = value[:4]
    ev = xrq5.EventEntry()
    ev.blocks = [(value, [value])]
    round_trips = [
        ([trigger], xrq5.triggers_to_xml, xrq5.read_triggers),
        ([entry], xrq5.env_dict_to_xml, xrq5.read_env_dict),
        ([channel], lambda c: xrq5.channels_to_xml(c, "tag"), xrq5.read_channels),
        ([channel], lambda c: xrq5.channels_to_xml(c, "var"), xrq5.read_channels),
        ([ev], xrq5.ev_list_to_xml, xrq5.read_ev_list),
    ]
    for records, to_xml, read in round_trips:
        xml = to_xml(records)
        assert isinstance(xml, str)
        xml.encode("utf-8")  # no surrogates
        again = read(xml)
        assert again == records, xml
        # The same document given as bytes, as a file would hold it.
        assert read(xml.encode("iso-8859-1", "xmlcharrefreplace")) == records
    # A text of the user's own, declared UTF-8, reads as well.
    own = ('<?xml version="1.0" encoding="UTF-8"?>\n<ENVINDEXDICT><CHANNEL><INDEX>1</INDEX>'
           f'<PROP>{value.replace("&", "&amp;").replace("<", "&lt;")}</PROP></CHANNEL></ENVINDEXDICT>')
    assert xrq5.read_env_dict(own)[0].prop == value
    assert capfd.readouterr() == ("", "")


def test_writers_are_silent(tmp_path, capfd):
    triggers = xrq5.read_triggers_file(EXAMPLES / "triggers.xml")
    xrq5.write_triggers(triggers, tmp_path / "t.xml")
    xrq5.write_triggers(triggers, tmp_path / "t.txt", text=True)
    entries = xrq5.read_env_dict_file(EXAMPLES / "env_dict.xml")
    xrq5.write_env_dict(entries, tmp_path / "d.xml")
    xrq5.write_env_dict(entries, tmp_path / "d.txt", text=True)
    channels = xrq5.read_channels_file(EXAMPLES / "xcd_tag.xml")
    xrq5.write_channels(channels, tmp_path / "c.xml")
    xrq5.write_channels(channels, tmp_path / "c.txt", as_="text")
    xrq5.write_ev_list(xrq5.read_ev_list_file(EXAMPLES / "ev_list.xml"), tmp_path / "e.xml")
    assert capfd.readouterr() == ("", "")
    assert all(p.stat().st_size > 0 for p in tmp_path.iterdir())
    with pytest.raises(xrq5.Error) as info:
        xrq5.write_triggers(triggers, tmp_path / "no" / "such" / "t.xml")
    assert "No such file or directory" in str(info.value)
    assert capfd.readouterr().out == ""


def test_records_compare_by_value_and_show_themselves():
    readers = [
        lambda: xrq5.read_triggers_file(EXAMPLES / "triggers.xml"),
        lambda: xrq5.read_env_dict_file(EXAMPLES / "env_dict.xml"),
        lambda: xrq5.read_env_dict_file(EXAMPLES / "env_dict.xml", classic=True),
        lambda: xrq5.read_ev_list_file(EXAMPLES / "ev_list.xml"),
        lambda: xrq5.read_channels_file(EXAMPLES / "xcd_tag.xml"),
        lambda: xrq5.read_channels_file(EXAMPLES / "xcd_tag.xml")[0].dims,
        lambda: xrq5.read_events(EXAMPLES / "events.xrq5ev"),
    ]
    for read in readers:
        a, b = read(), read()
        assert len(a) >= 2
        assert a == b and a[0] is not b[0]
        assert a[0] != a[1]
        assert a[0] != "not a record"
        assert type(a[0]).__name__ in repr(a[0])
        with pytest.raises(TypeError):
            hash(a[0])
    t, u = xrq5.read_triggers_file(EXAMPLES / "triggers.xml")[:1] * 2
    changed = xrq5.read_triggers_file(EXAMPLES / "triggers.xml")[0]
    changed.low += 1
    assert t == u and t != changed


def strict_cases():
    for xml in sorted(STRICT.glob("*.xml")):
        args = xml.with_suffix(".args")
        words = shlex.split(args.read_text()) if args.exists() else []
        classic = "--classic" in words
        xcd = [STRICT / words[i + 1] for i, w in enumerate(words) if w == "--xcd"]
        yield pytest.param(xml, classic, xcd, id=xml.stem)


@pytest.mark.parametrize("xml,classic,xcd", list(strict_cases()))
def test_check_finds_what_the_tool_finds(xml, classic, xcd):
    expected = xml.with_suffix(".expected").read_text(encoding="utf-8")
    from_file = xrq5.check(xml, xcd=xcd, classic=classic)
    lines = "".join(f"{xml.name}:{f.line}:{f.column}: {f.severity}: {f.message}\n"
                    for f in from_file)
    assert lines == expected
    assert all(f.file == str(xml) and f.code for f in from_file)
    from_text = xrq5.check(xml.read_bytes().decode("utf-8", "surrogateescape")
                           if b"ISO-8859-1" not in xml.read_bytes()[:100]
                           else xml.read_bytes().decode("iso-8859-1"),
                           xcd=[str(x) for x in xcd], classic=classic)
    assert [(f.line, f.column, f.severity, f.code, f.message) for f in from_text] == \
           [(f.line, f.column, f.severity, f.code, f.message) for f in from_file]
    assert all(f.file == "<memory>" for f in from_text)
    d = from_file[0].to_dict()
    assert set(d) == {"file", "line", "column", "severity", "code", "message"}
    assert str(from_file[0]).startswith(f"{xml}:{d['line']}:{d['column']}: {d['severity']}: ")


def test_check_of_clean_and_plain_documents():
    for name in ["ev_list.xml", "xcd_tag.xml", "xcd_var.xml", "env_dict.xml", "triggers.xml"]:
        assert xrq5.check(EXAMPLES / name) == []
        assert xrq5.check(EXAMPLES / name, strict=False) == []
    # Without strict only the reader speaks: it ignores what the schema refuses.
    assert xrq5.check(STRICT / "ev_misspelt_sblock.xml", strict=False) == []
    broken = xrq5.check("<BMR><EVENT>", strict=False)
    assert [(f.code, f.severity, f.file) for f in broken][:1] == [("read", "error", "<memory>")]
    with pytest.raises(TypeError):
        xrq5.check(EXAMPLES / "triggers.xml", xcd=str(EXAMPLES / "xcd_tag.xml"))


def test_warnings_of_a_document_that_reads_go_to_warnings(capfd):
    doc = ('<DAQvariables><DaqBits><tarvo>B</tarvo><bitTitle bit="4"></bitTitle>'
           '<bitTitle bit="5">ready</bitTitle></DaqBits></DAQvariables>')
    with pytest.warns(xrq5.Warning, match="bitTitle is not defined for bit  4 prop:B") as caught:
        channels = xrq5.read_channels(doc)
    assert len(caught) == 1 and str(caught[0].message).startswith("<memory>: warning: ")
    assert [b.bit_name for b in channels[0].bits] == ["", "ready"]
    assert capfd.readouterr() == ("", "")
    # A program that makes warnings errors gets the warning raised.
    import warnings
    with warnings.catch_warnings():
        warnings.simplefilter("error", xrq5.Warning)
        with pytest.raises(xrq5.Warning):
            xrq5.read_channels(doc)
