#!/usr/bin/env python3
"""orva-bridge under load: many PJLink clients polling "%1POWR ?" against one
orva-sim --state on, in three modes, each against a fresh bridge and simulator:

  persistent-200  200 persistent connections opened at once, each polling once
                  a second; the bridge admits 32 connections per listener, so
                  the table says how many were admitted and how many refused,
                  and the admitted ones poll (--max-connections 256: all 200);
  persistent-32   32 persistent connections (the limit), each polling 200/32
                  times a second: the same 200 requests a second;
  short-200       200 clients, each opening a connection per poll once a second
                  (connect, greeting, request, reply, close);
  persistent-32-together, short-200-together
                  the same, but every client polls at the same moment, as
                  control systems that poll on the second do.

Each client connects from an address of its own in 127.0.0.0/8 (127.0.0.2,
127.0.0.3 ...: Linux takes any of them on the loopback), as the control systems
of a building would: the bridge takes at most 8 connections from one address.
Elsewhere the clients' polls are spread evenly over their period. They keep
to a fixed schedule; a client asks again only once its last question is answered (a
late reply shifts its next poll). A reply must be exactly "%1POWR=1" and
come to the connection that asked, while it asked: anything else is counted,
ERR answers apart. Latency is request sent → reply read, seen from the
client (this asyncio process, which shares the machine's cores with the
bridge). The bridge's CPU time (utime + stime) and VmRSS are read from /proc
before the clients start and after the last reply. The simulator's log tells
how many "CR0" it heard: the bridge sends identical status queries waiting at
once only once, so fewer than the requests is expected.

Prints one table per mode; never fails on speed. Exit status 1 when a program
could not run.

Usage: bridge_load.py --bridge ORVA_BRIDGE --sim ORVA_SIM [--seconds S] [--mode MODE ...]"""
import argparse
import asyncio
import collections
import resource
import sys
import time

from bridge_common import CLK_TCK, Bridge, Simulator, fmt_ms, load_average, percentile, reply_kind

REPLY_TIMEOUT_S = 5    # a reply later than this is counted lost and its connection given up
CONNECT_TIMEOUT_S = 10
CLIENTS = 200
LIMIT = 32             # the bridge's connections per listener
REQUEST = b"%1POWR ?\r"
MODES = ("persistent-200", "persistent-32", "short-200", "persistent-200-together", "persistent-32-together",
         "short-200-together")


def parse_args():
    parser = argparse.ArgumentParser(description="orva-bridge under load (prints figures; never fails on speed)")
    parser.add_argument("--bridge", required=True, help="orva-bridge")
    parser.add_argument("--sim", required=True, help="orva-sim")
    parser.add_argument("--seconds", type=float, default=60, help="polling time of each mode (default 60)")
    parser.add_argument("--mode", action="append", choices=MODES, help="a mode to run (repeatable; default all)")
    parser.add_argument("--max-connections", type=int,
                        help="the bridge's --max-connections (default: its own, 32), e.g. 256 to admit all 200")
    args = parser.parse_args()
    if args.seconds <= 0:
        parser.error("--seconds must be positive")
    args.mode = args.mode or list(MODES)
    return args


class Tally:
    def __init__(self):
        self.count = collections.Counter()
        self.errors = collections.Counter()  # ERR answers by text
        self.odd = collections.Counter()     # mismatched replies by text (the first few kinds)
        self.latency = []                    # ms, of the replies "%1POWR=1"

    def reply(self, line, sent_ns):
        self.count["replies"] += 1
        kind = reply_kind(line)
        if kind == "ok":
            self.latency.append((time.monotonic_ns() - sent_ns) / 1e6)
        elif kind == "err":
            self.errors[line.decode("ascii", "replace")] += 1
        else:
            self.count["mismatched"] += 1
            if len(self.odd) < 8:
                self.odd[f"{kind}: {line[:40]!r}"] += 1
        self.count[kind] += 1


class Connection:
    """One PJLink connection: a reader task hands each line to the question waiting."""

    def __init__(self, reader, writer, tally):
        self.reader, self.writer, self.tally = reader, writer, tally
        self.waiting = None  # the future of the question asked, while it waits
        self.closed = asyncio.get_running_loop().create_future()
        self.task = asyncio.create_task(self._read())

    async def _read(self):
        try:
            while True:
                line = await self.reader.readuntil(b"\r")
                if self.waiting is None or self.waiting.done():
                    self.tally.count["mismatched"] += 1
                    self.tally.count["unasked"] += 1  # a line with no question waiting
                    continue
                self.waiting.set_result(line[:-1])
        except (asyncio.IncompleteReadError, ConnectionError, asyncio.LimitOverrunError):
            pass
        finally:
            if not self.closed.done():
                self.closed.set_result(None)
            if self.waiting is not None and not self.waiting.done():
                self.waiting.set_exception(ConnectionResetError("the bridge closed the connection"))

    async def ask(self):
        """Sends the request; the reply line (CR off), or None when it was lost."""
        self.waiting = asyncio.get_running_loop().create_future()
        sent = time.monotonic_ns()
        self.writer.write(REQUEST)
        self.tally.count["sent"] += 1
        try:
            line = await asyncio.wait_for(asyncio.shield(self.waiting), REPLY_TIMEOUT_S)
        except asyncio.TimeoutError:
            self.tally.count["timed out"] += 1
            return None, sent
        except ConnectionError:
            self.tally.count["connection lost while asking"] += 1
            return None, sent
        self.tally.reply(line, sent)
        return line, sent

    def close(self):
        self.task.cancel()
        self.writer.close()


def source_address(client):
    """The address client number `client` (from 0) connects from: 127.0.0.2, 127.0.0.3 ..."""
    return f"127.0.{(client + 2) // 256}.{(client + 2) % 256}"


async def open_pjlink(port, tally, client):
    """A connection from client number `client`'s address whose greeting has come;
    None when the bridge refused it (closed or reset before its greeting)."""
    try:
        reader, writer = await asyncio.wait_for(
            asyncio.open_connection("127.0.0.1", port, local_addr=(source_address(client), 0)), CONNECT_TIMEOUT_S)
    except (OSError, asyncio.TimeoutError) as e:
        tally.count["connect failed"] += 1
        tally.odd[f"connect failed: {type(e).__name__}"] += 1
        return None
    try:
        greeting = await asyncio.wait_for(reader.readuntil(b"\r"), CONNECT_TIMEOUT_S)
    except (asyncio.IncompleteReadError, ConnectionError, asyncio.TimeoutError):
        tally.count["refused"] += 1
        writer.close()
        return None
    if greeting != b"PJLINK 0\r":
        tally.count["bad greeting"] += 1
        writer.close()
        return None
    return Connection(reader, writer, tally)


async def poll_schedule(start, phase, period, end):
    """The due times of one client's polls, each awaited; a late poll shifts the rest."""
    due = start + phase
    while due < end:
        now = time.monotonic()
        if due > now:
            await asyncio.sleep(due - now)
        yield
        due = max(due + period, time.monotonic())


async def persistent_client(conn, start, phase, period, end):
    async for _ in poll_schedule(start, phase, period, end):
        line, _ = await conn.ask()
        if line is None:  # lost: a late reply could be taken for the next one's
            conn.tally.count["connections given up"] += 1
            return


async def short_client(port, tally, client, start, phase, period, end):
    async for _ in poll_schedule(start, phase, period, end):
        tally.count["connections opened"] += 1
        conn = await open_pjlink(port, tally, client)
        if conn is None:
            tally.count["polls not made (no connection)"] += 1
            continue
        await conn.ask()
        conn.close()


async def run_mode(mode, port, seconds, tally, on_started):
    clients = LIMIT if mode.startswith("persistent-32") else CLIENTS
    spread = 0 if mode.endswith("-together") else 1
    period = clients / CLIENTS  # 200 requests a second in every mode (of the admitted clients, in persistent-200)
    conns = []
    if mode.startswith("persistent"):
        opened = await asyncio.gather(*(open_pjlink(port, tally, i) for i in range(clients)))
        conns = [c for c in opened if c is not None]
        tally.count["admitted"] = len(conns)
        # Give the bridge its moment to close any refused connection it accepted late.
        await asyncio.sleep(0.2)
        for c in conns:
            if c.closed.done():
                tally.count["admitted"] -= 1
                tally.count["closed after greeting"] += 1
        conns = [c for c in conns if not c.closed.done()]
    on_started()
    start = time.monotonic()
    end = start + seconds
    if mode.startswith("persistent"):
        n = len(conns)
        await asyncio.gather(*(persistent_client(c, start, spread * i * period / max(n, 1), period, end)
                               for i, c in enumerate(conns)))
    else:
        await asyncio.gather(*(short_client(port, tally, i, start, spread * i * period / clients, period, end)
                               for i in range(clients)))
    # Lines after the last answer would be unasked ones: a moment for them to come.
    await asyncio.sleep(0.3)
    for c in conns:
        c.close()
    return clients


def describe(mode, seconds):
    if mode.endswith("-together"):
        return describe(mode.removesuffix("-together"), seconds) + ", every client polling at the same moment"
    return {
        "persistent-200": f"200 persistent connections opened at once, each admitted one polling once a second, "
                          f"{seconds:g} s",
        "persistent-32": f"32 persistent connections, each polling {CLIENTS / LIMIT:g} times a second "
                         f"(200 requests/s), {seconds:g} s",
        "short-200": f"200 clients, a short connection per poll (connect, greeting, request, reply, close), "
                     f"each once a second, {seconds:g} s",
    }[mode]


def run(mode, args):
    sim = Simulator(args.sim, "--state", "on")
    bridge = None
    try:
        options = ("--max-connections", str(args.max_connections)) if args.max_connections else ()
        bridge = Bridge(args.bridge, sim.device, *options)
        stats = {}

        def sample(when):
            stats[when] = (time.monotonic(), bridge.cpu_s(), bridge.kib("VmRSS"), sim.heard("CR0"))

        tally = Tally()
        rusage0 = resource.getrusage(resource.RUSAGE_SELF)
        sample("start")
        clients = asyncio.run(run_mode(mode, bridge.port, args.seconds, tally, lambda: sample("polling")))
        sample("end")
        hwm = bridge.kib("VmHWM")
        rusage1 = resource.getrusage(resource.RUSAGE_SELF)
        if not bridge.alive():
            sys.exit(f"orva-bridge ended during {mode}")
        refusals = bridge.refusals()
    finally:
        if bridge:
            bridge.end()
        sim.end()

    c = tally.count
    t0, cpu0, rss0, _ = stats["start"]
    tp, cpup, rssp, cr0p = stats["polling"]
    t1, cpu1, rss1, cr0_1 = stats["end"]
    cr0 = cr0_1 - cr0p
    errs = ", ".join(f"{k}: {v}" for k, v in sorted(tally.errors.items())) or "none"
    lost = c["timed out"] + c["connection lost while asking"]
    client_cpu = (rusage1.ru_utime + rusage1.ru_stime) - (rusage0.ru_utime + rusage0.ru_stime)
    lat = tally.latency

    print(f"## orva-bridge under load, mode {mode}: {describe(mode, args.seconds)}\n")
    print("| figure | value |")
    print("|---|---|")
    if mode.startswith("persistent"):
        refused = c["refused"] + c["connect failed"] + c["closed after greeting"]
        print(f"| connections asked for / admitted / refused | {clients} / {c['admitted']} / {refused} "
              f"(the bridge logged {refusals} refusal lines: one per burst) |")
    else:
        print(f"| connections opened / refused (closed before the greeting) / failed to connect | "
              f"{c['connections opened']} / {c['refused']} / {c['connect failed']} "
              f"(the bridge logged {refusals} refusal lines: one per burst) |")
        print(f"| polls not made (no connection) | {c['polls not made (no connection)']} |")
    print(f"| requests sent | {c['sent']} ({c['sent'] / args.seconds:.1f}/s) |")
    print(f"| replies received | {c['replies']} |")
    print(f"| replies exactly %1POWR=1, to the connection that asked | {c['ok']} |")
    print(f"| mismatched or erroneous replies (another digit, not PJLink, or unasked) | {c['mismatched']} "
          f"(another digit {c['wrong value']}, malformed {c['malformed']}, unasked {c['unasked']}) |")
    print(f"| ERR answers | {sum(tally.errors.values())} ({errs}) |")
    print(f"| requests left without a reply (> {REPLY_TIMEOUT_S} s, or the connection closed) | {lost} |")
    print(f"| reply latency p50 / p99 / max (request sent → reply read, client side) | "
          f"{fmt_ms(percentile(lat, 50))} / {fmt_ms(percentile(lat, 99))} / {fmt_ms(max(lat, default=None))} ms |")
    print(f"| \"CR0\" heard by the simulator while polling | {cr0} (requests per CR0: "
          f"{c['sent'] / cr0 if cr0 else float('nan'):.2f}) |")
    print(f"| bridge CPU time (utime + stime): before the clients → polling starts → end | "
          f"{cpu0:.2f} → {cpup:.2f} → {cpu1:.2f} s ({100 * (cpu1 - cpup) / (t1 - tp):.1f} % of one core "
          f"while polling) |")
    print(f"| bridge VmRSS: before the clients → polling starts → end | {rss0} → {rssp} → {rss1} KiB "
          f"({rss1 - rssp:+d} KiB while polling; VmHWM {hwm} KiB) |")
    print(f"| this client process's CPU time (asyncio, all clients) | {client_cpu:.2f} s |")
    if tally.odd:
        print(f"| kinds seen | {'; '.join(f'{k} × {v}' for k, v in tally.odd.items())} |")
    print()


def main():
    args = parse_args()
    print(f"Machine load average (1/5/15 min) at the start: {load_average()}.\n")
    for mode in args.mode:
        run(mode, args)
    print(f"Machine load average (1/5/15 min) at the end: {load_average()}. "
          f"CPU time has {1000 // CLK_TCK} ms resolution.")


if __name__ == "__main__":
    main()
