#!/usr/bin/env python3
"""The time a command published on MQTT takes to reach the projector's line
through orva-bridge, beside the same command through the bridge's PJLink port.

This process is the projector: it opens a pseudo-terminal, gives the bridge its
slave side as --device and reads the master side itself, so that the moment a
command's last byte (its CR) arrives on the line is taken in the same thread
and with the same clock as the moment the command was sent. It answers as
orva-sim does (ACK for a command, the status for a query, the power state
following C00/C01 at once, with no warming up or cooling down), straight away.
A broker (mosquitto, on a free loopback port, no persistence) is started for
the run; two MQTT connections of this process stand for the control system:
one publishes the commands, the other is subscribed to orva/# and bench/#.

The bridge: orva-bridge --device PTY --pjlink PORT --mqtt mqtt://127.0.0.1:PORT
--id p1 --mqtt-id bench --poll 3600 (the long poll keeps polls out of the
rounds; its first poll, at start, is answered and let settle first).

Every round makes, in an order that turns by one each round so that load
drifts hit all alike:
  mqtt-0   orva/p1/power/set ON or OFF at QoS 0, whichever changes the power
           (the two alternate): published → "C00"/"C01" CR read on the line;
           then → its outcome on orva/p1/reply, → orva/p1/power showing the
           new state (after a command the bridge asks power, input and mute);
  mqtt-1   the same at QoS 1;
  b2b      two such commands at QoS 0, the second published BACK_TO_BACK_MS
           after the first one's traffic (reply, state, queries) has ended:
           the second timed. The broker's connection to the bridge has just
           carried the bridge's messages then; with mosquitto's default
           (set_tcp_nodelay false) the command can wait there for the TCP
           acknowledgement of what went before (Nagle's algorithm against the
           bridge's delayed acknowledgements);
  pjlink   "%1POWR 1" or "%1POWR 0" on a persistent PJLink connection, the one
           that leaves the power as it is (the projector acknowledges and
           ignores it; the bytes on the line are the same): sent → the code
           read on the line, → "%1POWR=OK" read;
  broker   a QoS 0 message from the publishing connection to the subscribed
           one (bench/echo): the broker's hop alone;
  pty      "C00" CR written on the slave of a second pseudo-terminal → read on
           its master: the pseudo-terminal's share.
After each (but the first command back to back), the round waits until the
line and the broker have been quiet for QUIET_MS; before each MQTT command
(but the second back to back) for ISOLATED_MS, long past the TCP delayed
acknowledgement (40 ms), so that it is an isolated one. One
untimed round first. Prints p50/p99/min/max/mean of each and the checks (each
command heard once, each answered on orva/p1/reply, the state following);
never fails on speed. Exit status 1 when a program could not run.
--broker-nodelay runs the broker with set_tcp_nodelay true.

Usage: mqtt_roundtrip.py --bridge ORVA_BRIDGE [--rounds N] [--broker-nodelay] [--mosquitto PATH]"""
import argparse
import collections
import json
import os
import pty
import select
import signal
import socket
import subprocess
import sys
import time
import tty

from bridge_common import free_port, load_average, print_timing_table
from mqtt_common import Broker, BridgeProcess, MqttClient

PROBE_TIMEOUT_S = 5     # per probe: far beyond any answer, short of a hang
START_TIMEOUT_S = 15    # the bridge listening, connected, and its first poll answered
QUIET_MS = 10           # after each probe: nothing on the line or from the broker for this long
ISOLATED_MS = 100       # before each isolated MQTT command: the same, long past the TCP delayed acknowledgement
SETTLE_QUIET_S = 1.0    # after the start
PROJECTOR_ID = "p1"
BRIDGE_ID = "bench"
BACK_TO_BACK_MS = 5     # back to back: the second command this long after the first's traffic ended
ACK = b"\x06"
KINDS = ["MQTT QoS 0", "MQTT QoS 1", "MQTT QoS 0, back to back: the first", "… the second", "PJLink"]


def parse_args():
    parser = argparse.ArgumentParser(
        description="an MQTT command's time to the line through orva-bridge (prints figures; never fails on speed)")
    parser.add_argument("--bridge", required=True, help="orva-bridge")
    parser.add_argument("--rounds", type=int, default=200, help="timed rounds (default 200)")
    parser.add_argument("--mosquitto", help="the broker's program (default: mosquitto on PATH or /usr/sbin)")
    parser.add_argument("--broker-nodelay", action="store_true",
                        help="run the broker with set_tcp_nodelay true (default: as installed, false)")
    args = parser.parse_args()
    if args.rounds < 1:
        parser.error("--rounds must be at least 1")
    return args


def ms(t1_ns, t0_ns):
    return (t1_ns - t0_ns) / 1e6


class FakeProjector:
    """The projector's end of a pseudo-terminal: every code heard (with the time its CR was
    read) and every reply written (with the time it was handed to the master)."""

    TEXTS = {"CR3": b"01234", "CR4": b"11", "CR6": b"032.5  41.0 038.5", "CR7": b"03", "CR9": b"TK58R SIM 1.40"}

    def __init__(self):
        self.master, self.slave = pty.openpty()
        tty.setraw(self.slave)  # the bridge sets its own; raw until then
        self.path = os.ttyname(self.slave)
        self.buf = b""
        self.on, self.input, self.video_mute, self.audio_mute = False, 1, False, False
        self.heard = []  # (code, t_ns of the read that completed it, t_ns of its reply written)

    def fileno(self):
        return self.master

    def answer(self, code):
        if code == "CR0":
            return b"00\r" if self.on else b"80\r"
        if code == "CR1":
            return b"%d\r" % self.input
        if code == "CRA":
            return b"FF\r" if not self.on else b"0%d\r" % (self.video_mute | self.audio_mute << 1)
        if code in self.TEXTS:
            return self.TEXTS[code] + b"\r"
        if code.startswith("C") and not code.startswith("CR"):
            if code == "C00":
                self.on = True
            elif code == "C01":
                self.on, self.video_mute, self.audio_mute = False, False, False
            elif code in ("C05", "C06", "C07"):
                self.input = {"C05": 1, "C06": 2, "C07": 3}[code]
            elif self.on and code in ("C0B", "C0C", "C0D", "C0E"):
                if code in ("C0D", "C0E"):
                    self.video_mute = code == "C0D"
                else:
                    self.audio_mute = code == "C0B"
            return ACK
        return b"?\r"

    def read(self):
        data = os.read(self.master, 4096)
        t = time.monotonic_ns()
        self.buf += data
        while b"\r" in self.buf:
            line, self.buf = self.buf.split(b"\r", 1)
            code = line.replace(b"\n", b"").decode("latin-1")
            os.write(self.master, self.answer(code))
            self.heard.append((code, t, time.monotonic_ns()))

    def close(self):
        os.close(self.master)
        os.close(self.slave)


class Bench:
    def __init__(self, args):
        self.args = args
        self.fake = FakeProjector()
        self.broker = None
        self.bridge = None
        self.pub = self.sub = self.pjlink = None
        self.messages = []       # every message read by the subscribed connection
        self.last = {}           # topic → payload last read
        self.pjlink_lines = []   # (line, t_ns)
        self.pjlink_buf = b""
        self.base_master, self.base_slave = pty.openpty()
        tty.setraw(self.base_slave)

    # --- the event loop: whatever is readable is handled, the projector answers at once ---

    def _readables(self):
        return [r for r in (self.fake, self.sub, self.pub, self.pjlink) if r is not None]

    def _handle(self, readable):
        if readable is self.fake:
            self.fake.read()
        elif readable is self.sub:
            for m in self.sub.read():
                self.messages.append(m)
                self.last[m.topic] = m.payload
        elif readable is self.pub:
            self.pub.read()  # PUBACKs
        elif readable is self.pjlink:
            data = self.pjlink.recv(4096)
            t = time.monotonic_ns()
            if not data:
                sys.exit("orva-bridge closed the PJLink connection")
            self.pjlink_buf += data
            while b"\r" in self.pjlink_buf:
                line, self.pjlink_buf = self.pjlink_buf.split(b"\r", 1)
                self.pjlink_lines.append((line, t))

    def pump(self, done, timeout):
        """Handles events until done() is true (True) or `timeout` s have passed (False)."""
        deadline = time.monotonic() + timeout
        while not done():
            left = deadline - time.monotonic()
            if left <= 0:
                return False
            for r in select.select(self._readables(), [], [], left)[0]:
                self._handle(r)
        return True

    def quiet(self, seconds, limit=PROBE_TIMEOUT_S):
        """Handles events until none has come for `seconds`; False if that took longer than `limit`."""
        deadline = time.monotonic() + limit
        while time.monotonic() < deadline:
            ready = select.select(self._readables(), [], [], seconds)[0]
            if not ready:
                return True
            for r in ready:
                self._handle(r)
        return False

    # --- start and end ---

    def start(self):
        try:
            usage = subprocess.run([self.args.bridge, "--help"], stdin=subprocess.DEVNULL, capture_output=True,
                                   text=True, timeout=10).stdout
        except (OSError, subprocess.TimeoutExpired) as e:
            sys.exit(f"{self.args.bridge}: could not run: {e}")
        if "--mqtt" not in usage:
            sys.exit(f"{self.args.bridge}: no --mqtt in its --help (built without MQTT?)")
        self.broker = Broker(self.args.mosquitto, nodelay=self.args.broker_nodelay)
        self.sub = MqttClient(self.broker.port, "orva-bench-sub")
        self.sub.subscribe("orva/#", "bench/#")
        for m in self.sub.pending():
            self.messages.append(m)
        self.pub = MqttClient(self.broker.port, "orva-bench-pub")
        for _ in range(3):  # the free port may be taken between our look and its bind
            self.pjlink_port = free_port()
            self.bridge = BridgeProcess(self.args.bridge, "--device", self.fake.path, "--pjlink", str(self.pjlink_port),
                                        "--mqtt", self.broker.url, "--id", PROJECTOR_ID, "--mqtt-id", BRIDGE_ID,
                                        "--poll", "3600")
            wanted = f"PJLink on 127.0.0.1 port {self.pjlink_port}"
            if self.pump(lambda: wanted in self.bridge.log_text() or not self.bridge.alive(), START_TIMEOUT_S) \
                    and self.bridge.alive():
                break
            text = self.bridge.log_text()
            self.bridge.end()
            self.bridge = None
            if "port" not in text.lower():  # not the port taken: no use trying again
                break
        if self.bridge is None:
            sys.exit(f"{self.args.bridge}: no PJLink listener (its stderr: {text[-400:]!r})")
        online = f"orva/{PROJECTOR_ID}/availability"
        if not self.pump(lambda: self.last.get(online) == b"online" and f"orva/{PROJECTOR_ID}/power" in self.last
                         and self.last.get(f"orva/bridge/{BRIDGE_ID}/availability") == b"online",
                         START_TIMEOUT_S):
            sys.exit(f"orva-bridge: not online on MQTT within {START_TIMEOUT_S} s (availability "
                     f"{self.last.get(online)!r}, bridge {self.last.get(f'orva/bridge/{BRIDGE_ID}/availability')!r}, "
                     f"power {self.last.get(f'orva/{PROJECTOR_ID}/power')!r}; its stderr: "
                     f"{self.bridge.log_text()[-400:]!r})")
        self.quiet(SETTLE_QUIET_S, START_TIMEOUT_S)
        self.start_codes = [c for c, _, _ in self.fake.heard]
        self.pjlink = socket.create_connection(("127.0.0.1", self.pjlink_port), timeout=PROBE_TIMEOUT_S)
        self.pjlink.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        if not self.pump(lambda: self.pjlink_lines, PROBE_TIMEOUT_S) or self.pjlink_lines[0][0] != b"PJLINK 0":
            sys.exit(f"orva-bridge: PJLink greeting {self.pjlink_lines[:1]!r}, not PJLINK 0")
        self.pjlink_lines.clear()

    def end(self):
        for c in (self.pub, self.sub):
            if c:
                c.close()
        if self.pjlink:
            self.pjlink.close()
        if self.bridge:
            self.bridge.end()
        if self.broker:
            self.broker.end()
        self.fake.close()
        os.close(self.base_master)
        os.close(self.base_slave)

    # --- the probes: each returns {row: ms} and counts what it checked in self.checks ---

    def probe_mqtt(self, qos, kind, key=None, quiet_before=ISOLATED_MS, quiet_after=QUIET_MS):
        """A power/set command at `qos`; counted in the checks under `kind`, timed (when `key`
        is given) as `key` (to the line), `key`-reply, `key`-ack-reply and `key`-state."""
        if quiet_before:
            self.quiet(quiet_before / 1000)
        turn_on = not self.fake.on
        payload, code = ("ON", "C00") if turn_on else ("OFF", "C01")
        state = "on" if turn_on else "off"
        power_topic = f"orva/{PROJECTOR_ID}/power"
        state_changes = self.last.get(power_topic) != state.encode()
        heard0, msgs0 = len(self.fake.heard), len(self.messages)
        checks = self.checks[kind]

        def new_messages(topic):
            return [m for m in self.messages[msgs0:] if m.topic == topic]

        def new_codes():
            return [h for h in self.fake.heard[heard0:] if h[0] == code]

        t0 = self.pub.publish(f"orva/{PROJECTOR_ID}/power/set", payload, qos=qos)
        checks["sent"] += 1
        complete = self.pump(lambda: new_codes() and new_messages(f"orva/{PROJECTOR_ID}/reply") and (
            not state_changes or any(m.payload == state.encode() for m in new_messages(power_topic))), PROBE_TIMEOUT_S)
        self.quiet(quiet_after / 1000)
        got = {}
        codes = new_codes()
        checks["heard once"] += len(codes) == 1
        if not codes:
            self.problems[f"MQTT {payload} ({kind}): {code} never on the line"] += 1
            return got
        _, t_line, t_ack = codes[0]
        if key:
            got[key] = ms(t_line, t0)
        self.sequences[" ".join(c for c, _, _ in self.fake.heard[heard0:])] += 1
        replies = new_messages(f"orva/{PROJECTOR_ID}/reply")
        if replies:
            checks["answered"] += 1
            try:
                outcome = json.loads(replies[0].payload)
                ok = isinstance(outcome, dict) and outcome.get("payload") == payload and "ACK" in str(
                    outcome.get("reply"))
            except ValueError:
                ok = False
            if ok:
                checks["answered well"] += 1
            elif len(self.odd_replies) < 3:
                self.odd_replies.append(replies[0].payload[:200])
            if key:
                got[f"{key}-reply"] = ms(replies[0].t_ns, t0)
                got[f"{key}-ack-reply"] = ms(replies[0].t_ns, t_ack)
        if len(replies) > 1:
            self.problems[f"MQTT {payload}: {len(replies)} messages on orva/{PROJECTOR_ID}/reply"] += 1
        errors = new_messages(f"orva/{PROJECTOR_ID}/error")
        if errors:
            self.problems[f"orva/{PROJECTOR_ID}/error: {errors[0].payload[:120]!r}"] += len(errors)
        if state_changes:
            states = [m for m in new_messages(power_topic) if m.payload == state.encode()]
            checks["state to show"] += 1
            if states:
                checks["state shown"] += 1
                if key:
                    got[f"{key}-state"] = ms(states[0].t_ns, t0)
        if not complete:
            self.problems[f"MQTT {payload} ({kind}): not complete within {PROBE_TIMEOUT_S} s"] += 1
        return got

    def probe_back_to_back(self):
        """Two commands: the second published once the first's traffic (its reply, its state, the
        queries after it, on the line and from the broker) has been over for BACK_TO_BACK_MS."""
        self.probe_mqtt(0, KINDS[2], quiet_after=BACK_TO_BACK_MS)
        return self.probe_mqtt(0, KINDS[3], key="b2b", quiet_before=0)

    def probe_pjlink(self):
        code, request = ("C00", b"%1POWR 1\r") if self.fake.on else ("C01", b"%1POWR 0\r")
        heard0, lines0 = len(self.fake.heard), len(self.pjlink_lines)
        t0 = time.monotonic_ns()
        self.pjlink.sendall(request)
        checks = self.checks[KINDS[4]]
        checks["sent"] += 1
        complete = self.pump(lambda: len(self.pjlink_lines) > lines0
                             and any(h[0] == code for h in self.fake.heard[heard0:]), PROBE_TIMEOUT_S)
        self.quiet(QUIET_MS / 1000)
        got = {}
        codes = [h for h in self.fake.heard[heard0:] if h[0] == code]
        checks["heard once"] += len(codes) == 1
        if codes:
            got["pjlink"] = ms(codes[0][1], t0)
        lines = self.pjlink_lines[lines0:]
        if lines and lines[0][0] == b"%1POWR=OK":
            checks["answered"] += 1
            checks["answered well"] += 1
            got["pjlink-reply"] = ms(lines[0][1], t0)
        elif lines:
            checks["answered"] += 1
            self.problems[f"PJLink {request.strip()!r} answered {lines[0][0]!r}"] += 1
        if not complete:
            self.problems[f"PJLink {request.strip()!r}: not complete within {PROBE_TIMEOUT_S} s"] += 1
        return got

    def probe_broker(self):
        msgs0 = len(self.messages)
        self.echo += 1
        text = str(self.echo).encode()
        t0 = self.pub.publish("bench/echo", text)
        if not self.pump(lambda: any(m.topic == "bench/echo" and m.payload == text for m in self.messages[msgs0:]),
                         PROBE_TIMEOUT_S):
            self.problems["bench/echo not delivered"] += 1
            return {}
        self.quiet(QUIET_MS / 1000)
        m = next(m for m in self.messages[msgs0:] if m.topic == "bench/echo" and m.payload == text)
        return {"broker": ms(m.t_ns, t0)}

    def probe_pty(self):
        t0 = time.monotonic_ns()
        os.write(self.base_slave, b"C00\r")
        data = b""
        deadline = time.monotonic() + PROBE_TIMEOUT_S
        while not data.endswith(b"\r"):
            if not select.select([self.base_master], [], [], max(0, deadline - time.monotonic()))[0]:
                sys.exit("the second pseudo-terminal: nothing read")
            data += os.read(self.base_master, 64)
        return {"pty": ms(time.monotonic_ns(), t0)}

    def run(self):
        self.problems = collections.Counter()
        self.sequences = collections.Counter()
        self.odd_replies = []
        self.echo = 0
        probes = {"mqtt-0": lambda: self.probe_mqtt(0, KINDS[0], "mqtt-0"),
                  "mqtt-1": lambda: self.probe_mqtt(1, KINDS[1], "mqtt-1"),
                  "b2b": self.probe_back_to_back, "pjlink": self.probe_pjlink, "broker": self.probe_broker,
                  "pty": self.probe_pty}
        names = list(probes)
        times = collections.defaultdict(list)
        for round_no in range(self.args.rounds + 1):
            if round_no <= 1:  # round 0 warms the caches and is not counted
                self.checks = {kind: collections.Counter() for kind in KINDS}
                self.problems.clear()
                self.sequences.clear()
                self.odd_replies.clear()
            got = {}
            first = round_no % len(names)
            for name in names[first:] + names[:first]:
                got.update(probes[name]())
                self.sub.ping_if_idle()
                self.pub.ping_if_idle()
            if round_no == 0:
                continue
            for name, value in got.items():
                times[name].append(value)
            if "pjlink" in got:
                for qos in (0, 1):
                    if f"mqtt-{qos}" in got:
                        times[f"added-{qos}"].append(got[f"mqtt-{qos}"] - got["pjlink"])
                if "mqtt-0" in got and "broker" in got:
                    times["own"].append(got["mqtt-0"] - got["pjlink"] - got["broker"])
        if not self.bridge.alive():
            sys.exit("orva-bridge ended during the run")
        self.times = times
        self.cpu = self.bridge.cpu_s()
        self.rss = self.bridge.kib("VmRSS")
        self.log_lines = self.bridge.log_text().splitlines()


def main():
    args = parse_args()
    # Ended from outside: the broker, the bridge and the simulators are ended too (finally).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("ended by SIGTERM"))
    bench = Bench(args)
    try:
        bench.start()
        bench.run()
    finally:
        bench.end()

    t = bench.times
    broker = ("mosquitto with set_tcp_nodelay true" if args.broker_nodelay
              else "mosquitto as installed (set_tcp_nodelay false: Nagle's algorithm on its sends)")
    rows = [
        ("the pseudo-terminal alone: \"C00\" CR written on a second one's slave → read on its master, in this "
         "process", t["pty"]),
        ("the broker alone: a QoS 0 message published by one bench connection → read on the other", t["broker"]),
        ("PJLink \"%1POWR 1\"/\"%1POWR 0\" sent on a persistent connection → \"C00\"/\"C01\" CR read on the line "
         "(the bridge without MQTT)", t["pjlink"]),
        (f"MQTT orva/{PROJECTOR_ID}/power/set ON/OFF, QoS 0, published → \"C00\"/\"C01\" CR read on the line "
         "(the broker, the bridge's MQTT client, its queue, the pty)", t["mqtt-0"]),
        ("the same at QoS 1", t["mqtt-1"]),
        (f"the same at QoS 0, back to back: published {BACK_TO_BACK_MS} ms after the traffic of the command "
         "before it (its reply, state and queries) ended", t["b2b"]),
        ("what MQTT adds, QoS 0: (MQTT → line) − (PJLink → line), same round", t["added-0"]),
        ("what MQTT adds, QoS 1: the same", t["added-1"]),
        ("the bridge's own share of it: (MQTT QoS 0 → line) − (PJLink → line) − (the broker alone), same round",
         t["own"]),
        ("PJLink command sent → \"%1POWR=OK\" read (the projector's ACK written at once)", t["pjlink-reply"]),
        (f"MQTT command (QoS 0) published → its outcome read on orva/{PROJECTOR_ID}/reply", t["mqtt-0-reply"]),
        (f"ACK written on the line → orva/{PROJECTOR_ID}/reply read (the way back: the bridge, the broker)",
         t["mqtt-0-ack-reply"]),
        (f"MQTT command (QoS 0) published → orva/{PROJECTOR_ID}/power read with the new state (ACK, then the "
         "bridge's power query answered at once)", t["mqtt-0-state"]),
        ("the same, back to back", t["b2b-state"]),
    ]
    print(f"## orva-bridge on MQTT: a command's time to the line, orva/{PROJECTOR_ID}/power/set ON and OFF "
          f"alternating, {args.rounds} rounds; {broker}\n")
    print_timing_table(rows)
    print(f"\n| commands | sent | code heard on the line once | answered (on orva/{PROJECTOR_ID}/reply, or "
          f"%1POWR=…) | … with its payload and the ACK (or OK) | a power change to show | orva/{PROJECTOR_ID}/power "
          "showed it |")
    print("|---|---|---|---|---|---|---|")
    for kind, c in bench.checks.items():
        change = "–" if kind == "PJLink" else c["state to show"]
        shown = "–" if kind == "PJLink" else c["state shown"]
        print(f"| {kind} | {c['sent']} | {c['heard once']} | {c['answered']} | {c['answered well']} | {change} "
              f"| {shown} |")
    print()
    print("| figure | value |")
    print("|---|---|")
    seqs = "; ".join(f"`{s}` × {n}" for s, n in bench.sequences.most_common(4))
    print(f"| codes on the line from an MQTT command until quiet | {seqs or '–'} |")
    start = " ".join(bench.start_codes)
    print(f"| codes on the line at the bridge's start (its first poll) | `{start}` |")
    if bench.odd_replies:
        print(f"| replies not as expected (first few) | {'; '.join(repr(r) for r in bench.odd_replies)} |")
    problems = "; ".join(f"{k} × {v}" for k, v in bench.problems.items()) or "none"
    print(f"| problems | {problems} |")
    print(f"| bridge CPU time (utime + stime) at the end; VmRSS | {bench.cpu:.2f} s; {bench.rss} KiB |")
    print(f"| lines the bridge wrote on stderr | {len(bench.log_lines)} |")
    print("\nThis process is the projector (it answers at once) and both MQTT clients; one thread, so every time "
          "is read with the same clock and no thread between. Each probe waits for the line and the broker to be "
          f"quiet for {QUIET_MS} ms before the next, and for {ISOLATED_MS} ms before each MQTT command but the "
          "second back to back. Machine load average "
          "(1/5/15 min) at the end: " + load_average() + ".")
    if bench.problems:
        print("\nstderr of the bridge (last lines):", *bench.log_lines[-10:], sep="\n", file=sys.stderr)


if __name__ == "__main__":
    main()
