"""What the bridge benchmarks share: orva-sim and orva-bridge started and ended,
the bridge's CPU time and memory read from /proc, a nearest-rank percentile,
and a PJLink reply read as one of the kinds the tables count."""
import os
import re
import socket
import subprocess
import sys
import tempfile
import time

LISTEN_TIMEOUT_S = 10  # for the bridge's "PJLink on ... port N" line
CLK_TCK = os.sysconf("SC_CLK_TCK")


def percentile(samples, p):
    """Nearest-rank percentile (p in 0..100), as BenchCommon.h computes it; None for no samples."""
    if not samples:
        return None
    ordered = sorted(samples)
    rank = max(1, -(-p * len(ordered) // 100))
    return ordered[min(rank, len(ordered)) - 1]


def fmt_ms(value, digits=3):
    return "–" if value is None else f"{value:.{digits}f}"


def print_timing_table(rows):
    """Prints (what is timed, samples in ms) rows as a table of n, p50, p99, min, max, mean."""
    print("| what is timed (what it includes) | n | p50 ms | p99 ms | min ms | max ms | mean ms |")
    print("|---|---|---|---|---|---|---|")
    for name, samples in rows:
        mean = sum(samples) / len(samples) if samples else None
        print(f"| {name} | {len(samples)} | {fmt_ms(percentile(samples, 50))} | {fmt_ms(percentile(samples, 99))} "
              f"| {fmt_ms(min(samples, default=None))} | {fmt_ms(max(samples, default=None))} | {fmt_ms(mean)} |")


def load_average():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


class Simulator:
    """orva-sim on a pseudo-terminal, its --log (one line per command heard) in a file.
    It ends with our standard input's end too (--exit-on-stdin-eof)."""

    def __init__(self, sim, *options):
        self.log = tempfile.NamedTemporaryFile(prefix="orva-sim-", suffix=".log", delete=False)
        self.proc = subprocess.Popen([sim, "--log", "--exit-on-stdin-eof", *options], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=self.log, text=True)
        self.device = self.proc.stdout.readline().strip()
        if not self.device:
            self.end()
            sys.exit(f"{sim}: no pseudo-terminal path on its first line")

    def heard(self, code):
        """How many times the simulator has received `code` so far ("<ms> RX CR0" lines)."""
        with open(self.log.name, errors="replace") as f:
            return sum(1 for line in f if line.split()[1:] == ["RX", code])

    def end(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        os.unlink(self.log.name)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Bridge:
    """orva-bridge on one device with its PJLink listener on a free loopback port;
    its stderr (one line per event) in a file."""

    def __init__(self, bridge, device, *options):
        self.stderr = tempfile.NamedTemporaryFile(prefix="orva-bridge-", suffix=".err", delete=False)
        self.proc = None
        for _ in range(3):  # the free port may be taken between our look and its bind
            self.port = free_port()
            self.proc = subprocess.Popen([bridge, "--device", device, "--pjlink", str(self.port), *options],
                                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=self.stderr)
            if self._listening():
                return
            self._stop()
        self.end()
        sys.exit(f"{bridge}: no PJLink listener (its stderr: {self.log_text()[-400:]!r})")

    def _listening(self):
        wanted = f"PJLink on 127.0.0.1 port {self.port}"
        deadline = time.monotonic() + LISTEN_TIMEOUT_S
        while time.monotonic() < deadline:
            if wanted in self.log_text():
                return True
            if self.proc.poll() is not None:
                return False
            time.sleep(0.01)
        return False

    def log_text(self):
        with open(self.stderr.name, errors="replace") as f:
            return f.read()

    def refusals(self):
        """Lines of the bridge's log on connections closed at once because the limit was
        reached (one per burst, however many were closed)."""
        return len(re.findall(r"PJLink: a connection from \S+ closed: \d+ are open already", self.log_text()))

    def cpu_s(self):
        """utime + stime in seconds (fields 14 and 15 of /proc/PID/stat; the name in parentheses comes first)."""
        with open(f"/proc/{self.proc.pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / CLK_TCK

    def kib(self, key):
        with open(f"/proc/{self.proc.pid}/status") as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1])
        return None

    def alive(self):
        return self.proc.poll() is None

    def _stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()  # SIGTERM: what waits is answered, the port and its lock let go
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()

    def end(self):
        self._stop()
        os.unlink(self.stderr.name)


def reply_kind(line, expected=b"%1POWR=1"):
    """A POWR ? answer (its CR taken off) as the load table counts it."""
    if line == expected:
        return "ok"
    if re.fullmatch(rb"%1POWR=ERR[1-4A]", line):
        return "err"
    if re.fullmatch(rb"%1POWR=[0-9]", line):
        return "wrong value"
    return "malformed"
