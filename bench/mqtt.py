#!/usr/bin/env python3
"""orva-bridge on MQTT: PROJECTORS simulated projectors (orva-sim --tcp 0 --state
on --log each) on one bridge (a configuration file: [bridge] mqtt, poll = 1,
mqtt-id = load; pjlink = 0 for each projector) and one broker (mosquitto as
installed), all started for the run. This process subscribes to orva/# and
publishes orva/<id>/mute/set "VIDEO ON" and "VIDEO OFF" alternating on each
projector every INTERVAL s (the projectors spread evenly), for SECONDS s.

Every command is checked: its code (C0D / C0E) heard once by its simulator,
its outcome on orva/<id>/reply with its payload and the ACK, orva/<id>/mute/video
showing the new value. Timed: published → reply read, published → state read
(both in this process's one thread, which runs the MQTT client's loop()). Also
the messages per second, state messages repeating their topic's last value,
the polls heard, the bridge's and the broker's CPU time and the bridge's RSS
(psutil), and the offline messages after SIGTERM. With one projector and a
short interval this is the command's round trip; with 50, the bridge under load.
Never fails on speed; exit status 1 when a program could not run.

Usage: mqtt.py --bridge ORVA_BRIDGE --sim ORVA_SIM [--projectors N] [--seconds S] [--interval S] [--qos 0|1]"""
import argparse
import collections
import json
import os
import shutil
import tempfile
import time

import harness as h

STATE_TOPICS = ("availability", "power", "input", "mute/video", "mute/audio", "lamp/hours", "fault", "problem")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bridge", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--projectors", type=int, default=50)
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--interval", type=float, default=3)
    parser.add_argument("--qos", type=int, choices=(0, 1), default=0)
    args = parser.parse_args()
    ids = [f"p{i:02d}" for i in range(1, args.projectors + 1)]
    sims, procs, clients = {}, [], []
    tmp = tempfile.mkdtemp(prefix="orva-bench-mqtt-")
    try:
        broker = h.mosquitto()
        procs.append(broker)
        for pid in ids:
            sims[pid] = h.Simulator(args.sim, "--tcp", "0", "--state", "on", log=True)
            procs.append(sims[pid])
        sub = h.Mqtt(broker.port, "orva-bench-sub", "orva/#")
        pub = h.Mqtt(broker.port, "orva-bench-pub")
        clients += [sub, pub]
        conf = os.path.join(tmp, "bridge.conf")
        with open(conf, "w") as f:
            f.write(f"[bridge]\nmqtt = mqtt://127.0.0.1:{broker.port}\npoll = 1\nmqtt-id = load\n")
            f.writelines(f"\n[{pid}]\ndevice = {sims[pid].device}\npjlink = 0\n" for pid in ids)
        t0 = time.monotonic()
        bridge = h.Process([args.bridge, "--config", conf])
        procs.append(bridge)
        sub.pump(lambda: sub.last.get("orva/bridge/load/availability") == b"online" and all(
            sub.last.get(f"orva/{pid}/availability") == b"online" and f"orva/{pid}/mute/video" in sub.last
            for pid in ids), 60, "projectors online")
        online_s = time.monotonic() - t0
        sub.pump(timeout=2)
        heard0 = {pid: s.heard() for pid, s in sims.items()}
        cpu0, broker0, rss0, m0 = bridge.cpu_s(), broker.cpu_s(), bridge.rss_kib(), len(sub.messages)
        start = time.monotonic()
        due = {pid: start + i * args.interval / len(ids) for i, pid in enumerate(ids)}
        commands = []  # (pid, payload, t0 ns, index of the first message after it)
        while (now := time.monotonic()) < start + args.seconds:
            for pid in ids:
                if due[pid] <= now:
                    payload = ("VIDEO ON", "VIDEO OFF")[sum(c[0] == pid for c in commands) % 2]
                    commands.append((pid, payload, pub.publish(f"orva/{pid}/mute/set", payload, args.qos),
                                     len(sub.messages)))
                    due[pid] += args.interval
            pub.pump(timeout=0)
            sub.pump(timeout=max(0, min(due.values()) - time.monotonic()))
        sub.pump(timeout=2)
        span = time.monotonic() - start
        heard = {pid: s.heard() for pid, s in sims.items()}
        cpu, broker_cpu, rss = bridge.cpu_s() - cpu0, broker.cpu_s() - broker0, bridge.rss_kib()
        run_messages = [m for m in sub.messages[m0:] if not m.topic.endswith("/set")]
        bridge.proc.terminate()
        offline = {f"orva/{pid}/availability" for pid in ids} | {"orva/bridge/load/availability"}
        sub.pump(lambda: all(sub.last.get(t) == b"offline" for t in offline), 5)
        stopped = sum(sub.last.get(t) == b"offline" for t in offline)
        status = bridge.proc.wait(5)
    finally:
        for c in clients:
            c.close()
        for p in reversed(procs):
            p.end()
        shutil.rmtree(tmp, ignore_errors=True)

    reply_ms, state_ms, answered, problems = [], [], 0, collections.Counter()
    for i, (pid, payload, t, first) in enumerate(commands):
        later = [c[3] for c in commands[i + 1:] if c[0] == pid]
        mine = [m for m in sub.messages[first:later[0] if later else None] if m.topic.startswith(f"orva/{pid}/")]
        reply = next((m for m in mine if m.topic.endswith("/reply")), None)
        state = next((m for m in mine if m.topic.endswith("/mute/video") and m.payload == payload.split()[1].encode()),
                     None)
        if reply:
            reply_ms.append((reply.t_ns - t) / 1e6)
            outcome = json.loads(reply.payload)
            answered += outcome.get("payload") == payload and "ACK" in str(outcome.get("reply"))
        else:
            problems["no reply"] += 1
        if state:
            state_ms.append((state.t_ns - t) / 1e6)
        else:
            problems["state not shown"] += 1
        problems["on orva/<id>/error"] += any(m.topic.endswith("/error") for m in mine)
    sent = collections.Counter((pid, payload) for pid, payload, _, _ in commands)
    heard_once = sum(min(sent[pid, p], heard[pid].get(c, 0) - heard0[pid].get(c, 0))
                     for pid in ids for p, c in (("VIDEO ON", "C0D"), ("VIDEO OFF", "C0E")))
    last, repeats = {}, 0
    for m in sub.messages[:m0] + run_messages:
        kind = m.topic.split("/", 2)[-1]
        repeats += m in run_messages and kind in STATE_TOPICS and last.get(m.topic) == m.payload
        last[m.topic] = m.payload
    cr0 = [(heard[pid].get("CR0", 0) - heard0[pid].get("CR0", 0)) / span for pid in ids]

    print(f"## orva-bridge on MQTT: {len(ids)} orva-sim --tcp on one bridge (poll 1 s), {args.seconds:g} s; "
          f"orva/<id>/mute/set VIDEO ON / OFF alternating on each every {args.interval:g} s (QoS {args.qos})\n")
    h.table(["figure", "value"], [
        ("projectors online on MQTT (bridge start → all online, their mute known)", f"{len(ids)} ({online_s:.2f} s)"),
        ("messages on orva/# (the commands apart)", f"{len(run_messages)} ({len(run_messages) / span:.1f}/s)"),
        ("state messages repeating their topic's last value", repeats),
        ("commands published / heard once by their simulator / answered with payload and ACK",
         f"{len(commands)} / {heard_once} / {answered}"),
        ("problems", "; ".join(f"{k} × {v}" for k, v in problems.items() if v) or "none"),
        ("command published → its reply read, p50 / p90 / p99 / max ms",
         " / ".join(h.fmt(h.percentile(reply_ms, p)) for p in (50, 90, 99, 100))),
        ("command published → mute/video read with the new value, p50 / p90 / p99 / max ms",
         " / ".join(h.fmt(h.percentile(state_ms, p)) for p in (50, 90, 99, 100))),
        ("CR0 heard per projector per second, mean (min–max)",
         f"{sum(cr0) / len(cr0):.2f} ({min(cr0):.2f}–{max(cr0):.2f})"),
        ("bridge CPU; broker CPU (% of one core)", f"{100 * cpu / span:.1f} %; {100 * broker_cpu / span:.1f} %"),
        ("bridge RSS: run start → end", f"{rss0} → {rss} KiB"),
        ("SIGTERM → offline published (projectors and the bridge); exit status", f"{stopped} of {len(offline)}; {status}"),
    ])
    print(f"CPU time has 10 ms resolution. Machine load average (1/5/15 min) at the end: {h.load_average()}.\n")


if __name__ == "__main__":
    main()
