#!/usr/bin/env python3
"""orva-bridge on MQTT under load: PROJECTORS simulated projectors (orva-sim
--tcp 0 --state on --log, one process each) served by one bridge from a
configuration file ([bridge] mqtt, poll = 1, mqtt-id = load; a section per
projector with device = tcp://127.0.0.1:<port>, pjlink = 0), and one broker
(mosquitto on a free loopback port, no persistence), all started for the run.

This process subscribes to orva/# on one connection and counts every message
per second of the run; on another it publishes, on each projector in turn
(spread evenly over INTERVAL s), orva/<id>/mute/set "VIDEO ON" and "VIDEO OFF"
alternating, for SECONDS s. Every command is checked: its code ("C0D" or
"C0E") heard once by its simulator (from its --log), its outcome on
orva/<id>/reply (or orva/<id>/error), and orva/<id>/mute/video showing the new
value before the projector's next command. A state message that repeats its
topic's last value is counted: state is to be published when it changes.

Reported: the messages per second, the commands sent / heard / answered /
shown, the times command → reply and command → state (published → read, this
process), the polls each simulator heard (CR0 per second), the bridge's CPU
time (utime + stime) and VmRSS (from /proc) at the start of the run and at its
end, the broker's CPU time, and, when the bridge is ended with SIGTERM, the
projectors and bridge it set offline. Never fails on speed. Exit status 1 when
a program could not run.

Usage: mqtt_load.py --bridge ORVA_BRIDGE --sim ORVA_SIM [--seconds S] [--projectors N]
                    [--interval S] [--qos 0|1] [--broker-nodelay] [--mosquitto PATH]"""
import argparse
import collections
import json
import os
import select
import signal
import shutil
import subprocess
import sys
import tempfile
import time

from bridge_common import CLK_TCK, Simulator, fmt_ms, load_average, percentile
from mqtt_common import Broker, BridgeProcess, MqttClient

START_TIMEOUT_S = 60   # every projector online on MQTT
SETTLE_S = 2           # after that, before the run: the first polls' messages let pass
STATE_TIMEOUT_S = 5    # after the last command: how long its state may take
STOP_TIMEOUT_S = 5     # SIGTERM → offline published and the bridge ended
BRIDGE_ID = "load"
STATE_TOPICS = ("availability", "power", "power/text", "input", "mute/video", "mute/audio", "lamp/hours",
                "lamp/mode", "temperature/1", "temperature/2", "temperature/3", "fault", "problem", "status")


def parse_args():
    parser = argparse.ArgumentParser(
        description="orva-bridge on MQTT under load (prints figures; never fails on speed)")
    parser.add_argument("--bridge", required=True, help="orva-bridge")
    parser.add_argument("--sim", required=True, help="orva-sim")
    parser.add_argument("--seconds", type=float, default=60, help="length of the run (default 60)")
    parser.add_argument("--projectors", type=int, default=50, help="simulated projectors (default 50, at most 99)")
    parser.add_argument("--interval", type=float, default=3,
                        help="seconds between two commands to one projector (default 3)")
    parser.add_argument("--qos", type=int, choices=(0, 1), default=0, help="the commands' QoS (default 0)")
    parser.add_argument("--mosquitto", help="the broker's program (default: mosquitto on PATH or /usr/sbin)")
    parser.add_argument("--broker-nodelay", action="store_true",
                        help="run the broker with set_tcp_nodelay true (default: as installed, false)")
    args = parser.parse_args()
    if args.seconds <= 0 or args.interval <= 0 or not 1 <= args.projectors <= 99:
        parser.error("--seconds and --interval must be positive, --projectors 1 to 99")
    return args


def sim_codes(sim):
    """How often the simulator has heard each code so far (its "<ms> RX <code>" lines)."""
    counts = collections.Counter()
    with open(sim.log.name, errors="replace") as f:
        for line in f:
            parts = line.split()
            if len(parts) >= 3 and parts[1] == "RX":
                counts[" ".join(parts[2:])] += 1
    return counts


class Command:
    __slots__ = ("pid", "payload", "value", "t0", "reply", "state", "error", "superseded")

    def __init__(self, pid, payload, t0):
        self.pid, self.payload, self.t0 = pid, payload, t0
        self.value = payload.split()[1].encode()  # what orva/<id>/mute/video is to show
        self.reply = self.state = self.error = None
        self.superseded = False


class Load:
    def __init__(self, args):
        self.args = args
        self.ids = [f"p{i:02d}" for i in range(1, args.projectors + 1)]
        self.sims = {}
        self.broker = self.bridge = self.sub = self.pub = None
        self.tmp = tempfile.mkdtemp(prefix="orva-bench-mqtt-load-")
        self.last = {}                              # topic → last payload
        self.counting = False                       # messages counted per second while True
        self.run_start = None
        self.per_second = collections.Counter()     # second of the run → messages
        self.by_kind = collections.Counter()        # topic below orva/<id>/ → messages during the run
        self.repeats = collections.Counter()        # state topic kind → messages repeating the last value
        self.unknown_topics = collections.Counter()
        self.commands = []
        self.pending = {}                           # projector → its last command, until it has its reply and state
        self.offline = set()                        # topics set offline after SIGTERM
        self.stopping = False
        self.commands_seen = 0

    # --- messages ---

    def on_message(self, m):
        parts = m.topic.split("/")
        if parts[-1] == "set":  # our own commands, back from the broker: not the bridge's messages
            self.commands_seen += self.counting
            return
        if self.counting:
            self.per_second[int((m.t_ns / 1e9) - self.run_start)] += 1
        kind = None
        pid = None
        if len(parts) >= 3 and parts[0] == "orva" and parts[1] != "bridge":
            pid, kind = parts[1], "/".join(parts[2:])
        elif parts[:2] == ["orva", "bridge"]:
            kind = "bridge/" + "/".join(parts[3:])
        if self.counting and kind:
            self.by_kind[kind] += 1
            if kind in STATE_TOPICS and m.topic in self.last and self.last[m.topic] == m.payload:
                self.repeats[kind] += 1
            if pid is not None and pid not in self.ids:
                self.unknown_topics[m.topic] += 1
        if kind in STATE_TOPICS or (kind or "").startswith("bridge/"):
            self.last[m.topic] = m.payload
        if self.stopping and kind in ("availability", "bridge/availability") and m.payload == b"offline":
            self.offline.add(m.topic)
        cmd = self.pending.get(pid)
        if cmd is None:
            return
        if kind == "reply" and cmd.reply is None:
            cmd.reply = m
        elif kind == "error" and cmd.error is None:
            cmd.error = m
        elif kind == "mute/video" and m.payload == cmd.value and cmd.state is None:
            cmd.state = m
        if (cmd.reply or cmd.error) and cmd.state:
            del self.pending[pid]

    def pump(self, timeout):
        for r in select.select([self.sub, self.pub], [], [], max(0, timeout))[0]:
            for m in r.read():
                if r is self.sub:
                    self.on_message(m)

    def pump_until(self, done, timeout):
        deadline = time.monotonic() + timeout
        while not done():
            left = deadline - time.monotonic()
            if left <= 0:
                return False
            self.pump(min(left, 0.5))
        return True

    # --- start, run, end ---

    def start(self):
        args = self.args
        try:
            usage = subprocess.run([args.bridge, "--help"], stdin=subprocess.DEVNULL, capture_output=True,
                                   text=True, timeout=10).stdout
        except (OSError, subprocess.TimeoutExpired) as e:
            sys.exit(f"{args.bridge}: could not run: {e}")
        if "--mqtt" not in usage:
            sys.exit(f"{args.bridge}: no --mqtt in its --help (built without MQTT?)")
        self.broker = Broker(args.mosquitto, nodelay=args.broker_nodelay)
        for pid in self.ids:
            self.sims[pid] = Simulator(args.sim, "--tcp", "0", "--state", "on")
            if not self.sims[pid].device.startswith("tcp://127.0.0.1:"):
                sys.exit(f"{args.sim}: {self.sims[pid].device!r} on its first line, not tcp://127.0.0.1:<port>")
        self.sub = MqttClient(self.broker.port, "orva-bench-load-sub")
        self.sub.subscribe("orva/#")
        self.pub = MqttClient(self.broker.port, "orva-bench-load-pub")
        for m in self.sub.pending():
            self.on_message(m)
        config = os.path.join(self.tmp, "orva-bridge.conf")
        with open(config, "w") as f:
            f.write(f"[bridge]\nmqtt = {self.broker.url}\npoll = 1\nmqtt-id = {BRIDGE_ID}\n")
            for pid in self.ids:
                f.write(f"\n[{pid}]\ndevice = {self.sims[pid].device}\npjlink = 0\n")
        t0 = time.monotonic()
        self.bridge = BridgeProcess(args.bridge, "--config", config)

        def all_online():
            if not self.bridge.alive():
                sys.exit(f"orva-bridge ended at start (status {self.bridge.proc.returncode}; its stderr: "
                         f"{self.bridge.log_text()[-400:]!r})")
            return self.last.get(f"orva/bridge/{BRIDGE_ID}/availability") == b"online" and all(
                self.last.get(f"orva/{pid}/availability") == b"online" and f"orva/{pid}/mute/video" in self.last
                for pid in self.ids)

        if not self.pump_until(all_online, START_TIMEOUT_S):
            missing = [pid for pid in self.ids if self.last.get(f"orva/{pid}/availability") != b"online"]
            sys.exit(f"orva-bridge: not every projector online within {START_TIMEOUT_S} s (not online: "
                     f"{' '.join(missing) or 'none, but a state missing'}; its stderr: "
                     f"{self.bridge.log_text()[-400:]!r})")
        self.online_s = time.monotonic() - t0
        try:
            self.projectors_list = json.loads(self.last.get(f"orva/bridge/{BRIDGE_ID}/projectors", b"null"))
        except ValueError:
            self.projectors_list = self.last.get(f"orva/bridge/{BRIDGE_ID}/projectors")
        self.pump_until(lambda: False, SETTLE_S)

    def sample(self):
        return {"t": time.monotonic(), "cpu": self.bridge.cpu_s(), "rss": self.bridge.kib("VmRSS"),
                "broker": self.broker.cpu_s(), "codes": {pid: sim_codes(self.sims[pid]) for pid in self.ids}}

    def run(self):
        args = self.args
        n = len(self.ids)
        self.before = self.sample()
        self.run_start = time.monotonic()
        self.counting = True
        end = self.run_start + args.seconds
        turn = collections.Counter()
        # the next due time of each projector's command, spread evenly over the interval
        due = {pid: self.run_start + i * args.interval / n for i, pid in enumerate(self.ids)}
        while True:
            now = time.monotonic()
            if now >= end:
                break
            for pid in self.ids:
                if due[pid] <= now and due[pid] < end:
                    old = self.pending.pop(pid, None)
                    if old is not None:
                        old.superseded = True
                    payload = "VIDEO ON" if turn[pid] % 2 == 0 else "VIDEO OFF"
                    turn[pid] += 1
                    t0 = self.pub.publish(f"orva/{pid}/mute/set", payload, qos=args.qos)
                    cmd = Command(pid, payload, t0)
                    self.commands.append(cmd)
                    self.pending[pid] = cmd
                    due[pid] += args.interval
            self.sub.ping_if_idle()
            self.pub.ping_if_idle()
            nxt = min([d for d in due.values() if d < end] + [end])
            self.pump(nxt - time.monotonic())
        self.counting = False
        self.pump_until(lambda: not self.pending, STATE_TIMEOUT_S)
        self.pump_until(lambda: False, 0.3)
        self.after = self.sample()
        self.hwm = self.bridge.kib("VmHWM")
        if not self.bridge.alive():
            sys.exit("orva-bridge ended during the run")

    def stop(self):
        """SIGTERM to the bridge; the offline messages it leaves."""
        self.stopping = True
        t0 = time.monotonic()
        self.bridge.proc.terminate()
        wanted = {f"orva/{pid}/availability" for pid in self.ids} | {f"orva/bridge/{BRIDGE_ID}/availability"}
        self.exit_s = None
        deadline = t0 + STOP_TIMEOUT_S
        while time.monotonic() < deadline and not (self.exit_s is not None and wanted <= self.offline):
            self.pump(0.01)
            if self.exit_s is None and self.bridge.proc.poll() is not None:
                self.exit_s = time.monotonic() - t0
        self.bridge_status = self.bridge.stop()
        self.pump_until(lambda: wanted <= self.offline, 1)
        # the bridge's connections, from the broker's log ("New client connected from … as ID (…)")
        self.connections = sum(1 for line in self.broker.log_text().splitlines()
                               if " New client connected " in line and " as orva-bench-" not in line)

    def end(self):
        for c in (self.pub, self.sub):
            if c:
                c.close()
        if self.bridge:
            self.bridge.end()
        for sim in self.sims.values():
            sim.end()
        if self.broker:
            self.broker.end()
        shutil.rmtree(self.tmp, ignore_errors=True)


def ms_list(pairs):
    return [(b - a) / 1e6 for a, b in pairs]


def report(load):
    args = load.args
    n = len(load.ids)
    cmds = load.commands
    before, after = load.before, load.after
    sent = collections.Counter((c.pid, c.payload) for c in cmds)
    heard_once = heard_never = heard_more = 0
    mismatch = []
    for pid in load.ids:
        for payload, code in (("VIDEO ON", "C0D"), ("VIDEO OFF", "C0E")):
            heard = after["codes"][pid][code] - before["codes"][pid][code]
            wanted = sent[(pid, payload)]
            heard_once += min(heard, wanted)
            heard_never += max(0, wanted - heard)
            heard_more += max(0, heard - wanted)
            if heard != wanted and len(mismatch) < 5:
                mismatch.append(f"{pid} {code}: {wanted} sent, {heard} heard")
    replies = [c for c in cmds if c.reply]
    good_replies = 0
    for c in replies:
        try:
            outcome = json.loads(c.reply.payload)
            good_replies += isinstance(outcome, dict) and str(outcome.get("payload")).strip() == c.payload \
                and "ACK" in str(outcome.get("reply"))
        except ValueError:
            pass
    errors = [c for c in cmds if c.error]
    shown = [c for c in cmds if c.state]
    not_shown = [c for c in cmds if not c.state]
    superseded = sum(1 for c in not_shown if c.superseded)
    reply_ms = ms_list((c.t0, c.reply.t_ns) for c in replies)
    state_ms = ms_list((c.t0, c.state.t_ns) for c in shown)
    seconds = [load.per_second[s] for s in range(int(args.seconds))]
    total = sum(load.per_second.values())
    cr0 = [after["codes"][pid]["CR0"] - before["codes"][pid]["CR0"] for pid in load.ids]
    span = after["t"] - before["t"]
    line_codes = collections.Counter()
    for pid in load.ids:
        line_codes.update(after["codes"][pid])
        line_codes.subtract(before["codes"][pid])
    line_text = ", ".join(f"{code} {count / span:.1f}" for code, count in line_codes.most_common() if count)
    cpu = after["cpu"] - before["cpu"]
    broker_cpu = after["broker"] - before["broker"]
    kinds = ", ".join(f"{k} {v}" for k, v in load.by_kind.most_common())
    repeats = ", ".join(f"{k} {v}" for k, v in load.repeats.most_common()) or "none"
    projectors_ok = isinstance(load.projectors_list, list) and sorted(load.projectors_list) == load.ids
    lost = []
    if heard_never:
        lost.append(f"{heard_never} commands not heard by their simulator")
    if heard_more:
        lost.append(f"{heard_more} codes heard more often than sent")
    if len(replies) + len(errors) < len(cmds):
        lost.append(f"{len(cmds) - len(replies) - len(errors)} commands with no outcome on reply or error")
    if not_shown:
        lost.append(f"{len(not_shown)} commands whose state did not show ({superseded} of them before the "
                    f"projector's next command was due)")
    if errors:
        lost.append(f"{len(errors)} errors (first: {errors[0].error.payload[:160]!r})")
    if load.unknown_topics:
        lost.append(f"messages for unknown projectors: {dict(load.unknown_topics.most_common(3))}")

    print(f"## orva-bridge on MQTT under load: {n} orva-sim --tcp (--state on) on one bridge (poll 1 s), one broker, "
          f"{args.seconds:g} s; orva/<id>/mute/set VIDEO ON / VIDEO OFF alternating on each projector every "
          f"{args.interval:g} s (QoS {args.qos}); "
          f"{'mosquitto with set_tcp_nodelay true' if args.broker_nodelay else 'mosquitto as installed'}\n")
    print("| figure | value |")
    print("|---|---|")
    print(f"| projectors configured / online on MQTT (bridge start → all online, their mute known) | {n} / {n} "
          f"({load.online_s:.2f} s) |")
    print(f"| orva/bridge/{BRIDGE_ID}/projectors | "
          f"{'all ' + str(n) + ' ids' if projectors_ok else repr(load.projectors_list)[:120]} |")
    print(f"| messages on orva/# during the run (the bridge's: the commands on …/set apart) | {total} ({total / args.seconds:.1f}/s; per second "
          f"min {min(seconds, default=0)}, p50 {percentile(seconds, 50)}, max {max(seconds, default=0)}) |")
    print(f"| … by topic (below orva/<id>/) | {kinds} |")
    print(f"| state messages repeating their topic's last value | {repeats} |")
    print(f"| commands published | {len(cmds)} ({len(cmds) / args.seconds:.1f}/s) |")
    print(f"| … their code (C0D / C0E) heard by their simulator: once / never / more often | "
          f"{heard_once} / {heard_never} / {heard_more} |")
    print(f"| … answered on orva/<id>/reply (with their payload and the ACK) / on orva/<id>/error | "
          f"{len(replies)} ({good_replies}) / {len(errors)} |")
    print(f"| … orva/<id>/mute/video showing the new value | {len(shown)} |")
    print(f"| command published → its reply read, p50 / p99 / max | {fmt_ms(percentile(reply_ms, 50))} / "
          f"{fmt_ms(percentile(reply_ms, 99))} / {fmt_ms(max(reply_ms, default=None))} ms |")
    print(f"| command published → mute/video read with the new value, p50 / p99 / max | "
          f"{fmt_ms(percentile(state_ms, 50))} / {fmt_ms(percentile(state_ms, 99))} / "
          f"{fmt_ms(max(state_ms, default=None))} ms |")
    print(f"| CR0 heard per projector per second (the polls, and the queries after each command), mean "
          f"(min–max over the projectors) | "
          f"{sum(cr0) / n / span:.2f} ({min(cr0) / span:.2f}–{max(cr0) / span:.2f}) |")
    print(f"| all codes heard by the {n} simulators per second (by code) | {sum(line_codes.values()) / span:.1f} "
          f"({line_text}) |")
    print(f"| the bridge's connections to the broker (from its log) | {load.connections} |")
    print(f"| bridge CPU time (utime + stime): run start → end | {before['cpu']:.2f} → {after['cpu']:.2f} s "
          f"({100 * cpu / span:.1f} % of one core) |")
    print(f"| broker CPU time: run start → end | {before['broker']:.2f} → {after['broker']:.2f} s "
          f"({100 * broker_cpu / span:.1f} % of one core) |")
    print(f"| bridge VmRSS: run start → end | {before['rss']} → {after['rss']} KiB "
          f"({after['rss'] - before['rss']:+d} KiB; VmHWM {load.hwm} KiB) |")
    offline_projectors = sum(1 for pid in load.ids if f"orva/{pid}/availability" in load.offline)
    bridge_offline = f"orva/bridge/{BRIDGE_ID}/availability" in load.offline
    exit_text = f"{load.exit_s:.2f} s" if load.exit_s is not None else f"not within {STOP_TIMEOUT_S} s"
    print(f"| SIGTERM → offline published: projectors / the bridge; exit status (time to exit) | "
          f"{offline_projectors} of {n} / {'yes' if bridge_offline else 'no'}; {load.bridge_status} ({exit_text}) |")
    print(f"| lost or wrong | {'; '.join(lost) if lost else 'nothing'} |")
    if mismatch:
        print(f"| simulators that heard other counts (first few) | {'; '.join(mismatch)} |")
    print(f"\nCPU time has {1000 // CLK_TCK} ms resolution. This process (subscriber and publisher, one thread) "
          f"and the {n} simulators share the machine's {os.cpu_count()} cores with the bridge and the broker. "
          f"Machine load average (1/5/15 min) at the end: {load_average()}.")


def main():
    args = parse_args()
    # Ended from outside: the broker, the bridge and the simulators are ended too (finally).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("ended by SIGTERM"))
    print(f"Machine load average (1/5/15 min) at the start: {load_average()}.\n")
    load = Load(args)
    try:
        load.start()
        load.run()
        load.stop()
        log_lines = load.bridge.log_text().splitlines()
    finally:
        load.end()
    report(load)
    if log_lines:
        print(f"\nThe bridge wrote {len(log_lines)} lines on stderr; the last few:", *log_lines[-5:],
              sep="\n", file=sys.stderr)


if __name__ == "__main__":
    main()
