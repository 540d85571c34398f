"""What the MQTT benchmarks share: a broker (mosquitto on a free loopback port,
no persistence, anonymous clients) started and ended, and a small MQTT 3.1.1
client over a plain socket.

The client is written here rather than taken from a library so that the
benchmarks need nothing beyond python3 and so that every timestamp is taken
in the one thread that sends and reads: a publish is timed from the moment its
packet is handed to the socket, a message from the moment its bytes are read,
with no library thread or callback between. It does what the benchmarks need
and no more: CONNECT (clean session), SUBSCRIBE, PUBLISH at QoS 0 and 1
(acknowledging what comes at QoS 1), PINGREQ, DISCONNECT."""
import os
import select
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time

from bridge_common import CLK_TCK, free_port

BROKER_START_TIMEOUT_S = 10
MQTT_TIMEOUT_S = 5  # CONNACK, SUBACK: far beyond any answer on the loopback


def find_mosquitto(given=None):
    """The broker's program: `given`, else mosquitto on PATH or in /usr/sbin (not on an ordinary user's PATH)."""
    path = given or shutil.which("mosquitto") or "/usr/sbin/mosquitto"
    if not os.access(path, os.X_OK):
        sys.exit(f"{path}: no mosquitto broker to run (Debian's package mosquitto)")
    return path


def proc_cpu_s(pid):
    """utime + stime of a process in seconds (fields 14 and 15 of /proc/PID/stat)."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK_TCK


def proc_kib(pid, key):
    """A /proc/PID/status figure in KiB (VmRSS, VmHWM); None when the process is gone."""
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1])
    except FileNotFoundError:
        pass
    return None


def stop_process(proc, timeout=5):
    """SIGTERM, then SIGKILL if it has not ended within `timeout` s; the exit status."""
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
    return proc.returncode


class Broker:
    """mosquitto on 127.0.0.1 and a free port, `persistence false`, `allow_anonymous true`
    (and `set_tcp_nodelay true` if asked: mosquitto's own default is false, Nagle's algorithm
    on its sends); its configuration and log in a temporary directory, removed at end()."""

    def __init__(self, program=None, nodelay=False):
        program = find_mosquitto(program)
        self.dir = tempfile.mkdtemp(prefix="orva-bench-mosquitto-")
        self.conf = os.path.join(self.dir, "mosquitto.conf")
        self.log = os.path.join(self.dir, "mosquitto.log")
        self.proc = None
        for _ in range(3):  # the free port may be taken between our look and its bind
            self.port = free_port()
            with open(self.conf, "w") as f:
                f.write(f"listener {self.port} 127.0.0.1\nallow_anonymous true\npersistence false\n"
                        f"{'set_tcp_nodelay true' if nodelay else ''}\n"
                        "log_dest stderr\nlog_type error\nlog_type warning\nlog_type notice\n")
            with open(self.log, "ab") as log:
                self.proc = subprocess.Popen([program, "-c", self.conf], stdin=subprocess.DEVNULL,
                                             stdout=subprocess.DEVNULL, stderr=log)
            if self._listening():
                return
            stop_process(self.proc)
        self.end()
        sys.exit(f"{program}: no broker listening (its log: {self.log_text()[-400:]!r})")

    def _listening(self):
        """True once the broker answers an MQTT CONNECT (not merely a connection: another
        program may have taken the port, and this broker be about to end)."""
        deadline = time.monotonic() + BROKER_START_TIMEOUT_S
        while time.monotonic() < deadline:
            if self.proc.poll() is not None:
                return False
            try:
                MqttClient(self.port, "orva-bench-probe").close()
                return self.proc.poll() is None
            except (OSError, ValueError, IndexError):
                time.sleep(0.02)
        return False

    @property
    def url(self):
        return f"mqtt://127.0.0.1:{self.port}"

    def log_text(self):
        try:
            with open(self.log, errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def cpu_s(self):
        return proc_cpu_s(self.proc.pid)

    def end(self):
        if self.proc:
            stop_process(self.proc)
        shutil.rmtree(self.dir, ignore_errors=True)


class BridgeProcess:
    """orva-bridge started with `argv` (after the program), its stderr (one line per
    event) in a temporary file; CPU time and memory from /proc."""

    def __init__(self, program, *argv):
        self.stderr = tempfile.NamedTemporaryFile(prefix="orva-bridge-", suffix=".err", delete=False)
        self.proc = subprocess.Popen([program, *argv], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=self.stderr)
        self.pid = self.proc.pid
        self.returncode = None

    def log_text(self):
        with open(self.stderr.name, errors="replace") as f:
            return f.read()

    def cpu_s(self):
        return proc_cpu_s(self.pid)

    def kib(self, key):
        return proc_kib(self.pid, key)

    def alive(self):
        return self.proc.poll() is None

    def stop(self):
        """SIGTERM (what waits is answered, the retained availability set offline), then its exit status."""
        self.returncode = stop_process(self.proc)
        return self.returncode

    def end(self):
        self.stop()
        try:
            os.unlink(self.stderr.name)
        except FileNotFoundError:
            pass


def _remaining_length(n):
    out = bytearray()
    while True:
        byte, n = n % 128, n // 128
        out.append(byte | (0x80 if n else 0))
        if not n:
            return bytes(out)


def _string(text):
    data = text.encode() if isinstance(text, str) else text
    return struct.pack("!H", len(data)) + data


class Message:
    __slots__ = ("topic", "payload", "retain", "qos", "t_ns")

    def __init__(self, topic, payload, retain, qos, t_ns):
        self.topic, self.payload, self.retain, self.qos, self.t_ns = topic, payload, retain, qos, t_ns

    def __repr__(self):
        return f"Message({self.topic!r}, {self.payload!r}, retain={self.retain})"


class MqttClient:
    """One MQTT 3.1.1 connection to 127.0.0.1. Blocking sends of small packets; read()
    is called when select() finds the socket readable and returns the messages
    complete so far, each stamped with time.monotonic_ns() at its read."""

    def __init__(self, port, client_id, keepalive=60):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=MQTT_TIMEOUT_S)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.keepalive = keepalive
        self.buf = bytearray()
        self.backlog = []        # messages read while waiting for a SUBACK
        self.acked = set()       # packet ids of SUBACKs and PUBACKs received
        self.next_id = 1
        self.last_sent = time.monotonic()
        self.connack = None
        try:
            self._send(b"\x10", _string("MQTT") + bytes([4, 0x02]) + struct.pack("!H", keepalive)
                       + _string(client_id))
            deadline = time.monotonic() + MQTT_TIMEOUT_S
            while self.connack is None:
                self._wait(deadline, "CONNACK")
                self.backlog += self.read()
            if self.connack != 0:
                raise ConnectionError(f"the broker refused the connection (CONNACK code {self.connack})")
        except BaseException:
            self.sock.close()
            raise

    def fileno(self):
        return self.sock.fileno()

    def _send(self, first, body):
        self.sock.sendall(first + _remaining_length(len(body)) + body)
        self.last_sent = time.monotonic()

    def _packet_id(self):
        pid = self.next_id
        self.next_id = self.next_id % 65535 + 1
        return pid

    def _wait(self, deadline, what):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([self.sock], [], [], left)[0]:
            raise TimeoutError(f"no {what} from the broker within {MQTT_TIMEOUT_S} s")

    def publish(self, topic, payload, qos=0, retain=False):
        """Sends a PUBLISH; the time.monotonic_ns() just before it was handed to the socket."""
        body = _string(topic)
        if qos:
            body += struct.pack("!H", self._packet_id())
        body += payload.encode() if isinstance(payload, str) else payload
        first = bytes([0x30 | qos << 1 | (1 if retain else 0)])
        t = time.monotonic_ns()
        self._send(first, body)
        return t

    def subscribe(self, *filters, qos=0):
        """Subscribes and waits for the SUBACK; messages that come meanwhile wait in the backlog."""
        pid = self._packet_id()
        body = struct.pack("!H", pid) + b"".join(_string(f) + bytes([qos]) for f in filters)
        self._send(b"\x82", body)
        deadline = time.monotonic() + MQTT_TIMEOUT_S
        while pid not in self.acked:
            self._wait(deadline, "SUBACK")
            self.backlog += self.read()

    def pending(self):
        """The messages that came while waiting for a CONNACK or SUBACK (not read again by read())."""
        messages, self.backlog = self.backlog, []
        return messages

    def ping_if_idle(self):
        """A PINGREQ once half the keep-alive has passed without a packet sent."""
        if self.keepalive and time.monotonic() - self.last_sent > self.keepalive / 2:
            self._send(b"\xc0", b"")

    def read(self):
        """Reads what the socket has (call when readable); the messages complete so far."""
        messages, self.backlog = self.backlog, []
        data = self.sock.recv(1 << 16)
        t = time.monotonic_ns()
        if not data:
            raise ConnectionError("the broker closed the connection")
        self.buf += data
        while True:
            # fixed header: type and flags, then 1..4 bytes of remaining length
            length, shift, pos = 0, 0, 1
            while True:
                if pos >= len(self.buf):
                    return messages
                byte = self.buf[pos]
                length |= (byte & 0x7F) << shift
                shift += 7
                pos += 1
                if not byte & 0x80:
                    break
            if len(self.buf) < pos + length:
                return messages
            kind, flags = self.buf[0] >> 4, self.buf[0] & 0x0F
            body = bytes(self.buf[pos:pos + length])
            del self.buf[:pos + length]
            if kind == 3:  # PUBLISH
                n = struct.unpack_from("!H", body)[0]
                topic = body[2:2 + n].decode("utf-8", "replace")
                qos = (flags >> 1) & 3
                rest = body[2 + n:]
                if qos:
                    pid, rest = rest[:2], rest[2:]
                    if qos == 1:
                        self._send(b"\x40", pid)  # PUBACK
                    else:
                        self._send(b"\x50", pid)  # PUBREC (QoS 2 is never asked for here)
                messages.append(Message(topic, rest, bool(flags & 1), qos, t))
            elif kind == 2:  # CONNACK
                self.connack = body[1]
            elif kind in (4, 9):  # PUBACK, SUBACK
                self.acked.add(struct.unpack_from("!H", body)[0])
                if kind == 9 and 0x80 in body[2:]:
                    raise ConnectionError("the broker refused a subscription")
            # PINGRESP and the rest: nothing to do

    def close(self):
        """DISCONNECT, then what the broker still sends read until it closes (at most a second):
        a socket closed with unread data would reset the connection, and the broker could
        drop what it had not yet read from us."""
        try:
            self._send(b"\xe0", b"")
            self.sock.shutdown(socket.SHUT_WR)
            deadline = time.monotonic() + 1
            while time.monotonic() < deadline and select.select([self.sock], [], [], 0.1)[0]:
                if not self.sock.recv(1 << 16):
                    break
        except OSError:
            pass
        self.sock.close()
