#!/usr/bin/env python3
"""orva-bridge under load: PJLink clients polling "%1POWR ?" against one orva-sim
--state on, 200 requests a second, each mode against a fresh
bridge and simulator:

  persistent-200  200 persistent connections opened at once, each admitted one
                  polling once a second (the bridge admits 32 unless
                  --max-connections says more: 32 requests a second then);
  persistent-32   32 persistent connections, each polling 6.25 times a second;
  short-200       200 clients, a connection per poll (connect, greeting,
                  request, reply, close), each once a second;
  MODE-together   the same, every client polling at the same moment (as control
                  systems that poll on the second do); elsewhere spread evenly.

Each client connects from an address of its own (127.0.0.2, 127.0.0.3 ...), as
a building's control systems would. A client asks again only once answered. A
reply must be exactly "%1POWR=1" on the connection that asked, while it asked.
Latency is request sent → reply read, in this asyncio process. The bridge's CPU
time and RSS are read (psutil) when polling starts and at the end; the
simulator's log tells how many "CR0" it heard (identical queries waiting at
once go out once). Never fails on speed; exit status 1 when a program could not run.

Usage: bridge_load.py --bridge ORVA_BRIDGE --sim ORVA_SIM [--seconds S] [--mode MODE ...] [--max-connections N]"""
import argparse
import asyncio
import collections
import time

import harness as h

MODES = [m + t for t in ("", "-together") for m in ("persistent-200", "persistent-32", "short-200")]


async def open_pjlink(port, client, count):
    """A connection from the client's own address whose greeting has come; None when refused."""
    try:
        reader, writer = await asyncio.wait_for(asyncio.open_connection(
            "127.0.0.1", port, local_addr=(f"127.0.{(client + 2) // 256}.{(client + 2) % 256}", 0)), 10)
        if await asyncio.wait_for(reader.readuntil(b"\r"), 10) == b"PJLINK 0\r":
            return reader, writer
        writer.close()
    except (OSError, asyncio.TimeoutError, asyncio.IncompleteReadError):
        pass
    count["refused"] += 1
    return None


async def ask(conn, count, latency):
    """One request; False when its reply was lost (late, or the connection closed)."""
    reader, writer = conn
    t0 = time.monotonic_ns()
    writer.write(b"%1POWR ?\r")
    count["sent"] += 1
    try:
        line = await asyncio.wait_for(reader.readuntil(b"\r"), h.TIMEOUT_S)
    except (OSError, asyncio.TimeoutError, asyncio.IncompleteReadError):
        count["lost"] += 1
        return False
    if line == b"%1POWR=1\r":
        latency.append(h.ms_since(t0))
    else:
        count["ERR" if line.startswith(b"%1POWR=ERR") else "wrong"] += 1
    return True


async def client(mode, port, i, n, period, conn, start, end, count, latency):
    due = start + (0 if mode.endswith("-together") else i * period / n)
    while due < end:
        await asyncio.sleep(max(0, due - time.monotonic()))
        if mode.startswith("short"):
            conn = await open_pjlink(port, i, count)
            if conn:
                await ask(conn, count, latency)
                conn[1].close()
        elif not await ask(conn, count, latency):
            return  # a late reply could be taken for the next one's
        due = max(due + period, time.monotonic())


async def run_mode(mode, port, seconds, count, latency, on_start):
    clients = 32 if mode.startswith("persistent-32") else 200
    conns = [None] * clients
    if mode.startswith("persistent"):
        conns = [c for c in await asyncio.gather(*(open_pjlink(port, i, count) for i in range(clients))) if c]
        await asyncio.sleep(0.2)  # a refused connection closed late is not counted admitted
        conns = [c for c in conns if not c[0].at_eof()]
        count["admitted"] = len(conns)
    on_start()
    start = time.monotonic()
    await asyncio.gather(*(client(mode, port, i, len(conns), clients / 200, c, start, start + seconds, count, latency)
                           for i, c in enumerate(conns)))
    for c in conns:
        if c:
            c[1].close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bridge", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--mode", action="append", choices=MODES)
    parser.add_argument("--max-connections", type=int)
    args = parser.parse_args()
    rows = []
    for mode in args.mode or MODES:
        sim = h.Simulator(args.sim, "--state", "on", log=True)
        bridge = None
        try:
            extra = ["--max-connections", str(args.max_connections)] if args.max_connections else []
            bridge = h.bridge(args.bridge, "--device", sim.device, *extra)
            count, latency, at = collections.Counter(), [], {}

            def sample(when):
                at[when] = (time.monotonic(), bridge.cpu_s(), bridge.rss_kib(), sim.heard().get("CR0", 0))

            asyncio.run(run_mode(mode, bridge.port, args.seconds, count, latency, lambda: sample("start")))
            sample("end")
            if not bridge.alive():
                raise SystemExit(f"orva-bridge ended during {mode}")
        finally:
            if bridge:
                bridge.end()
            sim.end()
        (t0, cpu0, rss0, cr0), (t1, cpu1, rss1, cr1) = at["start"], at["end"]
        rows.append((mode, count["admitted"] if mode.startswith("persistent") else "–", count["refused"],
                     f"{count['sent']} ({count['sent'] / args.seconds:.0f}/s)", len(latency),
                     f"{count['wrong']} / {count['ERR']} / {count['lost']}", cr1 - cr0,
                     " / ".join(h.fmt(h.percentile(latency, p)) for p in (50, 99, 100)),
                     f"{100 * (cpu1 - cpu0) / (t1 - t0):.1f} %", f"{rss0} → {rss1}"))
    limit = f"--max-connections {args.max_connections}" if args.max_connections else "the default 32 connections"
    print(f"## orva-bridge under load: PJLink \"%1POWR ?\" at 200 requests/s, {args.seconds:g} s per mode, {limit}\n")
    h.table(["mode", "admitted", "refused", "requests", "replies exactly %1POWR=1", "another value / ERR / lost",
             "CR0 on the line", "latency p50 / p99 / max ms", "bridge CPU (one core)", "bridge RSS KiB"], rows)
    print(f"CPU time has 10 ms resolution. Machine load average (1/5/15 min) at the end: {h.load_average()}.\n")


if __name__ == "__main__":
    main()
