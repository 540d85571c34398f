#!/usr/bin/python3
"""orva-bridge's /metrics as Debian's Prometheus and promtool read it, for two orva-sim
projectors behind a password: promtool finds nothing wrong in any state orva-sim can
play; Prometheus scrapes it, its queries return the simulated values, and the shipped
alert rules fire. All the while /metrics is read every 100 ms, and the projectors hear
nothing but the bridge's polls. Exit 77 (skipped) without prometheus or promtool.

Usage: metrics_prometheus.py ORVA_SIM ORVA_BRIDGE ALERT_RULES (METRICS_SCRAPE_SECONDS: the minute, shorter)"""

import base64, json, os, re, shutil, signal, socket, subprocess, sys, tempfile, threading, time, urllib.error, urllib.parse, urllib.request

from bridge_processes import Simulator, check, failures, free_port, start_bridge, until

if not (shutil.which("prometheus") and shutil.which("promtool")):
    sys.exit(77)
SIM, BRIDGE, RULES = sys.argv[1:4]
PASSWORD = "rack 3"
SCRAPE_SECONDS = float(os.environ.get("METRICS_SCRAPE_SECONDS", 60))  # shorter for a quick run
POLLS = {"CR0", "CR1", "CRA", "CR3", "CR7", "CR6"}
# The faults a played power status tells, by the words of its name; the lamps in use
# and whether each is on, by lamp mode.
FAULTS = {"temperature": "temperature_warning", "lamp-fail": "all_lamps_failed", "power-fail": "power_failure"}
LAMPS = {"lamps-2-all-off": "00", "lamps-2-no1-on": "10", "lamps-2-no2-on": "01", "lamps-2-both-on": "11",  # lamps 1 and 2, "-" not in use
         "lamp-1-off": "0-", "lamp-1-on": "1-", "lamp-2-off": "-0", "lamp-2-on": "-1"}


def get(url, password=PASSWORD):
    """The status, type and body of a GET (0: nothing listens), with HTTP Basic where a password is given."""
    headers = {"Authorization": "Basic " + base64.b64encode(b"prometheus:" + password.encode()).decode()} if password else {}
    try:
        with urllib.request.urlopen(urllib.request.Request(url, headers=headers), timeout=5) as answer:
            return answer.status, answer.headers["Content-Type"], answer.read().decode()
    except urllib.error.HTTPError as e:
        return e.code, e.headers["Content-Type"], e.read().decode()
    except OSError:
        return 0, None, ""


def promql(base, query):
    """A query's result: {projector: value} (its first label besides projector too, where it has one)."""
    result = json.loads(get(f"{base}/api/v1/query?query=" + urllib.parse.quote(query), None)[2])["data"]["result"]
    return {tuple(v for k, v in sorted(r["metric"].items()) if k in ("projector", "state")): float(r["value"][1]) for r in result}


def alerts(base):
    return {(a["labels"]["alertname"], a["labels"].get("projector")): a for a in json.loads(get(f"{base}/api/v1/alerts", None)[2])["data"]["alerts"]}


def main():
    left, right = Simulator(SIM), Simulator(SIM, "--on", "--lamp-hours", "2950")
    started = time.monotonic()
    port, raw = free_port(), [free_port(), free_port()]
    work = tempfile.TemporaryDirectory()
    bridge = start_bridge(BRIDGE, work.name, port, "poll = 1", [
        ("hall-left", f"device = {left.path}\npjlink = 0\nraw = {raw[0]}\nname = \"Hall \\\"left\\\" \\\\ 1\""),
        ("hall-right", f"device = {right.path}\npjlink = 0\nraw = {raw[1]}")], PASSWORD)
    metrics, sent = f"http://127.0.0.1:{port}/metrics", [[], []]
    lines = [socket.create_connection(("127.0.0.1", p)) for p in raw]

    def play(which, state):
        sent[which].append(state)
        lines[which].sendall(f"!STATE {state}\r".encode())

    def read_since(sim, state):  # a whole round of polls asked after the state was played
        codes = sim.codes[len(sim.codes) - sim.codes[::-1].index("!STATE " + state):] if "!STATE " + state in sim.codes else []
        return "CR0" in codes and "CR6" in codes[codes.index("CR0"):]

    scrapes, scraping = [], threading.Event()

    def scrape():  # every 100 ms for at least a minute, until the end
        start = time.monotonic()
        while time.monotonic() - start < SCRAPE_SECONDS or not scraping.is_set():
            scrapes.append(get(metrics)[0])
            time.sleep(0.1)
    scraper = threading.Thread(target=scrape)
    scraper.start()
    prometheus = None
    try:
        status, kind, text = get(metrics)
        check(status == 200 and kind == "text/plain; version=0.0.4; charset=utf-8", f"with the password, it is Prometheus's text ({status}, {kind})")
        info = f'orva_projector_info{{projector="hall-left",name="Hall \\"left\\" \\\\ 1",device="{left.path}"}} 1\n'
        check(info in text, "a name's quotes and backslash escaped: " + info)
        help_text = subprocess.run([SIM, "--help"], capture_output=True, text=True).stdout
        states = re.findall(r"^  ([a-z0-9-]+) {2,}", help_text.split("States, for --state", 1)[1], re.M)
        for state in states:
            play(0, state), play(1, state)
            until(lambda: read_since(left, state) and read_since(right, state))
            text = get(metrics)[2]
            lint = subprocess.run(["promtool", "check", "metrics"], input=text, capture_output=True, text=True)
            power = re.findall(r'^orva_projector_power_state\{projector="([^"]+)",state="[a-z]+"\} 1$', text, re.M)
            faults = set(re.findall(r'^orva_projector_fault\{projector="hall-left",fault="(\w+)"\} 1$', text, re.M))
            lamps = "".join(dict(re.findall(r'^orva_projector_lamp_on\{projector="hall-left",lamp="(\d)"\} (\d)$', text, re.M)).get(n, "-") for n in "12")
            check(lint.returncode == 0 and lint.stdout + lint.stderr == "" and power == ["hall-left", "hall-right"]
                  and faults == {f for words, f in FAULTS.items() if words in state} and lamps == LAMPS.get(state, lamps),
                  f"{state}: promtool finds nothing; one power state each, the faults, the lamps ({lint.stdout}{lint.stderr}{power}{faults}{lamps})")
        for which, power in ((0, "standby"), (1, "on")):
            for state in ("power-normal", power, "signal", "lamps-2-both-on", "reversal-none"):
                play(which, state)
        for name, content in (("rules.yml", re.sub(r"\bfor: \S+", "for: 1s", open(RULES).read())),  # their waits cut to a second
                              ("prometheus.yml", f"global: {{scrape_interval: 1s, evaluation_interval: 1s}}\nrule_files: [rules.yml]\n"
                               f"scrape_configs:\n- job_name: orva\n  basic_auth: {{username: prometheus, password: '{PASSWORD}'}}\n"
                               f"  static_configs: [{{targets: ['127.0.0.1:{port}']}}]\n")):
            with open(f"{work.name}/{name}", "w") as f:
                f.write(content)
        web = f"127.0.0.1:{free_port()}"
        prometheus = subprocess.Popen(["prometheus", f"--config.file={work.name}/prometheus.yml", f"--storage.tsdb.path={work.name}/data",
                                       f"--web.listen-address={web}"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        base = f"http://{web}"
        check(until(lambda: get(f"{base}/-/ready", None)[0] == 200, 30), "Prometheus starts")
        hours = lambda: promql(base, "orva_projector_lamp_operating_seconds / 3600")
        check(until(lambda: hours() == {("hall-left",): 1234, ("hall-right",): 2950}, 30), f"PromQL: the lamp hours ({hours()})")
        check((powers := promql(base, "orva_projector_power_state == 1")) == {("hall-left", "standby"): 1, ("hall-right", "on"): 1}, f"PromQL: the power states ({powers})")
        median = promql(base, "histogram_quantile(0.5, orva_projector_reply_duration_seconds_bucket)")
        odd = promql(base, 'orva_projector_reply_duration_seconds_count != on(projector) sum by (projector) '
                           '(orva_projector_commands_total{outcome=~"answered|not_acknowledged"})')
        check(len(median) == 2 and all(0 < v < 0.5 for v in median.values()) and odd == {}, f"the reply times: each answer once ({median}, {odd})")
        near = lambda: alerts(base).get(("OrvaLampNearEnd", "hall-right"), {}).get("annotations", {}).get("summary")
        check(until(lambda: near() == "hall-right: lamp at 2950 h of 3000", 15), f"the lamp alert, for hall-right only ({near()})")
        check(("OrvaLampNearEnd", "hall-left") not in alerts(base), "none for hall-left's 1234 h")
        play(0, "temperature-warning")
        check(until(lambda: ("OrvaTemperatureWarning", "hall-left") in alerts(base), 15), "a temperature warning: its alert is active")
        left.p.kill()  # its port closes; the other's stays open and silent
        os.kill(right.p.pid, signal.SIGSTOP)
        said = lambda: {(a["state"], a["annotations"]["summary"]) for (name, _), a in alerts(base).items() if name == "OrvaProjectorNotAnswering"}
        check(until(lambda: said() == {("firing", "hall-left: not answering: its serial port is closed"),
                                       ("firing", "hall-right: not answering: no reply on its open serial port")}, 20),
              f"one projector gone, one silent: 'not answering' fires for each, saying which ({said()})")
    finally:
        scraping.set()
        scraper.join()
        for one in (prometheus, bridge):
            if one:
                one.terminate()
                one.wait(10)
        os.kill(right.p.pid, signal.SIGCONT)
        left.stop(), right.stop()
    check(bridge.returncode == 0, f"the bridge ends cleanly on SIGTERM ({bridge.returncode})" + ("" if bridge.returncode == 0 else bridge.stdout.read()[-2000:]))
    check(len(scrapes) >= SCRAPE_SECONDS * 5 and set(scrapes) == {200}, f"/metrics read every 100 ms for a minute ({len(scrapes)} times)")
    seconds = time.monotonic() - started
    for sim, played in zip((left, right), sent):
        others = {c for c in sim.codes if c not in POLLS and c[len("!STATE "):] not in played}
        rounds = sim.heard("CR0")  # one a second, and one after each state played
        check(others == set() and rounds <= seconds + len(played) + 2, f"the projector heard only polls ({rounds} rounds, {others})")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
