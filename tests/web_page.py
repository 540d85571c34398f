#!/usr/bin/python3
"""orva-bridge's web page in a real browser: headless Chromium driven by Selenium,
against two orva-sim projectors on one bridge, with a password. Takes screenshots of
both layouts into the folder given. Exit 77 (skipped) without chromium, chromedriver
or python3-selenium.

Usage: web_page.py ORVA_SIM ORVA_BRIDGE SCREENSHOT_DIR"""

import os, sys, tempfile, time

from bridge_processes import Simulator, check, failures, free_port, start_bridge, until

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
except ImportError:
    sys.exit(77)
if not (os.path.exists("/usr/bin/chromium") and os.path.exists("/usr/bin/chromedriver")):
    sys.exit(77)

SIM, BRIDGE, SHOTS = sys.argv[1:4]
PASSWORD = "room 2.14"


def text(driver, control):
    return driver.execute_script(f"return document.querySelector('[data-control=\"{control}\"]').textContent")


def submitted(driver, password):
    """The login form sent, and the next page loaded."""
    field = driver.find_element(By.NAME, "password")
    field.send_keys(password + Keys.ENTER)

    def gone():
        try:
            field.is_enabled()
            return False
        except Exception:
            return driver.execute_script("return document.readyState") == "complete"
    return until(gone, 40)


def control(driver, name):
    return driver.find_element(By.CSS_SELECTOR, f'[data-control="{name}"]')


def hold(driver, name, seconds):
    button = control(driver, name)
    ActionChains(driver).click_and_hold(button).perform()
    time.sleep(seconds)
    ActionChains(driver).release(button).perform()


def main():
    left, right = (Simulator(SIM, "--countdown-ms", "1500", "--cooldown-ms", "1500") for _ in range(2))
    port = free_port()
    work = tempfile.TemporaryDirectory()
    bridge = start_bridge(BRIDGE, work.name, port, "poll = 1",
                          [("left", f"device = {left.path}\npjlink = 0\nname = Hall left"),
                           ("right", f"device = {right.path}\npjlink = 0\nname = Hall right")], PASSWORD)
    options = webdriver.ChromeOptions()
    for a in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
              "--disable-background-networking", "--disable-component-update", "--disable-sync",
              f"--user-data-dir={work.name}/chromium"]:
        options.add_argument(a)
    options.binary_location = "/usr/bin/chromium"
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    try:
        base = f"http://127.0.0.1:{port}"
        run(driver, base, port, left, right)
    finally:
        driver.quit()
        bridge.terminate()
        bridge.wait(10)
        left.stop()
        right.stop()
    return 1 if failures else 0


def run(driver, base, port, left, right):
    driver.set_window_size(800, 700)
    # Beyond a login: nothing without it; a wrong password refused, and slowed.
    driver.get(base + "/p/left/")
    check(driver.current_url == base + "/login", "a page without a login goes to the login form")
    for attempt in range(6):
        started = time.monotonic()
        submitted(driver, "wrong")
        waited = time.monotonic() - started
    check(driver.find_elements(By.CSS_SELECTOR, "p[role=alert]") != [], "a wrong password is refused")
    check(waited >= 0.9, f"the sixth wrong password is answered after a wait ({waited:.1f} s)")
    submitted(driver, PASSWORD)
    check(until(lambda: driver.current_url == base + "/"), "the right password opens the index")
    # (A POST or WebSocket from another site, the API without the password: tst_http's rows.)

    # The index: both projectors, live.
    def field(projector, name):
        return driver.execute_script(f"return document.querySelector('tr[data-projector=\"{projector}\"] [data-field=\"{name}\"]').textContent")
    check(until(lambda: field("left", "power") == "standby" and field("right", "power") == "standby"), "the index shows both projectors' power")
    check(field("left", "hours") == "1234", "and the lamp hours")

    # A projector's page: POWER ON puts C00 on its line only, and the power goes
    # warming, then on, without a reload.
    driver.get(base + "/p/left/")
    # Read at once in the page: the state panel is redrawn as the state changes.
    state = lambda: driver.execute_script("const e = document.querySelector('#state [data-field=\"power\"]'); return e ? e.textContent : ''")
    check(until(lambda: state() == "power: standby"), "the page shows the state")
    control(driver, "Command17").click()
    check(until(lambda: left.heard("C00") == 1) and right.heard("C00") == 0, "POWER ON: C00 on its projector's line, none on the other's")
    check(until(lambda: state() == "power: warming"), "the power shows warming")
    check(until(lambda: state() == "power: on"), "then on")
    # The data area (Ctrl+H) and the status queries, as the window shows them.
    ActionChains(driver).key_down(Keys.CONTROL).send_keys("h").key_up(Keys.CONTROL).perform()
    check("service" in driver.find_element(By.TAG_NAME, "body").get_attribute("class"), "Ctrl+H opens the data area")
    for button, txd, status in [("Command44", " C R 0 CR ", " Power ON"),
                                ("Command46", " C R 3 CR ", " 0 1 2 3 4 CR  Hour Use"),
                                ("Command54", " C R 6 CR ", "  S1= 0 3 2 . 5 C  ,   S2=  4 1 . 0 C , S3= 0 3 8 . 5 C")]:
        until(lambda: text(driver, "Label11") == "")  # the last exchange's display hold is over
        control(driver, button).click()
        check(until(lambda: text(driver, "Label22") == status), f"{button}: the status line reads {status!r} ({text(driver, 'Label22')!r})")
        check(text(driver, "Label11") == txd, f"{button}: TXD reads {txd!r}")
    driver.execute_script("window.scrollTo(0, 0)")
    driver.save_screenshot(os.path.join(SHOTS, "web-panel.png"))
    # The cursor pad's frame lines, 2 px wide: Line1 from (1080, 2400) to (1080, 2880)
    # twips, Line7 from (1080, 2400) to (2160, 2400), 15 twips a pixel.
    sizes = driver.execute_script("return ['Line1', 'Line7'].map(n => { const e = document.querySelector(`[data-line=\"${n}\"]`); return [e.offsetLeft, e.offsetTop, e.offsetWidth, e.offsetHeight]; })")
    check(sizes == [[72, 160, 2, 32], [72, 160, 72, 2]], f"the cursor pad's lines at their places ({sizes})")
    # The whole window by a double-click on the word mark; the data button closes and opens.
    height = lambda: driver.execute_script("return ['compact', 'data', 'service', 'full'].find(h => document.body.classList.contains(h))")
    ActionChains(driver).double_click(control(driver, "Image1")).perform()
    check(height() == "full" and text(driver, "Command34") == "CLOSE", "a double-click on the word mark opens the whole window")
    control(driver, "Command34").click()
    check(height() == "compact" and text(driver, "Command34") == "データを表示する", "the data button closes it")
    # Below the compact window's edge, as in the window: reached with the keyboard.
    driver.execute_script("arguments[0].focus()", control(driver, "Command34"))
    ActionChains(driver).send_keys(Keys.ENTER).perform()
    check(height() == "data" and text(driver, "Command34") == "データを表示しない", "and, reached with the keyboard, opens the data area")
    # The Space key holds a key as the pointer does.
    before = left.heard("C09")
    ActionChains(driver).move_to_element(control(driver, "Command1")).perform()
    driver.execute_script("document.querySelector('[data-control=\"Command1\"]').focus()")
    ActionChains(driver).key_down(Keys.SPACE).pause(1.1).key_up(Keys.SPACE).perform()
    time.sleep(0.3)
    sent = left.heard("C09") - before
    check(4 <= sent <= 6, f"the Space key held 1.1 s on VOL + sends C09 5 ± 1 times ({sent})")
    # VOL + held 1.1 s: C09 at the window's interval.
    before = left.heard("C09")
    hold(driver, "Command1", 1.1)
    time.sleep(0.3)
    sent = left.heard("C09") - before
    check(4 <= sent <= 6, f"VOL + held 1.1 s sends C09 5 ± 1 times ({sent})")
    # A page that falls silent during a hold (its connection lost): the repeat stops
    # within 500 ms.
    button = control(driver, "Command1")
    ActionChains(driver).click_and_hold(button).perform()
    time.sleep(0.3)
    driver.execute_script("clearInterval(keepAlive)")
    time.sleep(0.5 + 0.4)
    after = left.heard("C09")
    time.sleep(0.6)
    check(left.heard("C09") == after, "a hold whose page falls silent stops within 500 ms")
    ActionChains(driver).release(button).perform()
    # The tab hidden during a hold (another tab in front).
    ActionChains(driver).click_and_hold(control(driver, "Command1")).perform()
    time.sleep(0.3)
    first = driver.current_window_handle
    driver.switch_to.new_window("tab")
    time.sleep(0.5)
    after = left.heard("C09")
    time.sleep(0.6)
    check(left.heard("C09") == after, "a hold whose tab is hidden stops within 500 ms")
    driver.close()
    driver.switch_to.window(first)
    ActionChains(driver).release(control(driver, "Command1")).perform()
    # The tab closed during a hold.
    driver.switch_to.new_window("tab")
    driver.get(base + "/p/left/")
    until(lambda: state() == "power: on")
    ActionChains(driver).click_and_hold(control(driver, "Command1")).perform()
    time.sleep(0.3)
    driver.close()
    driver.switch_to.window(driver.window_handles[0])
    time.sleep(0.5)
    after = left.heard("C09")
    time.sleep(0.6)
    check(left.heard("C09") == after, "a hold whose tab is closed stops within 500 ms")

    # The phone: the touch layout at 360 x 740, no sideways scroll, targets of 44 px,
    # and a touch hold repeats.
    driver.set_window_size(360, 740)
    driver.execute_cdp_cmd("Emulation.setTouchEmulationEnabled", {"enabled": True, "maxTouchPoints": 1})
    driver.get(base + "/p/right/")
    until(lambda: state() == "power: standby")
    check("touch" in driver.find_element(By.TAG_NAME, "body").get_attribute("class"), "a narrow screen gets the touch layout")
    widths = driver.execute_script("return [document.documentElement.scrollWidth, document.documentElement.clientWidth]")
    check(widths[0] <= widths[1], f"no sideways scroll at 360 px ({widths})")
    low = driver.execute_script("return [...document.querySelectorAll('.client button')].filter(b => b.offsetParent && b.getBoundingClientRect().height < 44).map(b => b.dataset.control)")
    check(low == [], f"every button at least 44 px high ({low})")
    box = driver.execute_script("const b = document.querySelector('[data-control=\"Command1\"]'); b.scrollIntoView({block: 'center'}); const r = b.getBoundingClientRect(); return [r.x + r.width / 2, r.y + r.height / 2]")
    touch = {"x": box[0], "y": box[1], "id": 1}
    before = right.heard("C09")
    driver.execute_cdp_cmd("Input.dispatchTouchEvent", {"type": "touchStart", "touchPoints": [touch]})
    time.sleep(1.1)
    driver.execute_cdp_cmd("Input.dispatchTouchEvent", {"type": "touchEnd", "touchPoints": []})
    time.sleep(0.6)
    sent = right.heard("C09") - before
    check(4 <= sent <= 6, f"a touch hold repeats too ({sent})")
    driver.execute_script("window.scrollTo(0, 0)")
    driver.save_screenshot(os.path.join(SHOTS, "web-touch.png"))


if __name__ == "__main__":
    sys.exit(main())
