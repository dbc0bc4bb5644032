#!/usr/bin/env python3
"""The headless part of scripts/demo.sh: on a private Xvfb display, runs each
program (through its launcher) against the simulated controller, walks
through the main window, the calibration screen and the graph window, and
saves a picture of each into a folder.

Usage: demo_tour.py --bindir DIR --preload LIB --scenario FILE --state DIR --out DIR"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

# Nothing is written into the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from e2e import BLUE, GREEN, SCREEN_HEIGHT, SCREEN_WIDTH, Failure, Program, Session, log, wait_until  # noqa: E402
from e2e_cases import LAYOUT, MainWindow, calibration_window, target  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))


def save(session, image_label, window, out, name):
    """Crops the window from the last screenshot into out/name."""
    full = os.path.join(session.shots, f"{session.shot_number:02d}-{image_label}.png")
    path = os.path.join(out, name)
    geometry = f"{window['width']}x{window['height']}+{window['x']}+{window['y']}"
    subprocess.run(["convert", full, "-crop", geometry, "+repage", "-strip", path], check=True)
    log(f"saved {path}")


def tour(session, program_name, options):
    layout = LAYOUT[program_name]
    with open(options.scenario) as stream:
        scenario = stream.read()
    program = Program(session, program_name, scenario=scenario,
                      executable=os.path.join(options.bindir, program_name))
    program.start(extra_env={"XDG_STATE_HOME": options.state})
    short = program_name.split("_")[0]

    main = MainWindow(program, state="active", timeout=15)
    time.sleep(1.2)  # one more presence tick, so the scan rate is on screen
    session.screenshot("main")
    save(session, "main", program.main_window(), options.out, f"{short}-main.png")

    main.click_button("calibrate")
    wait_until(lambda: calibration_window(program), 5, "the calibration screen")
    whole = (0, SCREEN_WIDTH, 0, SCREEN_HEIGHT)
    cx, cy, r = target(2, whole)
    session.wait_screen(lambda image: image.pixel(cx - r + 3, cy) == (0, 0, 0)
                        and image.pixel(cx + r // 3, cy + r // 3) == GREEN
                        and image.pixel(0, SCREEN_HEIGHT // 2) == BLUE, 15, "the second target half done")
    session.screenshot("calibration")
    save(session, "calibration", {"x": 0, "y": 0, "width": SCREEN_WIDTH, "height": SCREEN_HEIGHT},
         options.out, f"{short}-calibration.png")
    wait_until(lambda: program.main_window_visible() and not calibration_window(program), 20,
               "the end of the calibration")

    main.click_button("graph")
    width, height = layout["graph_size"]
    graph = wait_until(lambda: [w for w in program.windows() if w["name"] == layout["graph_title"]
                                and w["width"] == width], 5, "the graph window")[0]
    if short == "pravex":
        # Wait for the finger to cross the X channels, so some bars stand above the threshold.
        session.wait_screen(lambda image: image.count(BLUE, graph["x"] + 200, graph["y"] + 66 + 200, 340, 49) > 200,
                            20, "a touch in the middle of the signal bars")
    else:
        time.sleep(1.0)
    session.screenshot("graph")
    save(session, "graph", graph, options.out, f"{short}-graph.png")
    session.key(graph["id"], "Escape")
    wait_until(lambda: not [w for w in program.windows() if w["name"] == layout["graph_title"]], 5,
               "the graph window to close")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bindir", help="folder of the two launchers")
    parser.add_argument("--build-tree", help="instead of --bindir: install the launchers from this build tree")
    parser.add_argument("--preload", required=True, help="libdriversim.so")
    parser.add_argument("--scenario", required=True, help="scenario of the simulated controller")
    parser.add_argument("--state", required=True, help="XDG_STATE_HOME for the launchers")
    parser.add_argument("--out", required=True, help="folder for the pictures")
    options = parser.parse_args()
    os.makedirs(options.out, exist_ok=True)
    options.out = os.path.abspath(options.out)
    work = tempfile.mkdtemp(prefix="controller-demo-")
    if options.build_tree:
        stage = os.path.join(work, "stage")
        for component in ("pravex", "lunari"):
            subprocess.run(["cmake", "--install", options.build_tree, "--prefix", stage, "--component", component],
                           check=True, stdout=subprocess.DEVNULL)
        options.bindir = os.path.join(stage, "bin")
    if not options.bindir:
        parser.error("--bindir or --build-tree is needed")
    config = {
        "bindir": options.bindir,
        "preload": options.preload,
        "logo": os.path.join(SOURCE, "resources", "logo.jpg"),
        "resources": os.path.join(SOURCE, "resources"),
        "screenshots": work,
        "environment": {},
    }
    first = os.environ.get("E2E_PRELOAD_FIRST", "")
    if first:
        # A sanitizer runtime must come before every other preloaded library.
        config["preload"] = first + ":" + options.preload
    for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
        if os.environ.get("E2E_" + name):
            config["environment"][name] = os.environ["E2E_" + name]
    status = 0
    for program_name in ("pravex_controller", "lunari_controller"):
        session = Session(program_name.split("_")[0] + "-tour", config)
        try:
            session.start_display()
            tour(session, program_name, options)
            session.finish()
        except Failure as failure:
            log(f"demo tour of {program_name} failed: {failure} (pictures kept in {session.shots})")
            status = 1
        finally:
            session.close()
    if status == 0:
        shutil.rmtree(work, ignore_errors=True)
        log(f"pictures of the three windows of each program are in {options.out}")
    return status


if __name__ == "__main__":
    sys.exit(main())
