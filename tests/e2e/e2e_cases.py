#!/usr/bin/env python3
"""End-to-end cases of the two real programs on a 1024x768 Xvfb display with
the simulated controller preloaded. Usage: e2e_cases.py <program>.<case>"""

import os
import sys
import time

# Nothing is written into the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from e2e import (BLACK, BLUE, GREEN, RED, Failure, Program, big_endian, check, log, read_image, run,  # noqa: E402
                 wait_until)

# What the two programs put where, as a user sees it.
LAYOUT = {
    "pravex_controller": {
        "calibrate": (10, 120, 10, 20, 75, 23),   # group box x, y, then the button's x, y, w, h
        "graph": (10, 120, 197, 20, 75, 23),
        "graph_title": "Test", "graph_size": (770, 595), "plus": (718, 15, 35, 35),
        "codes": {"output": 4, "threshold": 7, "calib_start": 5, "calib_end": 6, "calib_mode": None,
                  "fps": 99, "basic": 102, "calib_status": 101, "picture": 100},
        "calib_end_length": 32, "threshold": 18, "threshold_max": 127,
    },
    "lunari_controller": {
        "calibrate": (10, 110, 10, 20, 81, 21),
        "graph": (10, 110, 191, 20, 81, 23),
        "graph_title": "Graph", "graph_size": (830, 685), "plus": (640, 15, 40, 40),
        "codes": {"output": 1, "threshold": 4, "calib_start": 2, "calib_end": 3, "calib_mode": 5,
                  "fps": 65, "basic": 69, "calib_status": 68, "picture": 66},
        "calib_end_length": 16, "threshold": 30, "threshold_max": 50,
    },
}
# The USB picture's label inside the Settings page: group box at (10, 20), label at (13, 25),
# the 23-pixel picture centred in the 21-pixel label.
USB_IN_PAGE = (10 + 13, 20 + 25 - 1)
CHECKBOX_IN_PAGE = (10 + 190, 20 + 26, 81, 20)

_usb = {}


def usb_picture(session, state):
    if state not in _usb:
        name = "USB_ACTIVE.png" if state == "active" else "USB_INACTIVE.png"
        _usb[state] = read_image(os.path.join(session.config["resources"], name))
    return _usb[state]


class MainWindow:
    """The main window as found on screen: the Settings page is placed by the
    tab widget's style, so its origin is taken from where the USB picture is.
    Under Qt's scale factor (an integer) everything is that much larger."""

    def __init__(self, program, image=None, state=None, timeout=5, scale=1):
        self.program = program
        self.session = program.session
        self.layout = LAYOUT[program.program]
        self.scale = scale
        self.window = program.main_window()
        self.page = None
        self.state = None
        self.wait_usb(state, timeout)

    def find_usb(self, image):
        if self.scale != 1:
            return self.find_scaled_usb(image)
        w = self.window
        for state in ("active", "inactive"):
            matches = image.find(usb_picture(self.session, state), w["x"], w["y"], w["x"] + 60, w["y"] + 100)
            if len(matches) == 1:
                x, y = matches[0]
                return state, (x - USB_IN_PAGE[0], y - USB_IN_PAGE[1])
        return None, None

    def find_scaled_usb(self, image):
        """Qt smooths the edges of a picture it scales, so the active picture is
        found by where its green begins (to a pixel)."""
        template = usb_picture(self.session, "active")
        opaque = [template.pixel(x, y) for y in range(template.height) for x in range(template.width)
                  if template.alpha(x, y) == 255]
        green = max(set(opaque), key=opaque.count)
        tx = min(x for x in range(template.width) for y in range(template.height)
                 if template.alpha(x, y) == 255 and template.pixel(x, y) == green)
        ty = min(y for y in range(template.height) for x in range(template.width)
                 if template.alpha(x, y) == 255 and template.pixel(x, y) == green)
        w, s = self.window, self.scale
        found = [(x, y) for y in range(w["y"], w["y"] + 100 * s) for x in range(w["x"], w["x"] + 60 * s)
                 if image.pixel(x, y) == green]
        if not found:
            return None, None
        return "active", (min(x for x, _ in found) - s * (tx + USB_IN_PAGE[0]),
                          min(y for _, y in found) - s * (ty + USB_IN_PAGE[1]))

    def wait_usb(self, state, timeout):
        """Waits until the USB picture shows the state (any state if None)."""
        seen = []

        def shows(image):
            # Looked up with each picture: a window manager may still be placing the window.
            self.window = self.program.main_window()
            found, page = self.find_usb(image)
            seen[:] = [found]
            if found and (state is None or found == state):
                self.state, self.page = found, page
                return True
            return False
        what = f"the {state} USB picture in the {self.program.label} main window" if state else \
            f"the USB picture in the {self.program.label} main window"
        try:
            return self.session.wait_screen(shows, timeout, what)
        except Failure as failure:
            raise Failure(f"{failure}; the last picture showed {(seen or [None])[0] or 'no'} USB picture "
                          f"in the main window at {self.window}") from None

    def button_centre(self, name):
        gx, gy, bx, by, bw, bh = self.layout[name]
        s = self.scale
        return self.page[0] + (gx + bx + bw // 2) * s, self.page[1] + (gy + by + bh // 2) * s

    def click_button(self, name):
        x, y = self.button_centre(name)
        log(f"click {name} at ({x}, {y})")
        self.session.click(x, y)

    def click_enabled(self):
        x, y, w, h = CHECKBOX_IN_PAGE
        self.session.click(self.page[0] + x + 10, self.page[1] + y + h // 2)


def writes(program, code):
    return [e for e in program.transcript() if e.kind == "write" and e.code == code]


def reads(program, code):
    return [e for e in program.transcript() if e.kind == "read" and e.code == code]


def wait_write(program, code, count, what, timeout=3):
    """Waits for the count-th write of a command code; returns it."""
    return wait_until(lambda: len(writes(program, code)) >= count and writes(program, code)[count - 1],
                      timeout, what)


def scenario(family, **settings):
    return "".join(f"{family}.{key} = {value}\n" for key, value in settings.items())


def calibration_window(program):
    return program.window_sized(program.session.width, program.session.height)


def start_calibration(program, main):
    main.click_button("calibrate")
    wait_until(lambda: calibration_window(program) and not program.main_window_visible(), 5,
               "the full-screen calibration window in place of the main window")
    codes = main.layout["codes"]
    output = wait_write(program, codes["output"], 1, "touch output switched off")
    check(output.bytes[1] == 0, f"calibration start sent output {output.bytes[1]}, expected 0")
    wait_write(program, codes["calib_start"], 1, "CalibrateStart")


# Target centre and radius for a status on an area (left, right, top, bottom).
def target(status, area):
    left, right, top, bottom = area
    w, h = right - left, bottom - top
    cx = left + (w // 10 if status in (1, 3) else 9 * w // 10)
    cy = top + (h // 10 if status in (1, 2) else 9 * h // 10)
    r = h // 15 if w > h else w // 15
    return cx, cy, r


def shows_target(image, status, area, progress):
    """The crosshair of the status's target is drawn and the others are not;
    the green disc has the radius that the progress gives."""
    for other in (1, 2, 3):
        cx, cy, r = target(other, area)
        crosshair = [image.pixel(cx - r + 3, cy), image.pixel(cx + r - 3, cy),
                     image.pixel(cx, cy - r + 3), image.pixel(cx, cy + r - 3)]
        drawn = all(p == BLACK for p in crosshair)
        if drawn != (other == status):
            return False
    cx, cy, r = target(status, area)
    disc = progress * r // 150
    # A diagonal point just inside and one just outside the disc.
    inside = int((disc - 2) / 1.4142)
    outside = int((disc + 3) / 1.4142) + 1
    if disc >= 4 and image.pixel(cx + inside, cy + inside) != GREEN:
        return False
    if outside < r - 2 and image.pixel(cx + outside, cy + outside) == GREEN:
        return False
    return True


def outline_at(image, area):
    left, right, top, bottom = area
    points = [(left, (top + bottom) // 2), ((left + right) // 2, top)]
    if right < image.width:
        points.append((right, (top + bottom) // 2))
    if bottom < image.height:
        points.append(((left + right) // 2, bottom))
    return all(image.pixel(x, y) == BLUE for x, y in points)


def check_calibrate_end(program, mode, area, count=1):
    """The count-th CalibrateEnd carries the mode, the session's screen and the area."""
    codes = LAYOUT[program.program]["codes"]
    end = wait_write(program, codes["calib_end"], count, "CalibrateEnd")
    data = end.bytes
    check(len(data) == LAYOUT[program.program]["calib_end_length"],
          f"CalibrateEnd is {len(data)} bytes long")
    got = (data[2], big_endian(data, 3), big_endian(data, 5), big_endian(data, 7), big_endian(data, 9),
           big_endian(data, 11), big_endian(data, 13))
    want = (mode, program.session.width, program.session.height) + tuple(area)
    check(got == want, f"CalibrateEnd carries mode, screen and area {got}, expected {want}")
    log(f"CalibrateEnd: mode {got[0]}, screen {got[1]}x{got[2]}, area {got[3:]}")
    return end


def finish_drawn_area(program, drawn, wait_screen, count=1):
    """A drawn area reaches the driver: its first target shows on it, and the
    count-th CalibrateEnd carries it. wait_screen(condition, timeout, what)
    waits for a picture of the calibration."""
    program.set(calibStatus=1, calibValue=75)
    wait_screen(lambda image: outline_at(image, drawn) and shows_target(image, 1, drawn, 75), 3,
                f"the drawn area {drawn} with its first target")
    program.set(calibStatus=4, calibValue=0)
    end = check_calibrate_end(program, 1, drawn, count)
    check_after_calibration(program, end)
    return end


def check_after_calibration(program, end):
    """After CalibrateEnd: output restored, status re-read, main window back."""
    codes = LAYOUT[program.program]["codes"]

    def after_end():
        transcript = program.transcript()
        index = next(i for i, e in enumerate(transcript) if e.line == end.line)
        return transcript[index + 1:]

    output = wait_until(lambda: next((e for e in after_end() if e.kind == "write" and e.code == codes["output"]),
                                     None), 3, "the output command after CalibrateEnd")
    check(output.bytes[1] == 1, "touch output was not switched back on")
    wait_until(lambda: any(e.kind == "read" and e.code == codes["basic"] for e in after_end()), 3,
               "the basic status read after CalibrateEnd")
    wait_until(lambda: program.main_window_visible() and not calibration_window(program), 3,
               "the main window back in place of the calibration window")


def close_main_window(program, main):
    """The user closes the main window (Escape); the program ends with status 0."""
    window = program.main_window()
    program.session.key(window["id"], "Escape")
    status = program.wait_exit(10)
    check(status == 0, f"{program.label} ended with status {status}, expected 0")
    log(f"{program.label} ended with status 0 after its main window was closed")


def change_presence(program, main, present):
    """Loads or unloads the driver; the main window must show it within two seconds."""
    changed = time.monotonic()
    program.set(present=int(present))
    main.wait_usb("active" if present else "inactive", 3)
    took = program.session.shot_time - changed
    shown, done = ("found", "loaded") if present else ("absent", "unloaded")
    log(f"driver shown as {shown} {took:.2f} s after it was {done}")
    check(took < 2.0, f"the driver was shown as {shown} only {took:.2f} s after it was {done}")


# ---------------------------------------------------------------- cases

def case_driver_found(session, name):
    family = Program.FAMILIES[name]
    program = Program(session, name, scenario(family, present=0)).start()
    main = MainWindow(program, state="inactive")
    check(not os.path.exists(os.path.join(program.workdir, "VeDorurerezo.log")),
          "a driver log exists although the driver was never found")
    session.screenshot("driver-absent")
    change_presence(program, main, True)
    kinds = [e.kind for e in program.transcript()]
    check("openfailed" in kinds, "no failed open of the absent driver in the transcript")
    check("open" in kinds[kinds.index("openfailed"):], "the driver was not opened once it was loaded")
    check(reads(program, main.layout["codes"]["basic"]), "the basic status was not read once found")
    log_path = os.path.join(program.workdir, "VeDorurerezo.log")
    if family == "lunari":
        lines = wait_until(lambda: os.path.exists(log_path) and open(log_path).read().count("\n") == 3
                           and open(log_path).read().split("\n"), 3, "the driver log")
        check(lines[0] == "  40  30", f"driver log line 1 is {lines[0]!r}, expected the layout 40 by 30")
        check(len(lines[1]) == 4 * 40 * 30 and len(lines[2]) == 4 * 40 * 30,
              "driver log matrix lines are not 1200 fields of 4 characters")
    else:
        check(not os.path.exists(log_path), "the first program wrote a driver log")


def case_enabled(session, name):
    program = Program(session, name).start()
    main = MainWindow(program, state="active")
    code = main.layout["codes"]["output"]
    before = len(writes(program, code))
    main.click_enabled()
    first = wait_write(program, code, before + 1, "the output command after clicking Enabled")
    check(first.bytes[:2] == bytes([code, 0]), f"first click sent {first.bytes.hex()}, expected output off")
    session.screenshot("output-off")
    main.click_enabled()
    second = wait_write(program, code, before + 2, "the output command after the second click")
    check(second.bytes[:2] == bytes([code, 1]), f"second click sent {second.bytes.hex()}, expected output on")


def case_calibrate_normal(session, name):
    family = Program.FAMILIES[name]
    program = Program(session, name, scenario(family, calibStep=0)).start()
    main = MainWindow(program, state="active")
    calibrate_whole_screen(session, program, main)


def calibrate_whole_screen(session, program, main):
    """A "Normal mode" calibration through its three targets, handed over."""
    start_calibration(program, main)
    whole = (0, session.width, 0, session.height)
    for status, progress in ((1, 75), (2, 150), (3, 0)):
        program.set(calibStatus=status, calibValue=progress)
        session.wait_screen(lambda image: outline_at(image, whole) and shows_target(image, status, whole, progress),
                            3, f"target {status} with progress {progress}")
    program.set(calibStatus=4, calibValue=0)
    end = check_calibrate_end(program, 0, whole)
    check_after_calibration(program, end)
    # The moment without a visible window has passed; the program is still there.
    time.sleep(1.5)
    check(program.running(), "the program ended after the calibration")
    MainWindow(program, state="active")
    close_main_window(program, main)


def case_calibrate_area(session, name):
    family = Program.FAMILIES[name]
    program = Program(session, name, scenario(family, calibStep=0)).start()
    main = MainWindow(program, state="active")
    start_calibration(program, main)
    # Choose "Erea mode": open the mode box, one entry down, confirm.
    session.click(session.width // 2, session.height // 2 - session.height // 40 * 2 + session.height // 80)
    time.sleep(0.3)
    session.x("xdotool", "key", "Down")
    session.x("xdotool", "key", "Return")
    mode_code = main.layout["codes"]["calib_mode"]
    if mode_code:
        sent = wait_write(program, mode_code, 1, "SetCalibrateMode after choosing the area mode")
        check(sent.bytes[1] == 1, f"SetCalibrateMode sent {sent.bytes[1]}, expected 1")
    time.sleep(0.3)
    # Drag from (600, 500) up to (100, 100); the red band shows while the button is held.
    session.press(600, 500)
    for x, y in ((500, 420), (300, 260), (100, 100)):
        session.move(x, y)
    session.wait_screen(lambda image: image.pixel(350, 300) == RED and image.pixel(80, 300) != RED,
                        3, "the red rubber band over the dragged area")
    session.release()
    question = wait_until(lambda: [w for w in program.windows() if w["name"] == "Prompt" and w["width"] == 180],
                          3, "the question save the area?")[0]
    session.screenshot("save-the-area")
    session.click(question["x"] + 15 + 25, question["y"] + 70 + 10)
    wait_until(lambda: not [w for w in program.windows() if w["name"] == "Prompt"], 3, "the question to close")
    drawn = (100, 600, 100, 500)
    finish_drawn_area(program, drawn, session.wait_screen)


def case_calibrate_new_resolution(session, name):
    # A kiosk without a window manager whose resolution changes while the program runs.
    family = Program.FAMILIES[name]
    program = Program(session, name, scenario(family, calibStep=0)).start()
    main = MainWindow(program, state="active")
    session.x("xrandr", "--output", "DUMMY0", "--mode", "1280x1024", "--fb", "1280x1024")
    session.width, session.height = 1280, 1024
    wait_until(lambda: "current 1280 x 1024" in session.x("xrandr"), 5, "the new resolution")
    main = MainWindow(program, state="active")
    calibrate_whole_screen(session, program, main)


case_calibrate_new_resolution.display = {"layout": [(0, 0, 1024, 768)], "modes": [(1280, 1024)]}


def case_calibrate_holes(session, name):
    # Monitors of different heights leave the third "Normal mode" target, (230, 921),
    # under the first one: the user is told and calibrates an area instead.
    family = Program.FAMILIES[name]
    program = Program(session, name, scenario(family, calibStep=0)).start()
    main = MainWindow(program, state="active")
    main.click_button("calibrate")
    notice = wait_until(lambda: [w for w in program.windows() if w["name"] == "Prompt" and w["width"] == 320],
                        5, "the notice of targets between the monitors")[0]
    calibration = calibration_window(program)
    check(calibration and (calibration["x"], calibration["y"]) == (0, 0),
          f"the calibration window is at {calibration}")
    check(session.above(notice["id"], calibration["id"]), "the notice is below the calibration")
    # The notice is on a monitor, over the controls, not across the hole.
    monitors = session.config_display["layout"]
    check(any(x <= notice["x"] and notice["x"] + notice["width"] <= x + w and y <= notice["y"]
              and notice["y"] + notice["height"] <= y + h for x, y, w, h in monitors),
          f"the notice is not on one monitor: {notice}")
    session.screenshot("holes-notice")
    session.click(notice["x"] + 130 + 30, notice["y"] + 140 + 10)
    wait_until(lambda: not [w for w in program.windows() if w["name"] == "Prompt"], 3, "the notice to close")
    session.screenshot("holes-calibration")
    program.set(calibStatus=4, calibValue=0)
    check_after_calibration(program, check_calibrate_end(program, 0, (0, session.width, 0, session.height)))


case_calibrate_holes.display = {"layout": [(0, 0, 1024, 768), (1024, 0, 1280, 1024)]}


def calibrate_dragged_area(session, name, start, end, scale=1):
    """A calibration in the area mode the driver reports, with an area dragged
    from start to end (device pixels), confirmed and handed over."""
    family = Program.FAMILIES[name]
    environment = {"QT_SCALE_FACTOR": str(scale)} if scale != 1 else None
    program = Program(session, name, scenario(family, calibStep=0, calibMode=1)).start(extra_env=environment)
    main = MainWindow(program, state="active", scale=scale)
    start_calibration(program, main)
    # A window manager may first keep it on one monitor; it then places itself.
    wait_until(lambda: [w for w in program.windows() if (w["x"], w["y"], w["width"], w["height"])
                        == (0, 0, session.width, session.height)], 3,
               "the calibration window over the whole desktop, and no more")
    session.press(*start)
    session.move((start[0] + end[0]) // 2, (start[1] + end[1]) // 2)
    session.move(*end)
    session.release()
    question = wait_until(lambda: [w for w in program.windows() if w["name"] == "Prompt"], 3,
                          "the question save the area?")[0]
    session.screenshot("save-the-area")
    calibration = calibration_window(program)
    check(session.above(question["id"], calibration["id"]), "the question is below the calibration window")
    session.click(question["x"] + (15 + 25) * scale, question["y"] + (70 + 10) * scale)
    wait_until(lambda: not [w for w in program.windows() if w["name"] == "Prompt"], 3, "the question to close")
    drawn = (min(start[0], end[0]), max(start[0], end[0]), min(start[1], end[1]), max(start[1], end[1]))
    finish_drawn_area(program, drawn, session.wait_screen)


def case_calibrate_scaled(session, name):
    # Qt draws at twice the size; the driver hears of device pixels all the same.
    calibrate_dragged_area(session, name, (1200, 1000), (200, 200), scale=2)


case_calibrate_scaled.display = {"width": 2048, "height": 1536}


def case_calibrate_two_monitors(session, name):
    # An area on the second of two monitors, drawn over the window that spans both.
    calibrate_dragged_area(session, name, (1200, 100), (1900, 700))


case_calibrate_two_monitors.display = {"width": 2048, "height": 768, "monitors": 2}


def case_calibrate_two_monitors_managed(session, name):
    calibrate_dragged_area(session, name, (1900, 700), (1200, 100))


# A window manager that stretches a full-screen window over the monitors it is asked to.
case_calibrate_two_monitors_managed.display = dict(case_calibrate_two_monitors.display, window_manager="icewm")


def case_main_window_scaled_monitors(session, name):
    # Each monitor at its own scale, the second the primary: the main window
    # opens whole on the primary monitor, at that monitor's scale.
    session.x("xrandr", "--output", "DUMMY1", "--primary")
    program = Program(session, name).start(extra_env={"QT_SCREEN_SCALE_FACTORS": "1;2"})
    window = program.main_window()
    session.screenshot("main-window")
    left, right, bottom = session.width // 2, window["x"] + window["width"], window["y"] + window["height"]
    check(window["x"] >= left and window["y"] >= 0 and right <= session.width and bottom <= session.height,
          f"the main window covers ({window['x']}, {window['y']})..({right}, {bottom}), "
          f"not inside the primary monitor ({left}, 0)..({session.width}, {session.height})")


case_main_window_scaled_monitors.display = case_calibrate_two_monitors.display


def main_window_monitor_removed(session, name, calibrating):
    # The main window moved onto the second monitor, which goes away (during a
    # calibration, or while it is shown): the window comes back whole on the
    # monitor that is left, whichever of the program and Qt notices first.
    family = Program.FAMILIES[name]
    program = Program(session, name, scenario(family, calibStep=0)).start()
    session.x("xdotool", "windowmove", str(program.main_window()["id"]), "1400", "300")
    wait_until(lambda: program.main_window()["x"] == 1400, 5, "the main window on the second monitor")
    if calibrating:
        start_calibration(program, MainWindow(program, state="active"))
    session.x("xrandr", "--output", "DUMMY1", "--off")
    window = {}

    def inside():
        window.clear()
        window.update(program.main_window() if program.main_window_visible() else {})
        return window and window["x"] >= 0 and window["y"] >= 0 and window["y"] + window["height"] <= \
            session.height and window["x"] + window["width"] <= session.width // 2
    try:
        wait_until(inside, 5, "the main window back on the monitor left")
    except Failure:
        session.screenshot("main-window-back")
        raise Failure(f"the main window is {window or 'hidden'}, not inside the monitor left, "
                      f"(0, 0)..({session.width // 2}, {session.height})")


def case_main_window_monitor_removed(session, name):
    main_window_monitor_removed(session, name, calibrating=True)


def case_main_window_monitor_unplugged(session, name):
    main_window_monitor_removed(session, name, calibrating=False)


case_main_window_monitor_unplugged.display = case_calibrate_two_monitors.display
case_main_window_monitor_removed.display = case_calibrate_two_monitors.display


def case_calibrate_two_monitors_openbox(session, name):
    calibrate_dragged_area(session, name, (1900, 700), (1200, 100))


# A window manager that keeps a full-screen window on one monitor.
case_calibrate_two_monitors_openbox.display = dict(case_calibrate_two_monitors.display, window_manager="openbox")


def case_calibrate_touch_monitor(session, name):
    # A small touch monitor beside a large one is drawn whole: the quarter
    # rule counts its 800 x 480, not the desktop's 3360 x 1440.
    calibrate_dragged_area(session, name, (2600, 20), (3340, 460))


case_calibrate_touch_monitor.display = {"layout": [(0, 0, 2560, 1440), (2560, 0, 800, 480)]}


def case_calibrate_larger_root(session, name):
    # The X server maps touches onto its root window, here 100 pixels taller
    # than the monitors: the driver hears of 2048 x 868.
    calibrate_dragged_area(session, name, (1200, 100), (1900, 700))


case_calibrate_larger_root.display = {"layout": [(0, 0, 1024, 768), (1024, 0, 1024, 768)], "root": (2048, 868)}


def case_calibrate_root_resized(session, name):
    # A new root window size with the monitor as it was (xrandr --fb), which Qt
    # reports as no change of a screen, ends a running calibration as Quit
    # does: the driver hears the screen the calibration started on.
    family = Program.FAMILIES[name]
    program = Program(session, name, scenario(family, calibStep=0)).start()
    main = MainWindow(program, state="active")
    start_calibration(program, main)
    session.x("xrandr", "--fb", "1024x868")
    wait_until(lambda: "current 1024 x 868" in session.x("xrandr"), 5, "the taller root window")
    check_after_calibration(program, check_calibrate_end(program, 0, (0, 1024, 0, 768)))


case_calibrate_root_resized.display = {"layout": [(0, 0, 1024, 768)], "modes": [(1024, 768)]}


def case_calibrate_error(session, name):
    family = Program.FAMILIES[name]
    program = Program(session, name, scenario(family, calibStep=0)).start()
    main = MainWindow(program, state="active")
    start_calibration(program, main)
    program.set(calibStatus=5, calibValue=0)
    end = check_calibrate_end(program, 0, (0, session.width, 0, session.height))
    check_after_calibration(program, end)
    notice = wait_until(lambda: [w for w in program.windows() if w["name"] == "Prompt" and w["width"] == 320],
                        3, "the notice Calibrate exception!")[0]
    window = program.main_window()
    stacking = session.x("xwininfo", "-root", "-children")
    order = [int(line.split()[0], 16) for line in stacking.splitlines() if line.strip().startswith("0x")]
    # xwininfo lists the top-most window first.
    check(order.index(notice["id"]) < order.index(window["id"]), "the notice is not above the main window")
    overlap_x = min(notice["x"] + notice["width"], window["x"] + window["width"]) - max(notice["x"], window["x"])
    overlap_y = min(notice["y"] + notice["height"], window["y"] + window["height"]) - max(notice["y"], window["y"])
    check(overlap_x > 0 and overlap_y > 0, "the notice is not shown over the main window")
    session.screenshot("calibrate-exception")
    session.click(notice["x"] + 130 + 30, notice["y"] + 140 + 10)
    wait_until(lambda: not [w for w in program.windows() if w["name"] == "Prompt"], 3, "the notice to close")
    check(program.running() and program.main_window_visible(), "the main window is gone after the notice")


def case_graph(session, name):
    program = Program(session, name).start()
    main = MainWindow(program, state="active")
    layout = main.layout
    main.click_button("graph")
    width, height = layout["graph_size"]
    graph = wait_until(lambda: [w for w in program.windows() if w["name"] == layout["graph_title"]
                                and w["width"] == width and w["height"] == height], 5, "the graph window")[0]
    picture = (graph["x"] + 15, graph["y"] + 70, 740, 500)

    def crop(image):
        return image.crop(*picture).data

    first = session.wait_screen(lambda image: any(image.pixel(graph["x"] + 15 + dx, graph["y"] + 300) != image.pixel(
        graph["x"] + 5, graph["y"] + 300) for dx in range(0, 740, 20)), 3, "a picture in the graph window")
    session.wait_screen(lambda image: crop(image) != crop(first), 3, "the picture to move")
    # Freeze the signals, then the picture must show exactly the last answer.
    picture_code = layout["codes"]["picture"]
    program.set(animate=0)

    def frozen():
        answers = [e.bytes for e in reads(program, picture_code)[-3:]]
        return len(answers) == 3 and answers[0] == answers[1] == answers[2] and answers[2]
    answer = wait_until(frozen, 3, "the signals to stand still")
    time.sleep(0.3)
    image = session.screenshot("frozen-picture")
    if name == "lunari_controller":
        check_sensor_map(image, graph, answer)
    else:
        check_wave_graphs(image, graph, answer, layout["threshold"])
    code = layout["codes"]["threshold"]
    session.click(graph["x"] + layout["plus"][0] + layout["plus"][2] // 2,
                  graph["y"] + layout["plus"][1] + layout["plus"][3] // 2)
    sent = wait_write(program, code, 1, "the threshold command after +")
    check(sent.bytes[1] == layout["threshold"] + 1,
          f"+ sent threshold {sent.bytes[1]}, expected {layout['threshold'] + 1}")
    session.key(graph["id"], "Escape")
    wait_until(lambda: not [w for w in program.windows() if w["name"] == layout["graph_title"]], 3,
               "the graph window to close")
    time.sleep(0.5)
    closed = len(reads(program, picture_code))
    time.sleep(1.0)
    check(len(reads(program, picture_code)) == closed, "the graph window still polls the driver after closing")
    check(program.main_window_visible(), "the main window is gone after the graph window closed")


def bar_height(value):
    if value > 149:
        return 250
    return (max(value, -3) * 250 + 750) // 153


def check_wave_graphs(image, graph, samples, threshold):
    """Every bar of both charts stands d pixels tall on the chart's bottom row,
    red below the threshold height and blue from it, for the driver's samples
    of the default 20 by 12 layout."""
    line = 250 - bar_height(threshold)
    checked = 0
    for first, count, top in ((0, 20, 65), (20, 12, 330)):
        for i in range(count):
            d = bar_height(samples[first + i])
            colour = RED if d < 250 - line else BLUE
            x = graph["x"] + 15 + i * 740 // count + 2
            row = 250 - d if 250 - d != line else 251 - d
            if d < 4 or row < 20:
                continue  # too short to tell, or under the channel numbers
            got = image.pixel(x, graph["y"] + top + row)
            check(got == colour, f"bar {first + i} (sample {samples[first + i]}) shows {got} at its top, "
                  f"expected {colour}")
            above = image.pixel(x, graph["y"] + top + 250 - d - 1)
            check(above not in (RED, BLUE), f"bar {first + i} (sample {samples[first + i]}) is taller than {d}")
            checked += 1
    check(checked >= 20, f"only {checked} bars could be checked")
    log(f"{checked} bars match the driver's samples")


def check_sensor_map(image, graph, matrix):
    """Every cell of the default 40 by 30 map has the grey of its byte."""
    columns, rows = 40, 30
    check(len(matrix) == columns * rows, f"the matrix answer has {len(matrix)} bytes")
    checked = 0
    for x in range(columns):
        for y in range(rows):
            value = matrix[x * rows + y]
            value = value - 256 if value > 127 else value
            grey = min(255, max(0, 3 * value))
            px = graph["x"] + 15 + x * 800 // columns + 800 // columns // 2
            py = graph["y"] + 70 + y * 600 // rows + 600 // rows // 2
            got = image.pixel(px, py)
            if got == RED:
                continue  # a touch point disc
            check(got == (grey, grey, grey), f"cell ({x}, {y}) with byte {matrix[x * rows + y]} shows {got}, "
                  f"expected grey {grey}")
            checked += 1
    check(checked >= columns * rows - 10, f"only {checked} cells could be checked")
    check(image.contains(RED, graph["x"] + 15, graph["y"] + 70, 800, 600), "no touch point disc on the map")
    log(f"{checked} cells match the driver's matrix")


def case_driver_unloaded(session, name):
    program = Program(session, name).start()
    main = MainWindow(program, state="active")
    change_presence(program, main, False)
    check(program.running(), "the program ended when the driver was unloaded")


def case_single_instance(session, name):
    other = "lunari_controller" if name == "pravex_controller" else "pravex_controller"
    first = Program(session, name).start()
    first.main_window()
    neighbour = Program(session, other).start()
    neighbour.main_window()
    second = Program(session, name, label=name + "-second").start()
    status = second.wait_exit(10)
    check(status == 0, f"the second copy ended with status {status}, expected 0")
    titles = [w["name"] for w in session.windows(name=Program.TITLES[name])]
    check(len(titles) == 1, f"{len(titles)} main windows of {name} are shown")
    check(first.running() and neighbour.running(), "a running copy ended")
    session.screenshot("side-by-side")
    # Closed by its user, the first copy lets go of the guard and the next start runs.
    session.key(first.main_window()["id"], "Escape")
    status = first.wait_exit(15)
    check(status == 0, f"the first copy ended with status {status} when its main window was closed")
    third = Program(session, name, label=name + "-after-close").start()
    third.main_window()
    check(third.running(), "the copy started after the first was closed did not run")


CASES = {
    "driver_found": case_driver_found,
    "enabled": case_enabled,
    "calibrate_normal": case_calibrate_normal,
    "calibrate_area": case_calibrate_area,
    "calibrate_error": case_calibrate_error,
    "graph": case_graph,
    "driver_unloaded": case_driver_unloaded,
    "single_instance": case_single_instance,
    "calibrate_scaled": case_calibrate_scaled,
    "calibrate_two_monitors": case_calibrate_two_monitors,
    "calibrate_two_monitors_managed": case_calibrate_two_monitors_managed,
    "main_window_scaled_monitors": case_main_window_scaled_monitors,
    "main_window_monitor_removed": case_main_window_monitor_removed,
    "main_window_monitor_unplugged": case_main_window_monitor_unplugged,
    "calibrate_two_monitors_openbox": case_calibrate_two_monitors_openbox,
    "calibrate_new_resolution": case_calibrate_new_resolution,
    "calibrate_holes": case_calibrate_holes,
    "calibrate_touch_monitor": case_calibrate_touch_monitor,
    "calibrate_larger_root": case_calibrate_larger_root,
    "calibrate_root_resized": case_calibrate_root_resized,
}


def all_cases():
    cases = {}
    for program in LAYOUT:
        for case, function in CASES.items():
            bound = (lambda f, p: lambda session: f(session, p))(function, program)
            bound.display = getattr(function, "display", {})
            cases[f"{program.split('_')[0]}.{case}"] = bound
    return cases


if __name__ == "__main__":
    sys.exit(run(all_cases()))
