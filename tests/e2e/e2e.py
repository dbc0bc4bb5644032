"""Drives the real programs on a private Xvfb display with the simulated
controller preloaded: starts them, clicks with xdotool, takes screenshots and
reads the simulator's transcript. Standard library only."""

import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SCREEN_WIDTH = 1024
SCREEN_HEIGHT = 768

# Qt's predefined colours the calibration screen paints with.
BLUE = (0, 0, 255)
GREEN = (0, 255, 0)
BLACK = (0, 0, 0)
RED = (255, 0, 0)


# Programs the cases run besides the two controllers.
TOOLS = ("Xvfb", "xdotool", "xwd", "xwininfo", "xprop", "xrandr", "convert", "identify", "ipcs", "ipcrm")
# The X server behind displays of several monitors (the Xorg wrapper would refuse to start it).
XORG = "/usr/lib/xorg/Xorg"
# The exit status CTest counts as a skipped case.
SKIPPED = 77


class Failure(Exception):
    pass


def log(message):
    print(f"[{time.strftime('%H:%M:%S')}] {message}", file=sys.stderr, flush=True)


def wait_until(condition, timeout, what, interval=0.05):
    """Polls condition until it returns a true value, which is returned."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise Failure(f"timed out after {timeout:g} s waiting for {what}")
        time.sleep(interval)


def click_until(session, point, done, what, timeout=3):
    """Clicks at the point until done() holds: XWayland under load now and
    then drops a click, so a click with no effect is made once more."""
    for attempt in (1, 2):
        session.click(*point)
        try:
            return wait_until(done, timeout / 2 if attempt == 1 else timeout, what)
        except Failure:
            if attempt == 2:
                raise
            log(f"no sign of {what} after a click at {point}: clicking again")


def check(condition, message):
    if not condition:
        raise Failure(message)


# ---------------------------------------------------------------- images

class Image:
    """An RGB picture, from a screenshot or a file."""

    def __init__(self, width, height, data, channels=3):
        self.width = width
        self.height = height
        self.data = data
        self.channels = channels

    def pixel(self, x, y):
        if not (0 <= x < self.width and 0 <= y < self.height):
            raise Failure(f"pixel ({x}, {y}) outside the {self.width}x{self.height} picture")
        i = (y * self.width + x) * self.channels
        return tuple(self.data[i:i + 3])

    def alpha(self, x, y):
        if self.channels < 4:
            return 255
        return self.data[(y * self.width + x) * self.channels + 3]

    def crop(self, x, y, width, height):
        rows = []
        for row in range(y, y + height):
            start = (row * self.width + x) * self.channels
            rows.append(self.data[start:start + width * self.channels])
        return Image(width, height, b"".join(rows), self.channels)

    def count(self, colour, x=0, y=0, width=None, height=None):
        width = self.width - x if width is None else width
        height = self.height - y if height is None else height
        found = 0
        for row in range(y, y + height):
            for column in range(x, x + width):
                if self.pixel(column, row) == colour:
                    found += 1
        return found

    def contains(self, colour, x, y, width, height):
        """True as soon as one pixel of the region has the colour."""
        wanted = bytes(colour)
        for row in range(y, y + height):
            start = (row * self.width + x) * self.channels
            line = self.data[start:start + width * self.channels]
            for offset in range(0, len(line), self.channels):
                if line[offset:offset + 3] == wanted:
                    return True
        return False

    def find(self, template, x0, y0, x1, y1):
        """Top-left corners in [x0, x1] x [y0, y1] where every opaque pixel of
        the template equals the picture's pixel."""
        opaque = [(x, y, template.pixel(x, y)) for y in range(template.height)
                  for x in range(template.width) if template.alpha(x, y) == 255]
        if not opaque:
            raise Failure("template has no opaque pixel")
        matches = []
        for top in range(max(0, y0), min(y1, self.height - template.height) + 1):
            for left in range(max(0, x0), min(x1, self.width - template.width) + 1):
                if all(self.pixel(left + x, top + y) == colour for x, y, colour in opaque):
                    matches.append((left, top))
        return matches


def read_image(path):
    """Any picture ImageMagick reads, as 8-bit RGBA."""
    size = subprocess.run(["identify", "-format", "%w %h", path], check=True,
                          capture_output=True, text=True).stdout.split()
    data = subprocess.run(["convert", path, "-depth", "8", "rgba:-"], check=True,
                          capture_output=True).stdout
    return Image(int(size[0]), int(size[1]), data, 4)


def parse_ppm(raw):
    """A binary PPM as ImageMagick writes it (with a comment line)."""
    fields = []
    position = 0
    while len(fields) < 4:
        match = re.compile(rb"\s*(#[^\n]*\n|[0-9A-Za-z]+)").match(raw, position)
        if not match:
            raise Failure("screenshot is not a binary PPM")
        position = match.end()
        if not match.group(1).startswith(b"#"):
            fields.append(match.group(1))
    if fields[0] != b"P6" or fields[3] != b"255":
        raise Failure("screenshot is not an 8-bit binary PPM")
    width, height = int(fields[1]), int(fields[2])
    start = position + 1
    data = raw[start:start + width * height * 3]
    if len(data) != width * height * 3:
        raise Failure("screenshot is truncated")
    return Image(width, height, data)


# ---------------------------------------------------------------- transcript

class Exchange:
    """One line of the simulator's transcript."""

    def __init__(self, fields, line):
        self.fields = fields
        self.line = line
        self.family = fields.get("family", "")
        self.kind = fields.get("kind", "")
        self.code = int(fields.get("code", "0"))
        self.length = int(fields.get("len", "0"))
        self.result = int(fields.get("result", "0"))
        text = fields.get("bytes", "")
        self.bytes = bytes.fromhex(text) if text else b""

    def __repr__(self):
        return self.line


def read_transcript(path):
    exchanges = []
    try:
        with open(path, encoding="ascii", errors="replace") as stream:
            for line in stream:
                line = line.strip()
                if not line or line.startswith("#"):
                    continue
                fields = dict(part.split("=", 1) for part in line.split() if "=" in part)
                exchanges.append(Exchange(fields, line))
    except FileNotFoundError:
        pass
    return exchanges


def big_endian(data, offset):
    return data[offset] << 8 | data[offset + 1]


def stop_process(process, seconds=5, group=False):
    """Asks a process to end, and kills it when it has not within the time.
    With group, the same for every process of its group (a process started
    in a session of its own, and all it started)."""
    if not process:
        return

    def signal_all(number):
        try:
            if group:
                os.killpg(process.pid, number)
            elif process.poll() is None:
                process.send_signal(number)
        except ProcessLookupError:
            pass
    signal_all(signal.SIGTERM)
    try:
        process.wait(seconds)
    except subprocess.TimeoutExpired:
        signal_all(signal.SIGKILL)
        process.wait()
    if group:
        # What the leader started may outlive it by a moment.
        signal_all(signal.SIGKILL)


# ---------------------------------------------------------------- X servers

def start_x_server(command, output):
    """Starts an X server (Xvfb, Xorg) that tells its display number through
    -displayfd; returns the process and the display name."""
    read_end, write_end = os.pipe()
    server = subprocess.Popen(command + ["-displayfd", str(write_end), "-nolisten", "tcp", "-noreset"],
                              pass_fds=(write_end,), stdout=output, stderr=output, start_new_session=True)
    os.close(write_end)
    number = b""
    deadline = time.monotonic() + 20
    try:
        while not number.endswith(b"\n"):
            if time.monotonic() > deadline or server.poll() is not None:
                raise Failure(f"{command[0]} did not start (see {output.name})")
            chunk = os.read(read_end, 16)
            if not chunk:
                raise Failure(f"{command[0]} closed its display pipe (see {output.name})")
            number += chunk
    finally:
        os.close(read_end)
    return server, ":" + number.decode().strip()


def grab_screen(display, path=None):
    """The whole screen of a display; kept as a picture at path when one is given."""
    env = dict(os.environ, DISPLAY=display)
    xwd = subprocess.run(["xwd", "-root", "-silent"], env=env, capture_output=True, timeout=30, check=True).stdout
    keep = ["-write", path] if path else []
    ppm = subprocess.run(["convert", "xwd:-"] + keep + ["-depth", "8", "ppm:-"],
                         input=xwd, capture_output=True, timeout=30, check=True).stdout
    return parse_ppm(ppm)


# ---------------------------------------------------------------- session

class Session:
    """One test case: a private X display, scratch folders, the programs it
    started, and what it leaves behind for a look after a failure."""

    def __init__(self, name, config):
        self.name = name
        self.config = config
        self.scratch = tempfile.mkdtemp(prefix=f"e2e-{name}-")
        # Qt keys the single-instance segment by the inode of a file in the
        # temporary folder. On the disk, a freed inode comes back soon and can
        # meet a segment that some killed Qt program left behind; tmpfs hands
        # out fresh inode numbers on a device of its own.
        shm = "/dev/shm"
        if os.path.isdir(shm) and os.access(shm, os.W_OK):
            self.temporary = tempfile.mkdtemp(prefix=f"e2e-{name}-", dir=shm)
        else:
            self.temporary = os.path.join(self.scratch, "tmp")
            os.makedirs(self.temporary)
        self.shots = os.path.join(config["screenshots"], name)
        shutil.rmtree(self.shots, ignore_errors=True)
        os.makedirs(self.shots)
        self.shot_number = 0
        self.shot_time = None
        self.programs = []
        self.xvfb = None
        self.window_manager = None
        self.display = None
        self.width = SCREEN_WIDTH
        self.height = SCREEN_HEIGHT

    # display

    def start_display(self, width=SCREEN_WIDTH, height=SCREEN_HEIGHT, monitors=1, window_manager=None,
                      layout=None, modes=(), root=None):
        """An X server of width x height device pixels: Xvfb for one monitor;
        for several, side by side, or for a layout of monitors (x, y, width,
        height) with further modes (width, height) to switch to, Xorg with its
        dummy driver (which needs root). The root window reaches from (0, 0)
        to the monitors' far edges, or has the size root. A window manager is
        started on it when asked for."""
        if layout is None and monitors > 1:
            layout = [(i * (width // monitors), 0, width // monitors, height) for i in range(monitors)]
        if layout:
            width = max(x + w for x, y, w, h in layout)
            height = max(y + h for x, y, w, h in layout)
        if root:
            width, height = root
        self.width, self.height = width, height
        self.config_display = {"layout": layout or [(0, 0, width, height)]}
        errors = open(os.path.join(self.shots, "xserver.log"), "w")
        if not layout:
            command = ["Xvfb", "-screen", "0", f"{width}x{height}x24"]
        else:
            command = [XORG, "-config", self.xorg_config(layout, modes),
                       "-logfile", os.path.join(self.shots, "xorg.log")]
        self.xvfb, self.display = start_x_server(command, errors)
        if layout:
            # Xorg starts with a root window as large as the largest mode allows.
            self.x("xrandr", "--fb", f"{width}x{height}")
        log(f"X server of {len(layout or [0])} monitor(s), {width}x{height} in all, on display {self.display}")
        if window_manager:
            output = open(os.path.join(self.shots, "window-manager.log"), "w")
            self.window_manager = subprocess.Popen([window_manager], env=dict(os.environ, DISPLAY=self.display),
                                                   stdout=output, stderr=output, start_new_session=True)
            wait_until(lambda: self.x("xprop", "-root", "_NET_SUPPORTING_WM_CHECK", check_result=False)
                       .find("window id") >= 0, 10, f"{window_manager} to manage the display")

    def xorg_config(self, layout, modes=()):
        """Xorg with the dummy driver: monitors at (x, y) of width x height."""
        def modeline(width, height):
            # Blanking of the usual size at 60 Hz; the dummy driver takes any timing.
            clock = (width + 320) * (height + 25) * 60 / 1e6
            return (f'Modeline "{width}x{height}" {clock:.2f} {width} {width + 48} {width + 160} {width + 320} '
                    f'{height} {height + 3} {height + 7} {height + 25} -hsync +vsync')
        sizes = sorted({(w, h) for _, _, w, h in layout} | set(modes))
        modelines = "".join(f"  {modeline(w, h)}\n" for w, h in sizes)
        sections = ['Section "ServerFlags"\n  Option "AutoAddDevices" "false"\n  Option "AutoAddGPU" "false"\n'
                    '  Option "DontVTSwitch" "true"\nEndSection']
        for i, (x, y, width, height) in enumerate(layout):
            sections.append(f'Section "Monitor"\n  Identifier "monitor{i}"\n  HorizSync 5.0 - 1000.0\n'
                            f'  VertRefresh 5.0 - 200.0\n{modelines}  Option "PreferredMode" "{width}x{height}"\n'
                            f'  Option "Position" "{x} {y}"\n'
                            + ('  Option "Primary" "true"\n' if i == 0 else '  Option "Enable" "true"\n')
                            + 'EndSection')
        outputs = "".join(f'  Option "Monitor-DUMMY{i}" "monitor{i}"\n' for i in range(len(layout)))
        width = max([x + w for x, y, w, h in layout] + [w for w, h in modes])
        height = max([y + h for x, y, w, h in layout] + [h for w, h in modes])
        sections.append(f'Section "Device"\n  Identifier "dummy"\n  Driver "dummy"\n  VideoRam 256000\n'
                        f'{outputs}EndSection')
        sections.append(f'Section "Screen"\n  Identifier "screen"\n  Device "dummy"\n  Monitor "monitor0"\n'
                        f'  DefaultDepth 24\n  SubSection "Display"\n    Depth 24\n'
                        f'    Virtual {width} {height}\n  EndSubSection\nEndSection')
        path = os.path.join(self.scratch, "xorg.conf")
        with open(path, "w") as stream:
            stream.write("\n\n".join(sections) + "\n")
        return path

    def x(self, *args, check_result=True):
        """Runs an X client (xdotool, xwininfo) on the session's display."""
        env = dict(os.environ, DISPLAY=self.display)
        result = subprocess.run(list(args), env=env, capture_output=True, text=True, timeout=30)
        if check_result and result.returncode != 0:
            raise Failure(f"{' '.join(args)} failed: {result.stderr.strip()}")
        return result.stdout

    def screenshot(self, label):
        """The whole screen, kept as <screenshots>/<case>/<n>-<label>.png."""
        self.shot_number += 1
        self.shot_time = time.monotonic()
        return grab_screen(self.display, os.path.join(self.shots, f"{self.shot_number:02d}-{label}.png"))

    def wait_screen(self, condition, timeout, what):
        """Takes screenshots until condition(image) holds; returns the image."""
        found = []

        def attempt():
            image = self.screenshot(re.sub(r"[^a-z0-9]+", "-", what.lower()).strip("-")[:40])
            if condition(image):
                found.append(image)
                return True
            return False

        wait_until(attempt, timeout, what, interval=0.1)
        return found[0]

    # input

    def move(self, x, y):
        # Without --sync, which never returns when the pointer is already there.
        self.x("xdotool", "mousemove", str(x), str(y))
        wait_until(lambda: self.pointer() == (x, y), 5, f"the pointer at ({x}, {y})", interval=0.01)

    def pointer(self):
        out = self.x("xdotool", "getmouselocation", "--shell")
        values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
        return int(values["X"]), int(values["Y"])

    def click(self, x, y, button=1):
        self.move(x, y)
        self.x("xdotool", "click", str(button))

    def press(self, x, y):
        self.move(x, y)
        self.x("xdotool", "mousedown", "1")

    def release(self):
        self.x("xdotool", "mouseup", "1")

    def key(self, window, name):
        """Gives the window the keyboard focus, then presses the key."""
        self.x("xdotool", "windowfocus", str(window))
        wait_until(lambda: self.x("xdotool", "getwindowfocus", check_result=False).strip() == str(window),
                   5, f"the keyboard focus on window {window}", interval=0.02)
        self.x("xdotool", "key", name)

    # windows

    def windows(self, pid=None, name=None):
        """Viewable top-level windows as dicts with id, name, x, y, width, height."""
        args = ["xdotool", "search", "--onlyvisible"]
        if pid is not None:
            args += ["--pid", str(pid)]
        if name is not None:
            args += ["--name", name]
        elif pid is None:
            args += ["--name", ""]
        out = self.x(*args, check_result=False)
        found = []
        for window in out.split():
            info = self.window_info(window)
            if info:
                found.append(info)
        return found

    def window_info(self, window):
        out = self.x("xdotool", "getwindowgeometry", "--shell", window, check_result=False)
        values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
        if "WIDTH" not in values:
            return None
        title = self.x("xdotool", "getwindowname", window, check_result=False).rstrip("\n")
        # xdotool counts a window manager's frame twice (openbox); the X server's own answer does not.
        place = dict(re.findall(r"Absolute upper-left ([XY]):\s+(-?\d+)",
                                self.x("xwininfo", "-id", window, check_result=False)))
        values.update(place)
        return {"id": int(window), "name": title, "x": int(values["X"]), "y": int(values["Y"]),
                "width": int(values["WIDTH"]), "height": int(values["HEIGHT"])}

    def above(self, upper, lower):
        """True when window upper is stacked above window lower, each counted
        by the frame a window manager may have put around it."""
        def frame(window):
            root = None
            while True:
                tree = self.x("xwininfo", "-tree", "-id", str(window))
                root = root or int(re.search(r"Root window id: (0x[0-9a-f]+)", tree).group(1), 16)
                parent = int(re.search(r"Parent window id: (0x[0-9a-f]+)", tree).group(1), 16)
                if parent == root:
                    return window
                window = parent
        stacking = self.x("xwininfo", "-root", "-children")
        # xwininfo lists the top-most window first.
        order = [int(line.split()[0], 16) for line in stacking.splitlines() if line.strip().startswith("0x")]
        return order.index(frame(upper)) < order.index(frame(lower))

    # teardown

    def finish(self):
        """After a passed case: every program still running is closed as a
        user would, must end with status 0 and must have reported no error."""
        for program in self.programs:
            if program.running() and program.main_window_visible():
                self.close_main_window(program)
                status = program.wait_exit(15)
                check(status == 0, f"{program.label} ended with status {status} when its main window was closed "
                      f"(see {program.label}-output.txt)")
            program.kill()
            output = open(os.path.join(self.shots, program.label + "-output.txt"), errors="replace").read()
            for marker in ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:"):
                check(marker not in output, f"{program.label} reported '{marker}' (see {program.label}-output.txt)")

    def close_main_window(self, program):
        self.key(program.main_window()["id"], "Escape")

    def close(self):
        for program in self.programs:
            program.kill()
        stop_process(self.window_manager)
        stop_process(self.xvfb)
        shutil.rmtree(self.scratch, ignore_errors=True)
        shutil.rmtree(self.temporary, ignore_errors=True)


class Program:
    """One copy of a real program in its own working directory, with the
    simulated controller preloaded and reading its scenario and control file."""

    TITLES = {"pravex_controller": "Pravex Controller", "lunari_controller": "Lunari Controller"}
    FAMILIES = {"pravex_controller": "pravex", "lunari_controller": "lunari"}

    def __init__(self, session, program, scenario="", workdir=None, executable=None, label=None, title=None):
        self.session = session
        self.program = program
        self.family = self.FAMILIES[program]
        self.title = title or self.TITLES[program]
        self.label = label or program
        config = session.config
        self.executable = executable or os.path.join(config["bindir"], program)
        self.workdir = workdir or os.path.join(session.scratch, self.label)
        os.makedirs(self.workdir, exist_ok=True)
        shutil.copy(config["logo"], os.path.join(self.workdir, "logo.jpg"))
        self.files = os.path.join(session.scratch, self.label + "-sim")
        os.makedirs(self.files, exist_ok=True)
        self.scenario_path = os.path.join(self.files, "scenario")
        self.control_path = os.path.join(self.files, "control")
        self.transcript_path = os.path.join(session.shots, self.label + "-transcript.txt")
        with open(self.scenario_path, "w") as stream:
            stream.write(scenario)
        self.control = {}
        self.control_writes = 0
        self.write_control()
        self.process = None
        self.output = None

    def environment(self, extra=None):
        env = dict(os.environ)
        for name in ("QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS",
                     "QT_AUTO_SCREEN_SCALE_FACTOR", "QT_FONT_DPI", "LANGUAGE", "LC_MESSAGES"):
            env.pop(name, None)
        env.update({
            "DISPLAY": self.session.display,
            "LC_ALL": "C.UTF-8",
            "LANG": "C.UTF-8",
            "LD_PRELOAD": self.session.config["preload"],
            "DRIVERSIM_SCENARIO": self.scenario_path,
            "DRIVERSIM_CONTROL": self.control_path,
            "DRIVERSIM_TRANSCRIPT": self.transcript_path,
            "XDG_RUNTIME_DIR": self.session.scratch,
            # Each case has its own single-instance segments, so parallel cases never meet.
            "TMPDIR": self.session.temporary,
        })
        env.update(self.session.config.get("environment", {}))
        for name, value in (extra or {}).items():
            if value is None:
                env.pop(name, None)
            else:
                env[name] = value
        return env

    def start(self, args=None, extra_env=None):
        self.output = open(os.path.join(self.session.shots, self.label + "-output.txt"), "a")
        # A cross build's program runs under the target's emulator.
        command = self.session.config.get("emulator", []) + [self.executable] + (args or [])
        log(f"start {' '.join(command)} in {self.workdir}")
        self.process = subprocess.Popen(command, cwd=self.workdir, env=self.environment(extra_env),
                                        stdout=self.output, stderr=subprocess.STDOUT,
                                        start_new_session=True)
        self.session.programs.append(self)
        return self

    @property
    def pid(self):
        return self.process.pid

    def running(self):
        return self.process is not None and self.process.poll() is None

    def wait_exit(self, timeout):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"{self.label} still runs {timeout:g} s later")

    def kill(self):
        """Ends the program; the segment it held is removed as its own exit would."""
        if self.running():
            self.process.kill()
            self.process.wait()
            remove_segments_of(self.process.pid)
        if self.output:
            self.output.close()
            self.output = None

    # live control of the simulated controller

    def set(self, **settings):
        """Changes the simulated controller at once through its control file."""
        for key, value in settings.items():
            self.control[key] = value
        self.write_control()

    def write_control(self):
        self.control_writes += 1
        lines = [f"# update {self.control_writes}"]
        lines += [f"{self.family}.{key} = {format_value(value)}" for key, value in self.control.items()]
        temporary = self.control_path + ".new"
        with open(temporary, "w") as stream:
            stream.write("\n".join(lines) + "\n")
        # A distinct modification time for every update, however fast they follow.
        stamp = time.time_ns() + self.control_writes * 1_000_000
        os.utime(temporary, ns=(stamp, stamp))
        os.replace(temporary, self.control_path)

    # windows

    def windows(self):
        if not self.running():
            return []
        return self.session.windows(pid=self.pid)

    def main_window(self, timeout=10):
        """Waits for the visible main window and returns its geometry."""
        def find():
            if self.process.poll() is not None:
                raise Failure(f"{self.label} ended with status {self.process.returncode} "
                              "before it showed its main window")
            for window in self.windows():
                if window["name"] == self.title:
                    return window
            return None
        return wait_until(find, timeout, f"the main window of {self.label}")

    def main_window_visible(self):
        return any(w["name"] == self.title for w in self.windows())

    def window_sized(self, width, height):
        for window in self.windows():
            if window["width"] == width and window["height"] >= height:
                return window
        return None

    def transcript(self):
        return read_transcript(self.transcript_path)


def remove_segments_of(pid):
    """Removes the unattached shared-memory segments a process created."""
    listing = subprocess.run(["ipcs", "-m", "-p"], capture_output=True, text=True).stdout
    for line in listing.splitlines():
        fields = line.split()
        if len(fields) >= 4 and fields[0].isdigit() and fields[2] == str(pid):
            status = subprocess.run(["ipcs", "-m", "-i", fields[0]], capture_output=True, text=True).stdout
            if re.search(r"nattch=0\b", status):
                subprocess.run(["ipcrm", "-m", fields[0]], capture_output=True)


def format_value(value):
    if isinstance(value, bool):
        return "1" if value else "0"
    if isinstance(value, (list, tuple)):
        return " ".join(str(v) for v in value)
    return str(value)


# ---------------------------------------------------------------- running cases

def load_config():
    """Paths and switches the CTest registration passes as environment variables."""
    def need(name):
        value = os.environ.get(name)
        if not value:
            raise SystemExit(f"{name} is not set")
        return value

    config = {
        "bindir": need("E2E_BINDIR"),
        "preload": need("E2E_PRELOAD"),
        "logo": need("E2E_LOGO"),
        "resources": need("E2E_RESOURCES"),
        "screenshots": need("E2E_SCREENSHOTS"),
        "environment": {},
    }
    for name in ("CPACK", "CPACK_CONFIG", "QT_MAJOR", "TRANSLATIONS"):
        config[name.lower()] = os.environ.get("E2E_" + name, "")
    config["emulator"] = os.environ.get("E2E_EMULATOR", "").split()
    first = os.environ.get("E2E_PRELOAD_FIRST", "")
    if first:
        # A sanitizer runtime must come before every other preloaded library.
        config["preload"] = first + ":" + config["preload"]
    for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
        value = os.environ.get("E2E_" + name)
        if value:
            config["environment"][name] = value
    return config


def run(cases):
    """Entry point: <script> <case>; exit status 0 when the case passes, 1 when
    it fails, SKIPPED when this machine cannot run it."""
    if len(sys.argv) != 2 or sys.argv[1] not in cases:
        print("usage: {} <case>\ncases: {}".format(sys.argv[0], " ".join(sorted(cases))), file=sys.stderr)
        return 2
    name = sys.argv[1]
    missing = [tool for tool in TOOLS if not shutil.which(tool)]
    if missing:
        log(f"FAIL {name}: missing {' '.join(missing)} (scripts/install-deps.sh installs them)")
        return 1
    config = load_config()
    case = cases[name]
    display = getattr(case, "display", {})
    if display.get("monitors", 1) > 1 or display.get("layout"):
        # Xorg takes its configuration from any path only when started by root.
        if os.geteuid() != 0:
            log(f"SKIP {name}: a display of several monitors needs Xorg started as root")
            return SKIPPED
        if not os.access(XORG, os.X_OK):
            log(f"FAIL {name}: {XORG} is missing (xserver-xorg-core, xserver-xorg-video-dummy)")
            return 1
    return run_session(Session(name, config), name, case, **display)


def run_session(session, name, case, **display):
    """Runs a case in a session on its own display; 0 when it passes, 1 when it fails."""
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    started = time.monotonic()
    try:
        session.start_display(**display)
        case(session)
        session.finish()
    except Failure as failure:
        log(f"FAIL {name}: {failure}")
        log(f"screenshots and transcripts: {session.shots}")
        return 1
    finally:
        session.close()
    log(f"PASS {name} in {time.monotonic() - started:.1f} s")
    return 0
