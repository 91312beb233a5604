#!/usr/bin/env python3
"""Evaluates a trigger list over a season of recorded-event files on a Dask cluster.

    dask_eval.py TRIGGERS EVENTS... [--env-dict DICT] [--workers N] [--scheduler ADDRESS]

Every file is a task: a worker streams it through xrq5.evaluate, from a fresh trigger
state as `xrq5xml eval` does, and returns its per-trigger counts. The counts are added
up here and printed, last, as the summary object that `xrq5xml eval --json` prints for
the same files. A folder stands for its files in name order, as with the tool.

Without --scheduler a local cluster of N worker processes is started (N = --workers,
default: the number of processors). With --scheduler ADDRESS (tcp://host:8786) the
files go to a running scheduler: started by hand with `dask-scheduler` and
`dask-worker tcp://host:8786` on each machine, or by a batch system. Its workers must be
able to import xrq5 and to open the files under the names given here.
"""
import argparse
import json
import os
import sys


def events_files(args):
    """The files named, a folder's files in name order (hidden ones left out)."""
    files = []
    for a in args:
        if os.path.isdir(a):
            names = sorted(n for n in os.listdir(a) if not n.startswith("."))
            files.extend(os.path.join(a, n) for n in names if os.path.isfile(os.path.join(a, n)))
        else:
            files.append(a)
    return files


def evaluate_file(triggers_path, events_path, env_dict_path):
    """One task: the counts of one file, as plain data."""
    import xrq5

    triggers = xrq5.read_triggers_file(triggers_path)
    env = xrq5.read_env_dict_file(env_dict_path, False) if env_dict_path else None
    per = xrq5.evaluate(triggers, events_path, env_dict=env)
    if per:
        events = len(per[0]["results"])
    else:
        events = sum(1 for _ in xrq5.iter_events(events_path))
    return {
        "events": events,
        "per_trigger": [
            {"fired": len(t["fired"]), "missing": len(t["missing"]), "invalid": len(t["invalid"])}
            for t in per
        ],
    }


def summary(triggers_path, results):
    """The summary object of `xrq5xml eval --json` for the counts of every file."""
    import xrq5

    triggers = xrq5.read_triggers_file(triggers_path)
    events = sum(r["events"] for r in results)
    per = []
    for i, t in enumerate(triggers):
        counts = {k: sum(r["per_trigger"][i][k] for r in results)
                  for k in ("fired", "missing", "invalid")}
        per.append({"trigger": i, "channel": t.channel, "function": t.function_name,
                    "operation": t.operation_name, "description": t.description, **counts})
    return {"summary": {
        "events": events,
        "triggers": len(triggers),
        "evaluations": sum(events - p["missing"] for p in per),
        "fires": sum(p["fired"] for p in per),
        "per_trigger": per,
    }}


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("triggers", metavar="TRIGGERS", help="trigger list")
    parser.add_argument("events", metavar="EVENTS", nargs="+",
                        help="recorded-event files, or folders of them")
    parser.add_argument("--env-dict", metavar="DICT", help="environment index dictionary")
    parser.add_argument("--workers", metavar="N", type=int, default=os.cpu_count() or 1,
                        help="worker processes of the local cluster")
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="a running scheduler (tcp://host:8786) instead of a local cluster")
    args = parser.parse_args(argv)
    if args.workers < 1:
        parser.error("--workers takes a number from 1")
    files = events_files(args.events)
    if not files:
        parser.error("no recorded-event file given")
    triggers = os.path.abspath(args.triggers)
    env = os.path.abspath(args.env_dict) if args.env_dict else None
    paths = [os.path.abspath(f) for f in files]

    from dask.distributed import Client, LocalCluster

    cluster = None
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
        client = Client(cluster)
    try:
        futures = client.map(evaluate_file, [triggers] * len(paths), paths, [env] * len(paths),
                             pure=False)
        results = client.gather(futures)
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    print(json.dumps(summary(triggers, results), sort_keys=True, separators=(",", ":"),
                     ensure_ascii=False))
    return 0


if __name__ == "__main__":
    sys.exit(main())
