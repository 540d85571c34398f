"""What bench/'s Python benchmarks share: the programs they start (orva-sim,
orva-bridge, mosquitto, ser2net), each on free loopback ports and ended at the
end; their CPU time and memory (psutil; CPU also in ns from /proc); an MQTT
client (paho, its loop() run in the caller's thread, so a message is stamped in
the thread that reads it); line reads with a deadline; percentiles and the tables."""
import os
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import time

import paho.mqtt.client as paho
import psutil

TIMEOUT_S = 5  # per answer: far beyond any on the loopback, short of a hang


def percentile(samples, p):
    """Nearest-rank percentile (p in 0..100), as BenchCommon.h computes it; None for no samples."""
    if not samples:
        return None
    ordered = sorted(samples)
    return ordered[min(max(1, -(-p * len(ordered) // 100)), len(ordered)) - 1]


def fmt(value, digits=3):
    return "–" if value is None else f"{value:.{digits}f}"


def table(header, rows):
    print("| " + " | ".join(header) + " |\n|" + "---|" * len(header))
    for row in rows:
        print("| " + " | ".join(str(cell) for cell in row) + " |")
    print()


def timing_table(rows):
    """(what is timed, samples in ms) rows: n, p50, p90, p99, max, mean."""
    table(["what is timed (what it includes)", "n", "p50 ms", "p90 ms", "p99 ms", "max ms", "mean ms"],
          [(name, len(s), fmt(percentile(s, 50)), fmt(percentile(s, 90)), fmt(percentile(s, 99)),
            fmt(max(s, default=None)), fmt(sum(s) / len(s) if s else None)) for name, s in rows])


def load_average():
    return " ".join(f"{x:.2f}" for x in os.getloadavg())


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def ms_since(t0_ns):
    return (time.monotonic_ns() - t0_ns) / 1e6


def read_line(source, deadline=None, what="the other end"):
    """Bytes from a socket or a descriptor up to and with the first CR."""
    deadline = deadline or time.monotonic() + TIMEOUT_S
    fd = source.fileno() if hasattr(source, "fileno") else source
    data = b""
    while not data.endswith(b"\r"):
        if not select.select([fd], [], [], max(0, deadline - time.monotonic()))[0]:
            sys.exit(f"{what}: no reply within {TIMEOUT_S} s (got {data!r})")
        chunk = source.recv(256) if hasattr(source, "recv") else os.read(fd, 256)
        if not chunk:
            sys.exit(f"{what}: closed (got {data!r})")
        data += chunk
    return data


def connect(port, source="127.0.0.1"):
    s = socket.create_connection(("127.0.0.1", port), timeout=TIMEOUT_S, source_address=(source, 0))
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return s


class Process:
    """A program started with its stderr in a file; its CPU time and memory from psutil."""

    def __init__(self, argv, stdout=subprocess.DEVNULL):
        self.err = tempfile.NamedTemporaryFile(prefix="orva-bench-", suffix=".err")
        self.proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=stdout, stderr=self.err, text=True)
        self.ps = psutil.Process(self.proc.pid)

    def log_text(self):
        with open(self.err.name, errors="replace") as f:
            return f.read()

    def wait_for(self, text, timeout=10):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and self.alive():
            if text in self.log_text():
                return True
            time.sleep(0.01)
        return False

    def cpu_s(self):
        t = self.ps.cpu_times()
        return t.user + t.system

    def cpu_ns(self):
        """CPU time of its live threads in ns, as the scheduler counts it (cpu_s has 10 ms ticks)."""
        total, task = 0, f"/proc/{self.proc.pid}/task"
        for tid in os.listdir(task):
            try:
                with open(f"{task}/{tid}/schedstat") as f:
                    total += int(f.read().split()[0])
            except FileNotFoundError:  # a thread that ended meanwhile
                pass
        return total

    def rss_kib(self):
        return self.ps.memory_info().rss // 1024

    def alive(self):
        return self.proc.poll() is None

    def end(self):
        """SIGTERM (the bridge answers what waits and lets its port go), SIGKILL after 5 s; the exit status."""
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.err.close()
        return self.proc.returncode


def listening(start, what):
    """start(port) → (Process, text it logs once listening); tried on up to three free
    ports, as another program may take one between our look and its bind."""
    for _ in range(3):
        port = free_port()
        p, text = start(port)
        if p.wait_for(text):
            p.port = port
            return p
        log = p.log_text()
        p.end()
    sys.exit(f"{what}: not listening (its stderr: {log[-400:]!r})")


class Simulator(Process):
    """orva-sim on a pseudo-terminal (or --tcp 0); its device the first line it prints.
    With log=True its --log lines count the codes it heard."""

    def __init__(self, sim, *options, log=False):
        super().__init__([sim, "--exit-on-stdin-eof", *(["--log"] if log else []), *options], stdout=subprocess.PIPE)
        self.device = self.proc.stdout.readline().strip()
        if not self.device:
            self.end()
            sys.exit(f"{sim}: no device on its first line")

    def heard(self):
        """Codes heard so far: {code: times}."""
        counts = {}
        for line in self.log_text().splitlines():
            parts = line.split(maxsplit=2)
            if len(parts) == 3 and parts[1] == "RX":
                counts[parts[2]] = counts.get(parts[2], 0) + 1
        return counts


def bridge(program, *options, listener="PJLink", flag="--pjlink"):
    """orva-bridge with its `listener` (PJLink, or "raw port" with flag --raw) on a free loopback port."""
    return listening(lambda port: (Process([program, flag, str(port), *options]), f"{listener} on 127.0.0.1 port {port}"),
                     program)


def ser2net(device):
    """Debian's ser2net serving `device` at 19200 8N1 on a free loopback port, chardelay off (a
    byte read is sent on at once), from a configuration in a temporary directory."""
    tmp = tempfile.mkdtemp(prefix="orva-bench-ser2net-")
    conf = os.path.join(tmp, "ser2net.yaml")

    def start(port):
        with open(conf, "w") as f:
            f.write(f"connection: &bench\n  accepter: tcp,127.0.0.1,{port}\n  connector: serialdev,{device},19200n81,local\n"
                    "  options:\n    chardelay: false\n")
        return Process(["ser2net", "-n", "-d", "-c", conf, "-P", os.path.join(tmp, "pid")]), ""

    p = listening(start, "ser2net")
    deadline = time.monotonic() + 10
    while not any(c.laddr.port == p.port for c in p.ps.connections("tcp")):
        if time.monotonic() > deadline:
            p.end()
            sys.exit("ser2net: not listening")
        time.sleep(0.01)
    p.tmp = tmp
    return p


def mosquitto(nodelay=False):
    """mosquitto on a free loopback port: anonymous clients, no persistence."""
    program = shutil.which("mosquitto") or "/usr/sbin/mosquitto"
    tmp = tempfile.mkdtemp(prefix="orva-bench-mosquitto-")

    def start(port):
        conf = os.path.join(tmp, "mosquitto.conf")
        with open(conf, "w") as f:
            f.write(f"listener {port} 127.0.0.1\nallow_anonymous true\npersistence false\n"
                    f"set_tcp_nodelay {str(nodelay).lower()}\nlog_dest stderr\nlog_type all\n")
        return Process([program, "-c", conf]), f"Opening ipv4 listen socket on port {port}"

    return listening(start, program)


class Message:
    __slots__ = ("topic", "payload", "t_ns")

    def __init__(self, topic, payload, t_ns):
        self.topic, self.payload, self.t_ns = topic, payload, t_ns


class Mqtt:
    """One connection to the broker, driven by pump() in the caller's thread; every message
    read is appended to `messages` with the time its callback ran, and its payload kept in `last`."""

    def __init__(self, port, client_id, *subscriptions):
        self.messages, self.last = [], {}
        self.client = paho.Client(client_id=client_id, clean_session=True)
        self.client.on_message = self._on_message
        self.client.connect("127.0.0.1", port, keepalive=60)
        self.client.socket().setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        for topic in subscriptions:
            _, mid = self.client.subscribe(topic)
        self.pump(lambda: self.client.is_connected(), what="CONNACK")

    def _on_message(self, _client, _userdata, m):
        self.messages.append(Message(m.topic, m.payload, time.monotonic_ns()))
        self.last[m.topic] = m.payload

    def publish(self, topic, payload, qos=0):
        t = time.monotonic_ns()
        self.client.publish(topic, payload, qos=qos)
        return t

    def pump(self, done=lambda: False, timeout=TIMEOUT_S, what=None):
        """Runs the client until done() (True) or for `timeout` s (False, or an exit when `what` is given)."""
        deadline = time.monotonic() + timeout
        while not done():
            left = deadline - time.monotonic()
            if left <= 0:
                if what:
                    sys.exit(f"MQTT: no {what} within {timeout} s")
                return False
            if self.client.loop(min(left, 0.05)) != paho.MQTT_ERR_SUCCESS:
                sys.exit("MQTT: the broker closed the connection")
        return True

    def close(self):
        self.client.disconnect()
        self.client.loop(0.1)
