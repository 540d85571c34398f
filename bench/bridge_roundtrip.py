#!/usr/bin/env python3
"""The time orva-bridge adds to one command: the power status query as PJLink
"%1POWR ?" through the bridge (TCP → bridge → orva-sim on a pseudo-terminal →
reply), beside the same query made by orva-ctl straight on a simulator's port
and beside the line alone ("CR0" CR written and "00" CR read with termios, in
this process).

Two simulators, both orva-sim --state on: A is the bridge's; B is orva-ctl's
and the line's, since orva-ctl cannot open a port the bridge holds (its lock
file). The bridge and orva-ctl both run with --log, so that the command-to-
reply time of each can be read from its own exchange log (TX to RX, whose
timestamps have 1 ms resolution: the mean says more there than the median).

One untimed round first, then ROUNDS rounds. Every round makes one query over
a persistent PJLink connection, one over a fresh connection (connect, greeting,
request, reply) and one on the line; CTL_RUNS of the rounds also run orva-ctl
status once. The order turns by one each round so that load drifts hit all
alike. The bridge's added time is the difference, round by round, between its
round trip and the line's. Prints p50/p99/min/max/mean of each; never fails on
speed. Exit status 1 when a program could not run or answered wrongly.

Usage: bridge_roundtrip.py --bridge ORVA_BRIDGE --sim ORVA_SIM --ctl ORVA_CTL
                           [--rounds N] [--ctl-runs M]"""
import argparse
import datetime
import os
import select
import socket
import subprocess
import sys
import tempfile
import termios
import time

from bridge_common import Bridge, Simulator, load_average, print_timing_table

IO_TIMEOUT_S = 5  # per read: far beyond any answer, short of a hang


def parse_args():
    parser = argparse.ArgumentParser(
        description="orva-bridge's added time per command (prints figures; never fails on speed)")
    parser.add_argument("--bridge", required=True, help="orva-bridge")
    parser.add_argument("--sim", required=True, help="orva-sim")
    parser.add_argument("--ctl", required=True, help="orva-ctl")
    parser.add_argument("--rounds", type=int, default=200, help="timed rounds through the bridge (default 200)")
    parser.add_argument("--ctl-runs", type=int, default=50, help="orva-ctl runs among them (default 50)")
    args = parser.parse_args()
    if args.rounds < 1 or not 1 <= args.ctl_runs <= args.rounds:
        parser.error("--rounds must be at least 1, --ctl-runs between 1 and --rounds")
    return args


def read_line(readable, deadline, what):
    """Bytes from `readable` (a socket or a file descriptor) up to and with the first CR."""
    data = b""
    fd = readable.fileno() if hasattr(readable, "fileno") else readable
    while not data.endswith(b"\r"):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            sys.exit(f"{what}: no reply within {IO_TIMEOUT_S} s (got {data!r})")
        chunk = readable.recv(256) if hasattr(readable, "recv") else os.read(fd, 256)
        if not chunk:
            sys.exit(f"{what}: the other end closed (got {data!r})")
        data += chunk
    return data


def make_raw(fd):
    """Raw 8N1 at 19200 baud, as orva-ctl sets the port; input not yet read dropped."""
    iflag, oflag, cflag, lflag, _, _, cc = termios.tcgetattr(fd)
    iflag &= ~(termios.IGNBRK | termios.BRKINT | termios.PARMRK | termios.ISTRIP | termios.INLCR | termios.IGNCR
               | termios.ICRNL | termios.IXON | termios.IXOFF)
    oflag &= ~termios.OPOST
    lflag &= ~(termios.ECHO | termios.ECHONL | termios.ICANON | termios.ISIG | termios.IEXTEN)
    cflag &= ~(termios.CSIZE | termios.PARENB | termios.CSTOPB)
    cflag |= termios.CS8 | termios.CREAD | termios.CLOCAL
    cc[termios.VMIN], cc[termios.VTIME] = 1, 0
    termios.tcsetattr(fd, termios.TCSANOW, [iflag, oflag, cflag, lflag, termios.B19200, termios.B19200, cc])
    termios.tcflush(fd, termios.TCIFLUSH)


def ms_since(start_ns):
    return (time.monotonic_ns() - start_ns) / 1e6


def log_pairs(path, offset):
    """Command-to-reply times in ms from an exchange log, from byte `offset` on: each
    TX to the RX that ends its reply (with a CR). Returns (times, new offset)."""
    with open(path, "rb") as f:
        f.seek(offset)
        text = f.read()
    times, sent = [], None
    for line in text.decode("utf-8", "replace").splitlines():
        parts = line.split(" ", 2)
        if len(parts) < 3:
            continue
        stamp = datetime.datetime.fromisoformat(parts[0]).timestamp() * 1000
        if parts[1] == "TX":
            sent = stamp
        elif parts[1] == "RX" and sent is not None and parts[2].endswith("<CR>"):
            times.append(stamp - sent)
            sent = None
    return times, offset + len(text)


def main():
    args = parse_args()
    tmp = tempfile.mkdtemp(prefix="orva-bench-bridge-")
    bridge_log, ctl_log = os.path.join(tmp, "bridge.log"), os.path.join(tmp, "ctl.log")
    sim_a = Simulator(args.sim, "--state", "on")
    sim_b = Simulator(args.sim, "--state", "on")
    bridge = None
    line_fd = None
    persistent = None
    try:
        bridge = Bridge(args.bridge, sim_a.device, "--log", bridge_log)
        address = ("127.0.0.1", bridge.port)
        line_fd = os.open(sim_b.device, os.O_RDWR | os.O_NOCTTY)
        ctl_offset = 0

        persistent = socket.create_connection(address, timeout=IO_TIMEOUT_S)
        persistent.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        greeting = read_line(persistent, time.monotonic() + IO_TIMEOUT_S, "bridge greeting")
        if greeting != b"PJLINK 0\r":
            sys.exit(f"orva-bridge: greeting {greeting!r}, not PJLINK 0")

        def check(what, got, wanted):
            if got != wanted:
                sys.exit(f"{what}: answered {got!r}, not {wanted!r}")

        def bridge_persistent():
            start = time.monotonic_ns()
            persistent.sendall(b"%1POWR ?\r")
            reply = read_line(persistent, time.monotonic() + IO_TIMEOUT_S, "bridge (persistent)")
            elapsed = ms_since(start)
            check("bridge (persistent)", reply, b"%1POWR=1\r")
            return elapsed

        def bridge_fresh():
            start = time.monotonic_ns()
            with socket.create_connection(address, timeout=IO_TIMEOUT_S) as s:
                s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                deadline = time.monotonic() + IO_TIMEOUT_S
                check("bridge (fresh) greeting", read_line(s, deadline, "bridge (fresh) greeting"), b"PJLINK 0\r")
                s.sendall(b"%1POWR ?\r")
                reply = read_line(s, deadline, "bridge (fresh)")
                elapsed = ms_since(start)
            check("bridge (fresh)", reply, b"%1POWR=1\r")
            return elapsed

        def line():
            make_raw(line_fd)  # orva-ctl shares this port between our queries
            start = time.monotonic_ns()
            os.write(line_fd, b"CR0\r")
            reply = read_line(line_fd, time.monotonic() + IO_TIMEOUT_S, "the line")
            elapsed = ms_since(start)
            check("the line", reply, b"00\r")
            return elapsed

        def ctl():
            argv = [args.ctl, "--port", sim_b.device, "--log", ctl_log, "status"]
            start = time.monotonic_ns()
            try:
                done = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                      stderr=subprocess.PIPE, text=True, timeout=IO_TIMEOUT_S * 2)
            except (OSError, subprocess.TimeoutExpired) as e:
                sys.exit(f"orva-ctl: could not run: {e}")
            elapsed = ms_since(start)
            if done.returncode != 0 or done.stdout != "Power ON\n":
                sys.exit(f"orva-ctl: exit {done.returncode}, stdout {done.stdout[:200]!r}, "
                         f"stderr {done.stderr[:200]!r}")
            return elapsed

        probes = {"persistent": bridge_persistent, "fresh": bridge_fresh, "line": line, "ctl": ctl}
        times = {name: [] for name in probes}
        added = {"persistent": [], "fresh": []}
        ctl_rounds = {1 + i * args.rounds // args.ctl_runs for i in range(args.ctl_runs)}
        bridge_offset = 0
        for round_no in range(args.rounds + 1):
            names = ["persistent", "fresh", "line"] + (["ctl"] if round_no in ctl_rounds or round_no == 0 else [])
            first = round_no % len(names)
            got = {name: probes[name]() for name in names[first:] + names[:first]}
            if round_no == 0:  # warms the caches and checks every answer
                bridge_offset = os.path.getsize(bridge_log)
                ctl_offset = os.path.getsize(ctl_log)
                continue
            for name, value in got.items():
                times[name].append(value)
            for name in added:
                added[name].append(got[name] - got["line"])
        bridge_line, _ = log_pairs(bridge_log, bridge_offset)
        ctl_line, _ = log_pairs(ctl_log, ctl_offset)
        if not bridge.alive():
            sys.exit("orva-bridge ended during the run")
    finally:
        if persistent:
            persistent.close()
        if line_fd is not None:
            os.close(line_fd)
        if bridge:
            bridge.end()
        sim_a.end()
        sim_b.end()
        for path in (bridge_log, ctl_log):
            if os.path.exists(path):
                os.unlink(path)
        os.rmdir(tmp)

    rows = [
        ("line alone: termios write of \"CR0\" CR, read of \"00\" CR on orva-sim B's pty, in this process",
         times["line"]),
        ("bridge, persistent PJLink connection: \"%1POWR ?\" sent → \"%1POWR=1\" read (TCP, bridge, its queue, "
         "sim A's pty and back)", times["persistent"]),
        ("bridge, fresh connection per query: connect → greeting → request → reply (close not included)",
         times["fresh"]),
        ("bridge's added time, persistent: (persistent round trip) − (line alone), same round", added["persistent"]),
        ("bridge's added time, fresh: (fresh connection round trip) − (line alone), same round", added["fresh"]),
        ("orva-ctl --port B status, whole run: fork+exec from Python, dynamic loading, Qt start, port lock and "
         "open, exchange, exit", times["ctl"]),
        ("orva-ctl command → reply, from its --log (TX → RX; 1 ms resolution)", ctl_line),
        ("bridge command → reply on its line, from its --log (TX → RX; 1 ms resolution)", bridge_line),
    ]
    print(f"## orva-bridge: added time per command, PJLink \"%1POWR ?\" against orva-sim --state on, "
          f"{args.rounds} rounds (orva-ctl in {args.ctl_runs} of them)\n")
    print_timing_table(rows)
    print("\nThe bridge is on orva-sim A, orva-ctl and the line alone on orva-sim B (orva-ctl cannot open the port "
          "the bridge holds); both simulators run alike. The bridge's log and orva-ctl's each cost one write per line "
          "logged. Machine load average (1/5/15 min) at the end: " + load_average() + ".")


if __name__ == "__main__":
    main()
