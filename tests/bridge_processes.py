"""What the tests that run orva-bridge as a process share: their checks, waits,
orva-sim projectors and the bridge with its configuration file."""

import os, socket, subprocess, threading, time

failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def until(condition, seconds=8.0):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(0.05)
    return condition()


class Simulator:
    """orva-sim on a pseudo-terminal; heard() is the codes it received, in order."""

    def __init__(self, program, *options):
        self.p = subprocess.Popen([program, "--log", "--exit-on-stdin-eof", *options],
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.path = self.p.stdout.readline().strip()
        self.codes = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.p.stderr:
            if " RX " in line:
                self.codes.append(line.split(" RX ", 1)[1].strip())

    def heard(self, code):
        return self.codes.count(code)

    def stop(self):
        if self.p.poll() is None:
            self.p.stdin.close()
            self.p.wait(10)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_bridge(program, folder, port, bridge, projectors, password=None):
    """orva-bridge on a configuration file in `folder`: HTTP on `port` and the other
    [bridge] lines, then a section for each (id, lines) of `projectors`; with a
    password file where given. Returns once its HTTP port takes connections."""
    if password:
        path = os.path.join(folder, "http.password")
        with open(path, "w") as f:
            f.write(password + "\n")
        os.chmod(path, 0o600)
        bridge += f"\nhttp-password-file = {path}"
    config = os.path.join(folder, "bridge.conf")
    with open(config, "w") as f:
        f.write(f"[bridge]\nhttp = {port}\n{bridge}\n" + "".join(f"[{id}]\n{lines}\n" for id, lines in projectors))
    process = subprocess.Popen([program, "--config", config], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    until(lambda: subprocess.run(["sh", "-c", f"exec 3<>/dev/tcp/127.0.0.1/{port}"], stderr=subprocess.DEVNULL).returncode == 0)
    return process
