#!/usr/bin/env python3
"""orva-ctl's start-up beside its floors and beside Python, each process timed
from start to exit, the status exchanges all against one orva-sim --on on a
pseudo-terminal:

  orva-ctl status, and orva-ctl list (no port opened), for each build given;
  the same status exchange by python3 + pyserial (status_pyserial.py) and by
  a C program with termios (bench_status_termios, the floor);
  an empty program linked to Qt Core alone (bench_empty_qtcore, the floor for
  orva-ctl list); python3 -c pass, for reference.

One untimed round first, then RUNS rounds; every round runs each program once,
in turn, starting one further along the list each round, so that load drifts
hit all alike. Prints the median (min .. max) of each and the ratios; never
fails on speed. Exit status 1 when a program could not run or answered wrongly.

Usage: ctl_roundtrip.py --ctl LABEL=ORVA_CTL [--ctl LABEL=ORVA_CTL ...] --sim ORVA_SIM
                        [--runs N] [--termios PATH] [--empty-qtcore PATH]
--termios and --empty-qtcore default to bench/bench_status_termios and
bench/bench_empty_qtcore in ORVA_SIM's build directory."""
import argparse
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
RUN_TIMEOUT_S = 10  # per program run: far beyond any answer, short of a hang


def ctl_build(text):
    label, sep, path = text.partition("=")
    if not sep or not label or not path:
        raise argparse.ArgumentTypeError(f"not LABEL=PATH: {text!r}")
    return label, path


def answers_power_on(out):
    return out == "Power ON\n"


def lists_status(out):
    return any(line.split() == ["status", "CR0"] for line in out.splitlines())


def prints_nothing(out):
    return out == ""


def parse_args():
    parser = argparse.ArgumentParser(
        description="orva-ctl start-up beside its floors and Python (prints figures; never fails on speed)")
    parser.add_argument("--ctl", action="append", type=ctl_build, required=True, metavar="LABEL=PATH",
                        help="an orva-ctl build to measure (repeatable)")
    parser.add_argument("--sim", required=True, help="orva-sim")
    parser.add_argument("--runs", type=int, default=20, help="timed rounds (default 20)")
    parser.add_argument("--termios", help="bench_status_termios (default: beside --sim's build)")
    parser.add_argument("--empty-qtcore", help="bench_empty_qtcore (default: beside --sim's build)")
    args = parser.parse_args()
    labels = [label for label, _ in args.ctl]
    if len(set(labels)) != len(labels):
        parser.error(f"a label given twice: {labels}")
    if args.runs < 1:
        parser.error("--runs must be at least 1")
    build_bench = os.path.join(os.path.dirname(os.path.abspath(args.sim)), "bench")
    args.termios = args.termios or os.path.join(build_bench, "bench_status_termios")
    args.empty_qtcore = args.empty_qtcore or os.path.join(build_bench, "bench_empty_qtcore")
    return args


def run_once(name, argv, check):
    """Runs one program, returns its time in ms; exits if it fails or answers wrongly."""
    start = time.monotonic_ns()
    try:
        done = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              text=True, timeout=RUN_TIMEOUT_S)
    except (OSError, subprocess.TimeoutExpired) as e:
        sys.exit(f"{name}: could not run: {e}")
    elapsed = (time.monotonic_ns() - start) / 1e6
    if done.returncode != 0 or not check(done.stdout):
        sys.exit(f"{name}: exit {done.returncode}, stdout {done.stdout[:200]!r}, stderr {done.stderr[:200]!r}")
    return elapsed


def main():
    args = parse_args()
    py = sys.executable
    sim = subprocess.Popen([args.sim, "--on"], stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True)
    try:
        pty = sim.stdout.readline().strip()
        if not pty:
            sys.exit(f"{args.sim}: no pseudo-terminal path on its first line")
        programs = {}  # row name -> (argv, check), in the order of the table
        for label, path in args.ctl:
            programs[f"orva-ctl status ({label})"] = ([path, "--port", pty, "status"], answers_power_on)
        for label, path in args.ctl:
            programs[f"orva-ctl list ({label})"] = ([path, "list"], lists_status)
        programs["python3 + pyserial status"] = ([py, os.path.join(HERE, "status_pyserial.py"), pty],
                                                 answers_power_on)
        programs["C + termios status"] = ([args.termios, pty], answers_power_on)
        programs["empty Qt Core program"] = ([args.empty_qtcore], prints_nothing)
        programs["python3 -c pass"] = ([py, "-c", "pass"], prints_nothing)

        names = list(programs)
        times = {name: [] for name in names}
        for round_no in range(args.runs + 1):
            first = round_no % len(names)
            for name in names[first:] + names[:first]:
                elapsed = run_once(name, *programs[name])
                if round_no > 0:  # round 0 warms the caches and checks every answer
                    times[name].append(elapsed)
    finally:
        sim.terminate()
        sim.wait()

    median = {name: statistics.median(t) for name, t in times.items()}
    print(f"## orva-ctl start-up beside its floors and Python, process start to exit, "
          f"median of {args.runs} (min .. max)\n")
    print("Builds: " + ", ".join(f"{label} = {path}" for label, path in args.ctl) + "\n")
    print("| program | median ms | min .. max ms |")
    print("|---|---|---|")
    for name, t in times.items():
        print(f"| {name} | {median[name]:.1f} | {min(t):.1f} .. {max(t):.1f} |")

    print("\n## ratios of the medians\n")
    print("| build | status / Python (aim ≤ 0.5) | status / C termios | list / empty Qt Core (aim ≤ 1.3) |")
    print("|---|---|---|---|")
    for label, _ in args.ctl:
        status, listing = median[f"orva-ctl status ({label})"], median[f"orva-ctl list ({label})"]
        print(f"| {label} | {status / median['python3 + pyserial status']:.2f} "
              f"| {status / median['C + termios status']:.2f} "
              f"| {listing / median['empty Qt Core program']:.2f} |")


if __name__ == "__main__":
    main()
