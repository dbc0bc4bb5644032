#!/usr/bin/env python3
"""End-to-end calibration of a program as an X client on the XWayland of
mutter, kwin_wayland, weston and cage, each headless as the test account.
The program is driven with X tools on that X display; pictures are those of
its own windows, which XWayland keeps whatever the compositor shows.
Usage: e2e_xwayland_cases.py <row>"""

import ctypes
import os
import re
import shutil
import subprocess
import sys
import time

# Nothing is written into the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from compositors import COMPOSITORS, Unavailable, WestonWithPointer  # noqa: E402
from e2e import (RED, SKIPPED, Failure, Image, Program, Session, check, click_until, load_config, log,  # noqa: E402
                 parse_ppm, run_session, wait_until)
from e2e_cases import MainWindow, finish_drawn_area, scenario, start_calibration  # noqa: E402
from wayland import WaylandProgram, as_user, give, test_user  # noqa: E402

TOOLS = ("Xwayland", "xdotool", "xwininfo", "xwd", "xprop", "xhost", "dbus-run-session", "gdbus", "Xvfb")
# Outputs side by side as (width, height, scale), per layout and compositor
# where one compositor cannot have the common one.
LAYOUTS = {
    "one": [(1920, 1080, 1)],
    "scaled": [(1920, 1080, 2)],
    "two": [(1920, 1080, 1), (1280, 1024, 1)],
}
OWN_LAYOUTS = {
    ("kwin", "two"): [(1920, 1080, 1), (1920, 1080, 1)],
    ("cage", "one"): [(1280, 720, 1)],
    ("cage", "two"): [(1280, 720, 1), (1280, 720, 1)],
}
# Row: compositor, layout, program (the programs take turns), and how often the
# session runs within the row: weston's window manager moves the calibration
# window when it first manages it, and whether Qt learns of that is a race that
# about every second new session loses.
ROWS = {
    "mutter_xwayland_one": ("mutter", "one", "pravex_controller", 1),
    "mutter_xwayland_scaled": ("mutter", "scaled", "lunari_controller", 1),
    "mutter_xwayland_two": ("mutter", "two", "pravex_controller", 1),
    "kwin_xwayland_one": ("kwin", "one", "lunari_controller", 1),
    "kwin_xwayland_scaled": ("kwin", "scaled", "pravex_controller", 1),
    "kwin_xwayland_two": ("kwin", "two", "lunari_controller", 1),
    "weston_xwayland_one": ("weston", "one", "pravex_controller", 4),
    "weston_xwayland_scaled": ("weston", "scaled", "lunari_controller", 4),
    "cage_xwayland_one": ("cage", "one", "lunari_controller", 1),
    "cage_xwayland_two": ("cage", "two", "pravex_controller", 1),
}


def parse_xwd(raw):
    """An xwd dump of a 24- or 32-bit TrueColor window, as RGB."""
    header = [int.from_bytes(raw[i:i + 4], "big") for i in range(0, 100, 4)]
    size, width, height, bits, line = header[0], header[4], header[5], header[11], header[12]
    colours = header[19]
    check(bits == 32 and header[7] == 0, f"xwd gave {bits} bits per pixel, LSB first {header[7] == 0}")
    data = raw[size + 12 * colours:]
    rgb = bytearray(width * height * 3)
    for y in range(height):
        row = data[y * line:y * line + width * 4]
        rgb[y * width * 3 + 0:(y + 1) * width * 3:3] = row[2::4]
        rgb[y * width * 3 + 1:(y + 1) * width * 3:3] = row[1::4]
        rgb[y * width * 3 + 2:(y + 1) * width * 3:3] = row[0::4]
    return Image(width, height, bytes(rgb))


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5), ("padding", ctypes.c_long * 12)]


def send_delete_window(display, window):
    """Asks an X window to close as a window manager's close button does:
    the client message WM_DELETE_WINDOW of the WM_PROTOCOLS it takes part in."""
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
    x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    connection = x11.XOpenDisplay(display.encode())
    check(connection, f"cannot open X display {display}")
    try:
        event = ClientMessage(type=33, window=window, format=32,  # ClientMessage
                              message_type=x11.XInternAtom(connection, b"WM_PROTOCOLS", 0))
        event.data[0] = x11.XInternAtom(connection, b"WM_DELETE_WINDOW", 0)
        event.data[1] = 0  # CurrentTime
        x11.XSendEvent(connection, window, 0, 0, ctypes.byref(event))
        x11.XSync(connection, 0)
    finally:
        x11.XCloseDisplay(connection)


class XWaylandSession(Session):
    """A case whose programs are X clients on a compositor's XWayland. Places
    and pictures are those of the output the main window opens on, in X
    pixels, which are the output's logical pixels."""

    def __init__(self, name, config, user, compositor, outputs):
        super().__init__(name, config)
        self.user = user
        self.compositor_class = compositor
        self.layout_outputs = outputs
        self.platform = "xcb"
        self.compositor = None
        self.xauthority = None
        self.output = None
        self.starts = 0

    def start_display(self):
        give(self.user, self.scratch, self.temporary, self.shots)
        started = time.monotonic()
        self.starts += 1
        folder = os.path.join(self.scratch, f"compositor-{self.starts}")
        os.makedirs(folder)
        give(self.user, folder)
        self.compositor = self.compositor_class(folder, self.user, self.layout_outputs,
                                                os.path.join(self.shots, f"compositor-{self.starts}.log"))
        self.display, self.xauthority = self.compositor.x_display()
        # The X tools of the test (and its own X connection) read it from the environment.
        if self.xauthority:
            os.environ["XAUTHORITY"] = self.xauthority
        else:
            os.environ.pop("XAUTHORITY", None)
            if self.user.pw_uid != os.geteuid():
                # XWayland lets in its own user alone; the X tools of the test run as this process's user.
                me = subprocess.run(["id", "-un"], capture_output=True, text=True).stdout.strip()
                subprocess.run(["xhost", f"+si:localuser:{me}"], env={"DISPLAY": self.display, "PATH": "/usr/bin:/bin"},
                               capture_output=True, check=True, timeout=10, **as_user(self.user))
        self.outputs = self.compositor.logical_outputs()
        self.choose_output(0)
        log(f"{self.compositor.NAME} with outputs {self.outputs} started in {time.monotonic() - started:.2f} s, "
            f"XWayland on {self.display}")

    def choose_output(self, index):
        """The output the main window is on, which holds the calibration's
        controls, and the frame the calibration covers: that output, or all
        of them where the compositor shows a full-screen window over all."""
        self.output, x, y, width, height = self.outputs[index][:5]
        if self.compositor.FULL_SCREEN_OVER_ALL and len(self.outputs) > 1:
            self.origin_x, self.origin_y = min(o[1] for o in self.outputs), min(o[2] for o in self.outputs)
            self.width = max(o[1] + o[3] for o in self.outputs) - self.origin_x
            self.height = max(o[2] + o[4] for o in self.outputs) - self.origin_y
        else:
            self.origin_x, self.origin_y, self.width, self.height = x, y, width, height
        # The output's place in the frame.
        self.monitor = (x - self.origin_x, y - self.origin_y, width, height)

    # pictures: the program's windows in their stacking order, on black

    def screenshot(self, label, keep=True):
        stacking = self.x("xwininfo", "-root", "-children")
        order = [int(line.split()[0], 16) for line in stacking.splitlines() if line.strip().startswith("0x")]
        image = bytearray(self.width * self.height * 3)
        windows = [w for program in self.programs for w in program.windows()]
        tops = {w["id"]: self.top_level(w["id"]) for w in windows}
        # xwininfo lists the top-most first: paint from the bottom up.
        for window in sorted(windows, key=lambda w: order.index(tops[w["id"]]) if tops[w["id"]] in order else -1,
                             reverse=True):
            raw = subprocess.run(["xwd", "-silent", "-id", str(window["id"])], capture_output=True, timeout=30,
                                 env=dict(os.environ, DISPLAY=self.display)).stdout
            if len(raw) < 100:
                continue
            picture = parse_xwd(raw)
            for row in range(picture.height):
                y = window["y"] + row
                if not 0 <= y < self.height:
                    continue
                left, right = max(window["x"], 0), min(window["x"] + picture.width, self.width)
                if left < right:
                    image[(y * self.width + left) * 3:(y * self.width + right) * 3] = \
                        picture.data[(row * picture.width + left - window["x"]) * 3:
                                     (row * picture.width + right - window["x"]) * 3]
        self.shot_time = time.monotonic()
        result = Image(self.width, self.height, bytes(image))
        if keep:
            self.keep(result, label)
        return result

    def keep(self, image, label):
        self.shot_number += 1
        path = os.path.join(self.shots, f"{self.shot_number:02d}-{label}.png")
        header = f"P6\n{image.width} {image.height}\n255\n".encode()
        subprocess.run(["convert", "ppm:-", path], input=header + image.data, timeout=30)

    def wait_screen(self, condition, timeout, what):
        found = []
        label = re.sub(r"[^a-z0-9]+", "-", what.lower()).strip("-")[:40]

        def attempt():
            found[:] = [self.screenshot(what, keep=False)]
            return condition(found[0])
        try:
            wait_until(attempt, timeout, what, interval=0.1)
        except Failure:
            # The last picture, for a look at what was there instead.
            if found:
                self.keep(found[0], "not-" + label)
            raise
        self.keep(found[0], label)
        return found[0]

    def top_level(self, window):
        """The child of the root window that holds the window (a window manager's frame, or itself)."""
        while True:
            tree = self.x("xwininfo", "-tree", "-id", str(window))
            root = int(re.search(r"Root window id: (0x[0-9a-f]+)", tree).group(1), 16)
            parent = int(re.search(r"Parent window id: (0x[0-9a-f]+)", tree).group(1), 16)
            if parent == root:
                return window
            window = parent

    # places relative to the chosen output

    def move(self, x, y):
        super().move(self.origin_x + x, self.origin_y + y)

    def pointer(self):
        x, y = super().pointer()
        return x - self.origin_x, y - self.origin_y

    def window_info(self, window):
        info = super().window_info(window)
        if info:
            info["x"] -= self.origin_x
            info["y"] -= self.origin_y
        return info

    def restart_display(self):
        """A new compositor and XWayland, for what happens only on a first start."""
        for program in self.programs:
            program.kill()
        self.compositor.close()
        self.start_display()

    # teardown

    def close_main_window(self, program):
        send_delete_window(self.display, program.main_window()["id"])

    def close(self):
        for program in self.programs:
            program.kill()
        if self.compositor:
            self.compositor.close()
        super().close()


class XWaylandProgram(WaylandProgram):
    """A program started as the session's user, an X client of XWayland."""

    def start(self, args=None, extra_env=None):
        return super().start(args, dict(extra_env or {}, XAUTHORITY=self.session.xauthority))


def prompts(session, program):
    return [w for w in session.windows(program.pid) if w["name"] == "Prompt"]


def case_calibrate_on_output(session, name, runs):
    """The calibration covers the output the main window is on, with its
    controls and targets; an area drawn there, confirmed in "save the area?"
    (which opens above it in the middle of the output), reaches the driver in
    X pixels relative to that output; closing the main window ends the program.
    That many times, each in a new session."""
    for run_number in range(1, runs + 1):
        if run_number > 1:
            session.restart_display()
        program = XWaylandProgram(session, name, scenario(Program.FAMILIES[name], calibStep=0, calibMode=1),
                                  label=name if run_number == 1 else f"{name}-{run_number}").start()
        window = program.main_window()
        centre = (window["x"] + window["width"] // 2, window["y"] + window["height"] // 2)
        session.choose_output(0)
        for index, (output, x, y, width, height) in enumerate(o[:5] for o in session.outputs):
            if x <= centre[0] < x + width and y <= centre[1] < y + height:
                session.choose_output(index)
        log(f"run {run_number}: the main window opened on {session.output} {session.monitor}; the calibration "
            f"covers {session.width}x{session.height} at {session.origin_x}, {session.origin_y}")
        calibrate_area(session, program, run_number)
        closed = time.monotonic()
        session.close_main_window(program)
        status = program.wait_exit(2)
        check(status == 0, f"{program.label} ended with status {status} when its main window was closed")
        log(f"{program.label} ended {time.monotonic() - closed:.2f} s after its main window was closed")


def calibrate_area(session, program, run_number):
    main = MainWindow(program, state="active")
    try:
        start_calibration(program, main)
    except Failure as failure:
        raise Failure(f"{failure}; the program's windows: {program.windows()}")
    calibration = []

    def covers():
        calibration[:] = [w for w in program.windows() if w["name"] not in (program.title, "Prompt")]
        return [(w["x"], w["y"], w["width"], w["height"]) for w in calibration] == \
            [(0, 0, session.width, session.height)]
    try:
        # A window manager makes a window full screen after it first placed it as any other.
        wait_until(covers, 3, "the calibration covering the output")
    except Failure:
        raise Failure(f"the calibration windows are {calibration}, not one covering {session.width}x{session.height} "
                      f"at {session.origin_x}, {session.origin_y}")
    # The controls lie in the middle of the main window's output, laid out as on a screen of its own.
    mx, my, mw, mh = session.monitor
    a, b = mw // 40, mh // 40
    controls = {"the mode box": (mx + mw // 2 - 2 * a, my + mh // 2 - 2 * b, 4 * a, b),
                "Quit": (mx + mw // 2 - a, my + mh // 2 + b, 2 * a, 2 * b)}

    def shown(image):
        # Each control's edges, off its text, are drawn, and the background just beyond them is not.
        def drawn(x, y, width, height):
            background = image.pixel(x - 4, y + height // 2)
            if image.pixel(x + width + 3, y + height // 2) != background:
                return False
            edges = [[(x + i, y + height // 2) for i in range(3)],
                     [(x + width - 1 - i, y + height // 2) for i in range(3)],
                     [(x + width // 2, y + i) for i in range(3)],
                     [(x + width // 2, y + height - 1 - i) for i in range(3)]]
            return all(any(image.pixel(*point) != background for point in edge) for edge in edges)
        return all(drawn(*rect) for rect in controls.values())
    session.wait_screen(shown, 3, "the mode box and Quit in the middle of the output")
    # Even places: a drag that is easy to read back in any unit.
    w, h = session.width, session.height
    start = (w * 6 // 10 & ~1, h * 8 // 10 & ~1)
    end = (w // 10 & ~1, h * 15 // 100 & ~1)
    middle = ((start[0] + end[0]) // 2, (start[1] + end[1]) // 2)
    session.press(*start)
    session.move(*middle)
    session.move(*end)
    try:
        session.wait_screen(lambda image: image.pixel(*middle) == RED, 3, "the red band over the dragged area")
    except Failure as failure:
        raise Failure(f"{failure}: a drag from {start} to {end} over the {w}x{h} the calibration window covers "
                      "drew nothing")
    session.release()
    question = wait_until(lambda: prompts(session, program), 3, "the question save the area?")[0]
    check(question["width"] == 180, f"a notice of {question['width']} pixels wide came, not the question "
          "save the area?")
    # Where the X server has it, less the window manager's frame (Qt moves the
    # frame's corner), against where the program puts it: in the middle of the output.
    extents = re.findall(r"\d+", session.x("xprop", "-id", str(question["id"]), "_NET_FRAME_EXTENTS").partition("=")[2])
    left, top = (int(extents[0]), int(extents[2])) if len(extents) == 4 else (0, 0)
    meant = (mx + (mw - 1) // 2 - 90, my + (mh - 1) // 2 - 50)
    off = (question["x"] - left - meant[0], question["y"] - top - meant[1])
    # Where the program asked the window system to put the frame's corner: what
    # it believes of the calibration window's place decides that.
    hints = session.x("xprop", "-id", str(question["id"]), "WM_NORMAL_HINTS")
    asked = re.search(r"specified location: (-?\d+), (-?\d+)", hints)
    asked = asked and (int(asked.group(1)) - session.origin_x, int(asked.group(2)) - session.origin_y)
    log(f"run {run_number}: the question is at ({question['x']}, {question['y']}) inside a frame reaching "
        f"{left}, {top} further, {off} off the middle of {session.output}; the program asked for {asked}")
    if session.compositor.X_STACKING_SHOWN:
        check(session.above(question["id"], calibration[0]["id"]),
              "the question save the area? is not above the calibration")
        # A window manager that places the question itself may still move it
        # after it is mapped: click "OK" where it has settled.
        last = [question]

        def settled():
            now = prompts(session, program)[:1] or last
            same = now[0] == last[0]
            last[:] = now
            return same and now[0]
        question = wait_until(settled, 3, "the question save the area? to stay in one place", interval=0.2)
        click_until(session, (question["x"] + 15 + 25, question["y"] + 70 + 10),
                    lambda: not prompts(session, program), "the question to close")
    else:
        # The compositor's own picture tells what is on top: the question, not
        # the red band under it. cage shows it in the middle of all its
        # outputs, wherever the X server has it.
        outputs = session.compositor.logical_outputs()
        x = (max(o[1] + o[3] for o in outputs) - question["width"]) // 2
        y = (max(o[2] + o[4] for o in outputs) - question["height"]) // 2
        try:
            # A pixel in from the edges: cage centres the question itself, which may differ by one.
            wait_until(lambda: not parse_ppm(session.compositor.picture()).contains(RED, x + 2, y + 2, 176, 96), 3,
                       "the question save the area? shown above the calibration")
        except Failure:
            with open(os.path.join(session.shots, "compositor-picture.ppm"), "wb") as stream:
                stream.write(session.compositor.picture())
            raise
        # XTEST clicks go by XWayland's stacking: the keyboard answers, as the focus is on "OK".
        session.x("xdotool", "key", "Return")
        wait_until(lambda: not prompts(session, program), 3, "the question to close")
    drawn = (end[0], start[0], end[1], start[1])
    # The area the driver hears first: where the question is tells why it may be shifted.
    finish_drawn_area(program, drawn, session.wait_screen)
    check(asked == meant, f"the program asked for the question save the area? at {asked}, not in the middle of "
          f"the output at {meant}")
    check(max(map(abs, off)) <= 1 or not session.compositor.PLACES_AS_ASKED,
          f"the question save the area? was {off} pixels off the middle of the output")


def all_cases():
    cases = {}
    for row, (compositor, layout, program, starts) in ROWS.items():
        case = (lambda p, n: lambda session: case_calibrate_on_output(session, p, n))(program, starts)
        # xdotool moves the pointer through XTEST, which needs a seat with a pointer.
        case.compositor = WestonWithPointer if compositor == "weston" else COMPOSITORS[compositor]
        case.outputs = OWN_LAYOUTS.get((compositor, layout), LAYOUTS[layout])
        cases[row] = case
    return cases


def run(cases):
    """Entry point: <script> <row>; 0 when the row passes, 1 when it fails,
    SKIPPED when this machine cannot run it (and the log says why)."""
    if len(sys.argv) != 2 or sys.argv[1] not in cases:
        print("usage: {} <row>\nrows: {}".format(sys.argv[0], " ".join(sorted(cases))), file=sys.stderr)
        return 2
    name = sys.argv[1]
    case = cases[name]
    missing = [tool for tool in TOOLS + (case.compositor.EXECUTABLE,) if not shutil.which(tool)]
    if missing:
        log(f"SKIP {name}: missing {' '.join(missing)} (scripts/install-deps.sh installs them)")
        return SKIPPED
    user = test_user()
    if user is None or user.pw_uid == 0:
        log(f"SKIP {name}: the compositors refuse root or misbehave under it, and there is no account to run them as")
        return SKIPPED
    session = XWaylandSession(name, load_config(), user, case.compositor, case.outputs)
    try:
        return run_session(session, name, case)
    except Unavailable as reason:
        log(f"SKIP {name}: {reason}")
        return SKIPPED


if __name__ == "__main__":
    sys.exit(run(all_cases()))
