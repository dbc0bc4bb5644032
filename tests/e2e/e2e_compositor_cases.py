#!/usr/bin/env python3
"""End-to-end calibration natively on the compositors people run besides sway:
GNOME's (mutter), KDE's (kwin), weston and the kiosk cage, headless, each with
one output, one at scale 2 and two side by side where it sets them up. The
program is seen and driven from inside by the preloaded probe (native.py).
Usage: e2e_compositor_cases.py <row>"""

import os
import re
import sys
import time

# Nothing is written into the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from compositors import COMPOSITORS  # noqa: E402
from e2e import Failure, Program, check, log, wait_until  # noqa: E402
from e2e_cases import (LAYOUT, check_after_calibration, check_calibrate_end, finish_drawn_area,  # noqa: E402
                       outline_at, scenario, shows_target, wait_write)
from native import NativeProgram, run  # noqa: E402

LAYOUTS = {
    "one": [(1920, 1080, 1)],
    "scaled": [(1920, 1080, 2)],
    "two": [(1920, 1080, 1), (1280, 1024, 1)],
    # kwin and cage give all their headless outputs one mode.
    "two_alike": [(1920, 1080, 1), (1920, 1080, 1)],
    # cage's headless outputs are 1280x720.
    "one_kiosk": [(1280, 720, 1)],
    "two_kiosk": [(1280, 720, 1), (1280, 720, 1)],
}
# Row: compositor, layout, program (the two programs alternate), and the
# rectangle the calibration really covers in device pixels where it is not
# the main window's output: cage shows a full-screen window over all outputs.
ROWS = {
    "mutter_wayland_one": ("mutter", "one", "pravex_controller", None),
    "mutter_wayland_scaled": ("mutter", "scaled", "lunari_controller", None),
    "mutter_wayland_two": ("mutter", "two", "pravex_controller", None),
    "kwin_wayland_one": ("kwin", "one", "lunari_controller", None),
    "kwin_wayland_scaled": ("kwin", "scaled", "pravex_controller", None),
    "kwin_wayland_two": ("kwin", "two_alike", "lunari_controller", None),
    "weston_wayland_one": ("weston", "one", "pravex_controller", None),
    "weston_wayland_scaled": ("weston", "scaled", "lunari_controller", None),
    "cage_wayland_one": ("cage", "one_kiosk", "pravex_controller", None),
    "cage_wayland_two": ("cage", "two_kiosk", "lunari_controller", (2560, 720)),
}
# How long a change of the simulated controller may take to reach the picture.
SETTLE = 3


def inside(rectangle, width, height):
    return (rectangle["x"] >= 0 and rectangle["y"] >= 0 and rectangle["x"] + rectangle["width"] <= width
            and rectangle["y"] + rectangle["height"] <= height)


def wait_picture(session, program, window, condition, what):
    """Grabs the window until the condition holds on its picture in frame pixels."""
    label = re.sub(r"[^a-z0-9]+", "-", what.lower()).strip("-")[:40]
    return wait_until(lambda: condition(session.grab(program, window, label)),
                      SETTLE, what, interval=0.1)


def start_calibration(session, program, frame, covered, count):
    """Clicks "Calibrate" and waits for the count-th calibration to be shown
    full screen in the size the compositor configured, which sets the
    session's frame pixels; returns the window and that size."""
    probe = program.probe
    probe.click("Calibrate")
    wait_write(program, LAYOUT[program.program]["codes"]["calib_start"], count, "CalibrateStart")

    # cage shows every window over its outputs and now and then leaves the
    # full-screen state out of its configuration: the size configured counts.
    def shown():
        window = probe.window("CalibrateArea")
        return window and not probe.window(title=program.title) and window
    wait_until(shown, 5, "the calibration window in place of the main window")

    # The size the compositor configured the calibration's toplevel, the newest, to.
    def configured_size():
        sizes = [size for size in program.compositor_said()[1][-1][1] if size != (0, 0)]
        window = probe.window("CalibrateArea")
        return sizes and (window["width"], window["height"]) == sizes[-1] and sizes[-1]
    configured = wait_until(configured_size, 3, "the calibration window in the size the compositor configured")
    # As WAYLAND_DEBUG has it: the whole output (its logical size, or its mode at its
    # scale, as mutter's logical sizes are its modes), or what it covers where that is more.
    said = program.compositor_said()[0]
    if covered:
        check(configured == covered, f"the compositor configured the calibration {configured}, not {covered}")
    else:
        check(any(o.get("mode") == frame and (o.get("logical_size") == configured
                                               or (configured[0] * o["scale"], configured[1] * o["scale"]) == frame)
                  for o in said.values()),
              f"the compositor configured the calibration {configured}, not the whole output: {said}")
    session.units = frame[0] / configured[0]
    session.width, session.height = frame
    return probe.window("CalibrateArea"), configured


def case_native_calibration(session, name, covered=None):
    """A calibration over the whole output, then over an area drawn in it, as
    the compositor really shows it: the driver hears the output's mode (or the
    rectangle covered), targets, the mode box and "Quit" lie in the window the
    compositor configured, "save the area?" opens above the calibration and is
    answered, and the program ends within 2 s of its main window's close."""
    program = NativeProgram(session, name, scenario(Program.FAMILIES[name], calibStep=0, calibMode=0)).start()
    probe = program.probe
    main = wait_until(lambda: probe.window(title=program.title), 10, f"the main window of {program.label}")
    output = session.output_of(main)
    frame = covered or output[6:8]
    said = program.compositor_said()[0]
    check(any(o.get("mode") == output[6:8] and o.get("scale") == output[5] for o in said.values()),
          f"the program heard of no output in mode {output[6:8]} at scale {output[5]}: {said}")
    # What the driver hears first: the screen of a calibration ended at once.
    calibration, configured = start_calibration(session, program, frame, covered, 1)
    program.set(calibStatus=4, calibValue=0)
    check_after_calibration(program, check_calibrate_end(program, 0, (0, frame[0], 0, frame[1])))
    program.set(calibStatus=0)
    calibration, configured = start_calibration(session, program, frame, covered, 2)
    log(f"{output[0]}: mode {output[6]}x{output[7]} at scale {output[5]}, logical {output[3:5]}, "
        f"configured {configured}, frame {frame}")
    for child in calibration["children"]:
        if child["class"] in ("QComboBox", "QLabel") or child["text"] == "Quit":
            check(inside(child, *configured), f"the {child['class']} {child['text']!r} at {child} lies outside "
                  f"the configured {configured[0]}x{configured[1]} window")

    whole = (0, frame[0], 0, frame[1])
    for status, progress in ((1, 75), (2, 150), (3, 0)):
        program.set(calibStatus=status, calibValue=progress)
        wait_picture(session, program, calibration,
                     lambda image: outline_at(image, whole) and shows_target(image, status, whole, progress),
                     f"target {status} with progress {progress}")

    # An area drawn at positions with a fraction: a frame pixel is the nearest one.
    probe.choose(calibration, 1)
    width, height = configured
    start = (width * 6 // 10 + 0.4, height * 8 // 10 + 0.4)
    end = (width // 10 + 0.4, height * 15 // 100 + 0.4)
    probe.drag(calibration, start, end)
    question = wait_until(lambda: probe.window("Message"), 3, "the question save the area?")
    check(question["modal"] and question["transient_parent"] == calibration["id"],
          f"the question save the area? is not modal above the calibration: {question}")
    check(probe.window("CalibrateArea"), "the calibration is no longer shown under the question save the area?")
    probe.click("OK")
    wait_until(lambda: not probe.window("Message"), 3, "the question to close")
    drawn = (round(end[0] * session.units), round(start[0] * session.units),
             round(end[1] * session.units), round(start[1] * session.units))
    finish_drawn_area(program, drawn, lambda condition, timeout, what:
                      wait_picture(session, program, calibration, condition, what), count=2)

    closed = time.monotonic()
    session.close_main_window(program)
    try:
        status = program.wait_exit(2)
    except Failure:
        raise Failure(f"{program.label} still ran 2 s after its main window was closed")
    check(status == 0, f"{program.label} ended with status {status} when its main window was closed")
    log(f"calibrated {drawn} in {frame[0]}x{frame[1]}; the program ended {time.monotonic() - closed:.2f} s "
        "after its main window was closed")


def all_cases():
    cases = {}
    for row, (compositor, layout, program, covered) in ROWS.items():
        case = (lambda p, c: lambda session: case_native_calibration(session, p, c))(program, covered)
        case.compositor, case.outputs = compositor, LAYOUTS[layout]
        cases[row] = case
    return cases


if __name__ == "__main__":
    sys.exit(run(all_cases(), COMPOSITORS))
