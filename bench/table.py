#!/usr/bin/env python3
"""The comparison table of ./run bench, from the JSON reports of the benchmark programs.

Each figure is the median of its repetitions, beside the median of its baseline from the same
run: real time for benchmarks timed so (NAME/real_time), else the CPU time of the timed thread. A row's goal is a bound on the ratio figure/baseline ("<=") or, for throughputs, on
baseline/figure turned around ("throughput >="). Rows whose benchmarks are missing or failed are
shown as such, never left out.

usage: table.py [--doc FILE --note TEXT] REPORT.json...
  --doc FILE   also write TEXT and the table into FILE, between its two marker lines
"""
import json
import sys

# (what, figure, baseline, goal): a goal is (kind, bound) or None for a row shown for scale. The
# "what" names the baseline ("... vs ..."), so a reader knows what each ratio compares against.
# Benchmarks are named as Google Benchmark reports them (name/argument).
ROWS = [
    ("module call, 1x1 double vs CPython: box, call, unbox", "BM_OrbCall", "BM_PythonCall", ("<=", 1.0)),
    ("  vs the floor: a plain function through a pointer", "BM_OrbCall", "BM_BareCall", None),
    ("  vs Lua: a C function through lua_call", "BM_OrbCall", "BM_LuaCall", None),
    ("module call, 1x1000 double scaled vs C: malloc and scale", "BM_OrbCallVector", "BM_BareCallVector", ("<=", 1.5)),
    ("of the call: sigsetjmp saving the mask vs not", "BM_SigsetjmpSavingMask", "BM_SigsetjmpNoMask", None),
    ("load + first call + clear vs dlopen, 4 dlsym, dlclose", "BM_OrbLoadCallClear", "BM_DlopenDlsymDlclose", ("<=", 1.2)),
    ("orb check, largest library vs nm -D --defined-only", "BM_OrbCheck", "BM_NmDefined", ("<=", 0.15)),
    ("  orb check --symbols vs nm -D --defined-only", "BM_OrbCheckSymbols", "BM_NmDefined", None),
    ("manifest of 11 MB module, appended vs the hand-written zip reader", "BM_RetrieveVersion/0", "BM_EocdReader/0", ("<=", 2.0)),
    ("manifest of 11 MB module, ELF section vs the hand-written zip reader", "BM_RetrieveVersion/1", "BM_EocdReader/1", ("<=", 2.0)),
    ("manifest of 11 MB module, linked in vs the hand-written zip reader", "BM_RetrieveVersion/2", "BM_EocdReader/2", ("<=", 2.0)),
    ("async feval round trip vs the bare queue", "BM_AsyncFevalRoundTrip", "BM_BareQueueRoundTrip", ("<=", 1.5)),
    ("100,000 async fevals, throughput vs the bare queue", "BM_AsyncFevalBurst", "BM_BareQueueBurst", ("throughput >=", 0.5)),
    ("orb build, one C file vs cc -shared", "BM_OrbBuild", "BM_CcShared", ("<=", 1.3)),
]

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def load_medians(paths):
    """name -> {"time_ns", "items_per_second"} of the median aggregate; name -> error text."""
    medians, errors = {}, {}
    for path in paths:
        with open(path, encoding="utf-8") as f:
            report = json.load(f)
        for b in report.get("benchmarks", []):
            name = b.get("run_name", b.get("name", ""))
            # Each benchmark says which clock is its figure: one timed in real time (threads
            # waiting for each other, child processes) is reported as NAME/real_time, the others
            # count the CPU time of their thread, which work elsewhere on the machine disturbs less.
            clock = "cpu_time"
            if name.endswith("/real_time"):
                name = name[: -len("/real_time")]
                clock = "real_time"
            if b.get("error_occurred"):
                errors[name] = b.get("error_message", "failed")
                continue
            if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
                continue
            if b.get("run_type") == "iteration" and name in medians:
                continue  # a median, when there is one, wins over single runs
            entry = {"time_ns": b[clock] * UNIT_NS[b.get("time_unit", "ns")]}
            if "items_per_second" in b:
                entry["items_per_second"] = b["items_per_second"]
            if b.get("run_type") == "aggregate" or name not in medians:
                medians[name] = entry
    return medians, errors


def human(ns):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("us", 1e3)):
        if ns >= scale:
            return "%.3g %s" % (ns / scale, unit)
    return "%.3g ns" % ns


def evaluate(row, medians, errors):
    """The printed cells of one row: what, figure, baseline, ratio, goal, met?"""
    what, figure, baseline, goal = row
    goal_text = "-" if goal is None else "%s %.2fx" % goal
    missing = [n for n in (figure, baseline) if n not in medians]
    if missing:
        reason = "; ".join("%s: %s" % (n, errors.get(n, "not run")) for n in missing)
        return [what, "-", "-", "-", goal_text, "NOT MEASURED (%s)" % reason]
    f, b = medians[figure], medians[baseline]
    if goal is not None and goal[0].startswith("throughput"):
        fr, br = f.get("items_per_second"), b.get("items_per_second")
        if not fr or not br:
            return [what, "-", "-", "-", goal_text, "NOT MEASURED (no throughput)"]
        ratio = fr / br
        met = ratio >= goal[1]
        return [what, "%.3g/s" % fr, "%.3g/s" % br, "%.2fx" % ratio, goal_text, "yes" if met else "NO"]
    ratio = f["time_ns"] / b["time_ns"]
    met = "-" if goal is None else ("yes" if ratio <= goal[1] else "NO")
    return [what, human(f["time_ns"]), human(b["time_ns"]), "%.2fx" % ratio, goal_text, met]


def table(rows, medians, errors):
    cells = [["what", "figure", "baseline", "ratio", "goal", "met?"]]
    cells += [evaluate(r, medians, errors) for r in rows]
    widths = [max(len(c[i]) for c in cells) for i in range(len(cells[0]))]
    lines = []
    for n, c in enumerate(cells):
        lines.append("| " + " | ".join(x.ljust(w) for x, w in zip(c, widths)) + " |")
        if n == 0:
            lines.append("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    return "\n".join(lines)


DOC_START = "<!-- bench table start -->"
DOC_END = "<!-- bench table end -->"


def write_into_document(path, text):
    """Replaces what lies between the document's two marker lines with `text`; the rest stays."""
    with open(path, encoding="utf-8") as f:
        document = f.read()
    start, end = document.find(DOC_START), document.find(DOC_END)
    if start < 0 or end < start:
        raise ValueError("%s has no %s ... %s lines to put the table between" % (path, DOC_START, DOC_END))
    start += len(DOC_START)
    with open(path, "w", encoding="utf-8") as f:
        f.write(document[:start] + "\n" + text.rstrip("\n") + "\n" + document[end:])


def main(argv):
    args = argv[1:]
    doc, note = None, ""
    while args[:1] and args[0] in ("--doc", "--note") and len(args) > 1:
        if args[0] == "--doc":
            doc = args[1]
        else:
            note = args[1]
        args = args[2:]
    if not args:
        print(__doc__, file=sys.stderr)
        return 2
    medians, errors = load_medians(args)
    text = table(ROWS, medians, errors)
    print(text)
    if doc:
        write_into_document(doc, (note + "\n\n" if note else "") + text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
