#!/usr/bin/env python3
"""Plots each trigger's function result over recorded events, with its limits drawn
as lines and the events in which it fired marked: what an operator looks at when
choosing a threshold.

    python3 plot_triggers.py [TRIGGERS.xml EVENTS [--env-dict DICT.xml] [-o OUT.png]]

Without arguments it reads the example triggers, events and dictionary beside this
folder and writes triggers.png here.
"""
import argparse
import math
import os
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import xrq5  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLES = os.path.dirname(HERE)

# Which limits an operation compares with.
USES_LOW = {"EQ", "LTE", "LT", "INSIDE", "INSIDE_INCL", "OUTSIDE", "OUTSIDE_INCL"}
USES_UPPER = {"GT", "GTE", "INSIDE", "INSIDE_INCL", "OUTSIDE", "OUTSIDE_INCL"}


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("triggers", nargs="?", default=os.path.join(EXAMPLES, "triggers.xml"))
    p.add_argument("events", nargs="?", default=os.path.join(EXAMPLES, "events.xrq5ev"))
    p.add_argument("--env-dict", default=os.path.join(EXAMPLES, "env_dict.xml"))
    p.add_argument("-o", "--output", default=os.path.join(HERE, "triggers.png"))
    args = p.parse_args(argv)

    triggers = xrq5.read_triggers_file(args.triggers)
    events = xrq5.read_events(args.events)
    env = xrq5.read_env_dict_file(args.env_dict) if args.env_dict else None
    outcome = xrq5.evaluate(triggers, events, env)

    cols = 3
    rows = math.ceil(len(triggers) / cols)
    fig, axes = plt.subplots(rows, cols, figsize=(3.2 * cols, 2.2 * rows), squeeze=False,
                             sharex=True)
    x = np.arange(len(events))
    for i, (t, out) in enumerate(zip(triggers, outcome)):
        ax = axes[i // cols][i % cols]
        y = out["results"]
        ax.plot(x, y, "o-", ms=3, lw=1, color="tab:blue")
        if t.operation_name in USES_LOW:
            ax.axhline(t.low, color="tab:green", lw=0.8, ls="--", label="low")
        if t.operation_name in USES_UPPER:
            ax.axhline(t.upper, color="tab:orange", lw=0.8, ls="--", label="upper")
        fired = out["fired"]
        ax.plot(fired, y[fired], "x", color="tab:red", ms=8, mew=2, label="fired")
        title = t.description or t.channel
        ax.set_title(f"[{i}] {t.function_name} {t.operation_name}\n{title}", fontsize=7)
        ax.tick_params(labelsize=6)
        if np.all(np.isnan(y)):
            ax.text(0.5, 0.5, "no result", transform=ax.transAxes, ha="center", fontsize=7)
    for j in range(len(triggers), rows * cols):
        axes[j // cols][j % cols].axis("off")
    for ax in axes[-1]:
        ax.set_xlabel("event", fontsize=7)
    fig.tight_layout()
    fig.savefig(args.output, dpi=60)
    print(f"{args.output}: {len(triggers)} triggers over {len(events)} events, "
          f"{sum(len(o['fired']) for o in outcome)} fires")
    return 0


if __name__ == "__main__":
    sys.exit(main())
