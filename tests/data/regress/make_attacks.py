#!/usr/bin/env python3
"""Writes the entity-expansion attack documents (billion laughs and quadratic blow-up,
each in element text and in an attribute) for every kind of document, into the
regression folders of the fuzz targets that read that kind, and a small seed with
entities per target. Run from the repository root; the output is committed."""
import os

KINDS = [
    # target folder, file prefix, root, element path to the attack, element for seeds
    ("fuzz_ev_list", "ev_list", "BMR", ["EVENT", "TYPE"]),
    ("fuzz_xcd_read", "xcd_tag", "CHANDESCRIPTIONS", ["CHANNEL", "NAME"]),
    ("fuzz_xcd_read", "xcd_var", "DAQvariables", ["DaqFloat", "daqName"]),
    ("fuzz_env_dict", "env_dict", "ENVINDEXDICT", ["CHANNEL", "PROP"]),
    ("fuzz_trigger_list", "trigger_list", "XRQ5USERTRIGGERLIST", ["USERTRIGGER", "Group"]),
    ("fuzz_gige", "camera", "RegisterDescription", ["Integer", "ToolTip"]),
]


def doctype(root, path, entities):
    decl = ["<!ELEMENT %s ANY>" % e for e in [root] + path]
    decl += ["<!ATTLIST %s name CDATA #IMPLIED>" % e for e in [root] + path]
    return "<!DOCTYPE %s [\n%s\n%s\n]>\n" % (root, "\n".join(decl), "\n".join(entities))


def document(root, path, entities, payload, in_attr, in_root=False):
    head = '<?xml version="1.0" encoding="ISO-8859-1" ?>\n' + doctype(root, path, entities)
    if in_root:
        return head + '<%s name="%s">\n</%s>\n' % (root, payload, root)
    opened = "".join("<%s>" % e for e in path[:-1])
    closed = "".join("</%s>" % e for e in reversed(path[:-1]))
    leaf = path[-1]
    if in_attr:
        inner = '<%s name="%s">x</%s>' % (leaf, payload, leaf)
    else:
        inner = "<%s>%s</%s>" % (leaf, payload, leaf)
    return head + "<%s>\n%s%s%s\n</%s>\n" % (root, opened, inner, closed, root)


def laughs():
    ents = ['<!ENTITY l0 "lol">']
    ents += ['<!ENTITY l%d "%s">' % (i, ("&l%d;" % (i - 1)) * 10) for i in range(1, 10)]
    return ents, "&l9;"


def quadratic():
    # One 30000-character entity referenced 3000 times: 9e7 characters from 40 KB.
    return ['<!ENTITY e "%s">' % ("q" * 30000)], "&e;" * 3000


def main():
    for target, prefix, root, path in KINDS:
        regress = os.path.join("tests", "data", "regress", target)
        os.makedirs(regress, exist_ok=True)
        for attack, make in (("laughs", laughs), ("quadratic", quadratic)):
            ents, payload = make()
            for place in ("text", "attr", "root"):
                name = "%s_%s_%s.xml" % (prefix, attack, place)
                with open(os.path.join(regress, name), "w") as f:
                    f.write(document(root, path, ents, payload, place == "attr", place == "root"))
        # A seed for the fuzzers: nested entities of modest size in text and attribute.
        ents = ['<!ENTITY a "ab">', '<!ENTITY b "&a;&a;&#x41;">', '<!ENTITY c "&b;&b;&lt;">']
        seeds = os.path.join("fuzz", "corpus", target)
        with open(os.path.join(seeds, "%s_entities.xml" % prefix), "w") as f:
            f.write(document(root, path, ents, "&c;&b;&amp;", False))
        with open(os.path.join(seeds, "%s_entities_attr.xml" % prefix), "w") as f:
            f.write(document(root, path, ents, "&c;&a;", True))


if __name__ == "__main__":
    main()
