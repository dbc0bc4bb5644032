"""Drives the real programs under sway's headless backend, natively on Wayland
or through XWayland: sway runs as an unprivileged user (it refuses root), so do
the programs; the pointer is a virtual pointer of the compositor's own, pictures
come from grim, windows and outputs from sway's IPC. Standard library only.

Coordinates the cases see are those of one output (the one the case chose) in
the units the calibration hands to the driver: the output's device pixels for
a native program, X pixels for one under XWayland."""

import json
import os
import pwd
import re
import shutil
import socket
import struct
import subprocess
import sys
import time

from e2e import (SKIPPED, Failure, Image, Program, Session, check, load_config, log, parse_ppm, run_session,
                 stop_process, wait_until)

# The account sway and the programs run as when the tests run as root.
TEST_USER = "controller-e2e"
TOOLS = ("sway", "swaymsg", "grim", "Xwayland", "xprop", "convert")
# BTN_LEFT of linux/input-event-codes.h.
BUTTON_LEFT = 0x110


def test_user():
    """The account to run the session as: the caller itself unless it is root,
    else the test account, created when absent. None when there is none."""
    if os.geteuid() != 0:
        return pwd.getpwuid(os.geteuid())
    try:
        return pwd.getpwnam(TEST_USER)
    except KeyError:
        pass
    subprocess.run(["useradd", "--system", "--no-create-home", "--home-dir", "/nonexistent",
                    "--shell", "/usr/sbin/nologin", TEST_USER], capture_output=True)
    try:
        return pwd.getpwnam(TEST_USER)
    except KeyError:
        return None


def qt_wayland_plugin(executable):
    """True when the Qt the program links against has its Wayland platform plugin."""
    libraries = subprocess.run(["ldd", executable], capture_output=True, text=True).stdout
    for line in libraries.splitlines():
        if "libQt6Gui" in line or "libQt5Gui" in line:
            major = "qt6" if "Qt6" in line else "qt5"
            path = line.split("=>")[1].split()[0]
            plugins = os.path.join(os.path.dirname(path), major, "plugins", "platforms")
            return os.path.exists(os.path.join(plugins, "libqwayland-generic.so"))
    return False


# ---------------------------------------------------------------- the pointer

class WaylandConnection:
    """A client connection spoken on the Wayland socket directly: enough of the
    wire format to bind globals, send requests and read events."""

    def __init__(self, path):
        self.socket = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.socket.connect(path)
        self.last_id = 1
        self.pending = b""
        self.registry = self.new_id()
        self.send(1, 1, struct.pack("<I", self.registry))  # wl_display.get_registry
        # Every global the compositor announced: (interface, name, version).
        self.globals = []
        for sender, opcode, body in self.roundtrip():
            if sender == self.registry and opcode == 0:  # wl_registry.global
                name, length = struct.unpack_from("<II", body)
                version, = struct.unpack_from("<I", body, 8 + length + (-length % 4))
                self.globals.append((body[8:8 + length - 1].decode(), name, version))

    def bind(self, interface, name, version):
        """Binds a global; returns the new object's id."""
        encoded = interface.encode() + b"\0"
        new = self.new_id()
        self.send(self.registry, 0, struct.pack("<II", name, len(encoded)) + encoded
                  + b"\0" * (-len(encoded) % 4) + struct.pack("<II", version, new))
        return new

    def new_id(self):
        self.last_id += 1
        return self.last_id

    def send(self, target, opcode, body):
        self.socket.sendall(struct.pack("<II", target, (8 + len(body)) << 16 | opcode) + body)

    def roundtrip(self):
        """Events up to the answer of a wl_display.sync."""
        callback = self.new_id()
        self.send(1, 0, struct.pack("<I", callback))
        while True:
            while len(self.pending) < 8 or len(self.pending) < struct.unpack_from("<I", self.pending, 4)[0] >> 16:
                chunk = self.socket.recv(65536)
                if not chunk:
                    raise Failure("the compositor closed the connection")
                self.pending += chunk
            sender, word = struct.unpack_from("<II", self.pending)
            body, self.pending = self.pending[8:word >> 16], self.pending[word >> 16:]
            if sender == 1 and word & 0xffff == 0:
                raise Failure("protocol error {1} on object {0}".format(*struct.unpack_from("<II", body)))
            if sender == callback:
                return
            yield sender, word & 0xffff, body

    def close(self):
        self.socket.close()


def wire_string(body, offset):
    """A string argument of an event and the offset after it."""
    length, = struct.unpack_from("<I", body, offset)
    return body[offset + 4:offset + 4 + length - 1].decode(), offset + 4 + length + (-length % 4)


def wayland_outputs(path):
    """The outputs as the compositor tells its clients: [(name, x, y, logical
    width, logical height, scale, mode width, mode height)] from wl_output and
    zxdg_output_v1, left to right."""
    connection = WaylandConnection(path)
    try:
        outputs = {}
        for interface, name, version in connection.globals:
            if interface == "wl_output":
                outputs[connection.bind("wl_output", name, min(version, 4))] = {"scale": 1, "name": None}
        manager = [(name, version) for interface, name, version in connection.globals
                   if interface == "zxdg_output_manager_v1"]
        logical = {}
        if manager:
            manager_id = connection.bind("zxdg_output_manager_v1", manager[0][0], min(manager[0][1], 2))
            for output in outputs:
                new = connection.new_id()
                logical[new] = output
                connection.send(manager_id, 1, struct.pack("<II", new, output))  # get_xdg_output
        for sender, opcode, body in connection.roundtrip():
            if sender in outputs:
                output = outputs[sender]
                if opcode == 0:  # geometry: where the output is when there is no xdg_output
                    output.setdefault("position", struct.unpack_from("<ii", body))
                elif opcode == 1 and struct.unpack_from("<I", body)[0] & 1:  # the current mode
                    output["mode"] = struct.unpack_from("<ii", body, 4)
                elif opcode == 3:
                    output["scale"], = struct.unpack_from("<i", body)
                elif opcode == 4:
                    output["name"] = wire_string(body, 0)[0]
            elif sender in logical:
                output = outputs[logical[sender]]
                if opcode == 0:
                    output["logical_position"] = struct.unpack_from("<ii", body)
                elif opcode == 1:
                    output["logical_size"] = struct.unpack_from("<ii", body)
                elif opcode == 3 and not output["name"]:
                    output["name"] = wire_string(body, 0)[0]
        found = []
        for output in outputs.values():
            mode, scale = output.get("mode", (0, 0)), output["scale"]
            x, y = output.get("logical_position", output.get("position", (0, 0)))
            width, height = output.get("logical_size", (mode[0] // scale, mode[1] // scale))
            found.append((output["name"] or "", x, y, width, height, scale) + tuple(mode))
        return sorted(found, key=lambda o: (o[1], o[2]))
    finally:
        connection.close()


class VirtualPointer(WaylandConnection):
    """A pointer device made through zwlr_virtual_pointer_v1, spoken on the
    Wayland socket directly. Positions are in the compositor's layout."""

    def __init__(self, path, width, height):
        super().__init__(path)
        self.width, self.height = width, height
        managers = [(name, version) for interface, name, version in self.globals
                    if interface == "zwlr_virtual_pointer_manager_v1"]
        if not managers:
            raise Failure("the compositor offers no zwlr_virtual_pointer_manager_v1")
        self.manager = self.bind("zwlr_virtual_pointer_manager_v1", managers[0][0], 1)
        self.pointer = self.new_id()
        # create_virtual_pointer on the default seat.
        self.send(self.manager, 0, struct.pack("<II", 0, self.pointer))
        list(self.roundtrip())

    def event(self, opcode, body):
        stamp = int(time.monotonic() * 1000) & 0xffffffff
        self.send(self.pointer, opcode, struct.pack("<I", stamp) + body)
        self.send(self.pointer, 4, b"")  # frame
        list(self.roundtrip())

    def move(self, x, y):
        self.event(1, struct.pack("<IIII", x, y, self.width, self.height))  # motion_absolute

    def button(self, pressed):
        self.event(2, struct.pack("<II", BUTTON_LEFT, 1 if pressed else 0))


# ---------------------------------------------------------------- the compositor

class Compositor:
    """sway on its headless backend with outputs of the given modes and scales,
    side by side, run as the given user with a runtime folder of its own."""

    def __init__(self, folder, user, outputs, log_path):
        self.user = user
        self.outputs = outputs
        self.runtime = private_runtime(folder, user)
        config = os.path.join(folder, "sway.conf")
        lines = ["xwayland enable", "default_border none", "default_floating_border none",
                 "focus_on_window_activation none"]
        x = 0
        for i, (width, height, scale) in enumerate(outputs):
            lines.append(f"output HEADLESS-{i + 1} mode {width}x{height} position {x} 0 scale {scale}")
            # At a fractional scale sway rounds the logical size to whole pixels.
            x += round(width / scale)
        with open(config, "w") as stream:
            stream.write("\n".join(lines) + "\n")
        os.chmod(config, 0o644)
        x_socket_folder()
        environment = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.runtime,
                       "XDG_RUNTIME_DIR": self.runtime, "WLR_BACKENDS": "headless",
                       "WLR_HEADLESS_OUTPUTS": str(len(outputs)), "WLR_LIBINPUT_NO_DEVICES": "1",
                       "WLR_RENDERER": "pixman"}
        self.log = open(log_path, "w")
        self.process = subprocess.Popen(["sway", "-c", config], env=environment, stdout=self.log,
                                        stderr=subprocess.STDOUT, start_new_session=True, **as_user(user))
        self.wayland = os.path.join(self.runtime, "wayland-1")
        self.ipc = wait_until(self.ipc_socket, 10, "sway's IPC socket")
        wanted = sorted((round(width / scale), round(height / scale)) for width, height, scale in outputs)
        wait_until(lambda: sorted((o["rect"]["width"], o["rect"]["height"]) for o in self.get("get_outputs"))
                   == wanted, 10, "sway's outputs in their modes")
        self.display = None
        self.pointer = None

    def ipc_socket(self):
        if self.process.poll() is not None:
            raise Failure(f"sway ended with status {self.process.returncode} (see {self.log.name})")
        names = [n for n in os.listdir(self.runtime) if n.startswith("sway-ipc.")]
        return names and os.path.exists(self.wayland) and os.path.join(self.runtime, names[0])

    def message(self, *args):
        result = subprocess.run(["swaymsg", "-s", self.ipc] + list(args), capture_output=True, text=True,
                                timeout=30)
        if result.returncode != 0:
            raise Failure(f"swaymsg {' '.join(args)} failed: {result.stdout.strip()} {result.stderr.strip()}")
        return json.loads(result.stdout) if result.stdout.strip() else None

    def get(self, what):
        return self.message("-t", what)

    def x_display(self):
        """The X display sway's XWayland serves, as sway tells its own children."""
        found = os.path.join(self.runtime, "environment")
        self.message("exec", f"env > {found}.new && mv {found}.new {found}")
        lines = wait_until(lambda: os.path.exists(found) and open(found).read().splitlines(), 5,
                           "sway's environment")
        values = dict(line.split("=", 1) for line in lines if "=" in line)
        check("DISPLAY" in values, "sway runs no XWayland")
        display = values["DISPLAY"]

        # XWayland lets in its own user only. A program that connects before
        # sway's window manager is there never asks it for full screen.
        def window_manager_ready():
            result = subprocess.run(["xprop", "-root", "_NET_SUPPORTED"], env=dict(os.environ, DISPLAY=display),
                                    capture_output=True, text=True, timeout=10, **as_user(self.user))
            return "_NET_WM_STATE_FULLSCREEN" in result.stdout
        wait_until(window_manager_ready, 10, "sway's X window manager on XWayland")
        return display

    def start_pointer(self):
        layout = self.get("get_tree")["rect"]
        self.pointer = VirtualPointer(self.wayland, layout["width"], layout["height"])
        wait_until(lambda: self.get("get_seats")[0]["capabilities"] & 1, 5, "the virtual pointer in sway's seat")

    def views(self):
        """Every window, with the output it is on."""
        found = []

        def walk(node, output):
            if node["type"] == "output":
                output = node["name"]
            if node.get("pid"):
                found.append(dict(node, output=output))
            for child in node.get("nodes", []) + node.get("floating_nodes", []):
                walk(child, output)
        walk(self.get("get_tree"), None)
        return found

    def close(self):
        if self.pointer:
            self.pointer.close()
        stop_process(self.process, group=True)
        self.log.close()


def private_runtime(folder, user):
    """A new XDG_RUNTIME_DIR in the folder, the user's alone."""
    runtime = os.path.join(folder, "runtime")
    os.makedirs(runtime, mode=0o700)
    os.chown(runtime, user.pw_uid, user.pw_gid)
    return runtime


def x_socket_folder():
    """XWayland makes its socket folder as the user when it is missing: root's must be there first."""
    if os.geteuid() == 0 and not os.path.isdir("/tmp/.X11-unix"):
        os.makedirs("/tmp/.X11-unix")
        os.chmod("/tmp/.X11-unix", 0o1777)


def as_user(user):
    """Popen arguments that start a process as the user (nothing when it is us)."""
    if user.pw_uid == os.geteuid():
        return {}
    return {"user": user.pw_uid, "group": user.pw_gid, "extra_groups": []}


def give(user, *paths):
    """Hands folders (and all in them) to the user the programs run as."""
    if user.pw_uid == os.geteuid():
        return
    for top in paths:
        os.chown(top, user.pw_uid, user.pw_gid)
        for folder, folders, files in os.walk(top):
            for name in folders + files:
                os.chown(os.path.join(folder, name), user.pw_uid, user.pw_gid)


# ---------------------------------------------------------------- session

class WaylandSession(Session):
    """A case under sway: the programs are started on `output` (an index into
    outputs), natively (platform "wayland") or through XWayland ("xcb")."""

    def __init__(self, name, config, user, outputs, output, platform):
        super().__init__(name, config)
        self.user = user
        self.layout_outputs = outputs
        self.output_index = output
        self.platform = platform
        self.compositor = None
        self.last_picture = None

    def start_display(self):
        give(self.user, self.scratch, self.temporary, self.shots)
        self.compositor = Compositor(self.scratch, self.user, self.layout_outputs,
                                     os.path.join(self.shots, "sway.log"))
        self.output = sorted(self.compositor.get("get_outputs"), key=lambda o: o["rect"]["x"])[self.output_index]
        width, height, scale = self.layout_outputs[self.output_index]
        self.scale = scale
        # A native program counts in device pixels, one under XWayland in X pixels, which are sway's logical ones.
        self.units = scale if self.platform == "wayland" else 1
        self.width, self.height = width * self.units // scale, height * self.units // scale
        if self.platform == "xcb":
            self.display = self.compositor.x_display()
        self.compositor.start_pointer()
        # New windows open on the output the pointer is on: the first one.
        first = min(self.compositor.get("get_outputs"), key=lambda o: o["rect"]["x"])["rect"]
        self.compositor.pointer.move(first["x"] + first["width"] // 2, first["y"] + first["height"] // 2)
        log(f"sway with outputs {self.layout_outputs}, programs on {self.output['name']} through {self.platform}, "
            f"{self.width}x{self.height} in their units")

    # pictures

    def screenshot(self, label, keep=True):
        """The chosen output in the programs' units (XWayland's pixels are drawn
        `scale` times as large); kept as <n>-<label>.png when asked."""
        environment = dict(os.environ, XDG_RUNTIME_DIR=self.compositor.runtime, WAYLAND_DISPLAY="wayland-1")
        raw = subprocess.run(["grim", "-t", "ppm", "-o", self.output["name"], "-"], env=environment,
                             capture_output=True, timeout=30, check=True).stdout
        self.shot_time = time.monotonic()
        self.last_picture = (label, raw)
        if keep:
            self.keep_picture()
        image = parse_ppm(raw)
        step = self.scale // self.units
        if step == 1:
            return image
        rows = []
        for y in range(0, image.height, step):
            row = image.data[y * image.width * 3:(y + 1) * image.width * 3]
            rows.append(b"".join(row[x:x + 3] for x in range(0, len(row), 3 * step)))
        return Image(image.width // step, image.height // step, b"".join(rows))

    def keep_picture(self):
        if self.last_picture:
            label, raw = self.last_picture
            self.shot_number += 1
            subprocess.run(["convert", "ppm:-", os.path.join(self.shots, f"{self.shot_number:02d}-{label}.png")],
                           input=raw, timeout=30)
            self.last_picture = None

    def wait_screen(self, condition, timeout, what):
        found = []

        def attempt():
            image = self.screenshot(re.sub(r"[^a-z0-9]+", "-", what.lower()).strip("-")[:40], keep=False)
            if condition(image):
                found.append(image)
                self.keep_picture()
                return True
            return False

        wait_until(attempt, timeout, what, interval=0.1)
        return found[0]

    # input, in the programs' units on the chosen output

    def layout_point(self, x, y):
        return self.output["rect"]["x"] + x // self.units, self.output["rect"]["y"] + y // self.units

    def move(self, x, y):
        # XWayland places its pointer on the window the pointer entered only
        # with the next motion inside it, so the pointer comes from a pixel away.
        lx, ly = self.layout_point(x, y)
        self.compositor.pointer.move(lx + 1 if lx == 0 else lx - 1, ly)
        self.compositor.pointer.move(lx, ly)

    def click(self, x, y, button=1):
        self.press(x, y)
        self.release()

    def press(self, x, y):
        self.move(x, y)
        self.compositor.pointer.button(True)

    def release(self):
        self.compositor.pointer.button(False)

    # windows, in the programs' units on the chosen output

    def windows(self, pid=None, name=None, hidden=False):
        """Windows shown (or, when asked, hidden too), with the output they are on."""
        found = []
        origin = self.output["rect"]
        for view in self.compositor.views():
            if (pid is not None and view["pid"] != pid) or (name is not None and view["name"] != name):
                continue
            if not view["visible"] and not hidden:
                continue
            rect = view["rect"]
            found.append({"id": view["id"], "name": view["name"] or "", "output": view["output"],
                          "fullscreen": view["fullscreen_mode"] != 0,
                          "visible": view["visible"],
                          "x": (rect["x"] - origin["x"]) * self.units, "y": (rect["y"] - origin["y"]) * self.units,
                          "width": rect["width"] * self.units, "height": rect["height"] * self.units,
                          # The size the program gave its window, whatever part of it sway shows.
                          "own_width": view["geometry"]["width"] * self.units,
                          "own_height": view["geometry"]["height"] * self.units})
        return found

    def bring_to_output(self, program):
        """Moves the program's main window onto the chosen output, as its user
        would before calibrating, when it opened on another."""
        window = program.main_window()
        if window["output"] != self.output["name"]:
            log(f"move the main window from {window['output']} to {self.output['name']}")
            self.compositor.message(f"[con_id={window['id']}]", "move", "container", "to", "output",
                                    self.output["name"])
            wait_until(lambda: program.main_window()["output"] == self.output["name"], 3,
                       f"the main window on {self.output['name']}")

    # teardown

    def close_main_window(self, program):
        # Through the compositor, as the window's close button would.
        self.compositor.message(f"[con_id={program.main_window()['id']}]", "kill")

    def close(self):
        self.keep_picture()
        if self.compositor and self.compositor.process.poll() is None:
            # The windows as sway last saw them, for a look after a failure.
            with open(os.path.join(self.shots, "sway-tree.json"), "w") as stream:
                json.dump(self.compositor.get("get_tree"), stream, indent=1)
        for program in self.programs:
            program.kill()
        if self.compositor:
            self.compositor.close()
        super().close()


class WaylandProgram(Program):
    """A program started as the session's user on the compositor."""

    def session_environment(self):
        session = self.session
        return {"QT_QPA_PLATFORM": session.platform, "XDG_RUNTIME_DIR": session.compositor.runtime,
                "WAYLAND_DISPLAY": "wayland-1" if session.platform == "wayland" else None,
                "DISPLAY": session.display}

    def start(self, args=None, extra_env=None):
        session = self.session
        environment = self.session_environment()
        environment.update(extra_env or {})
        give(session.user, session.scratch, session.temporary, session.shots)
        self.output = open(os.path.join(session.shots, self.label + "-output.txt"), "a")
        # A cross build's program runs under the target's emulator.
        command = session.config.get("emulator", []) + [self.executable] + (args or [])
        log(f"start {' '.join(command)} as {session.user.pw_name} on {environment['QT_QPA_PLATFORM']}")
        self.process = subprocess.Popen(command, cwd=self.workdir, env=self.environment(environment),
                                        stdout=self.output, stderr=subprocess.STDOUT, start_new_session=True,
                                        **as_user(session.user))
        session.programs.append(self)
        return self


# ---------------------------------------------------------------- running cases

def run(cases):
    """Entry point: <script> <case>; exit status 0 when the case passes, 1 when
    it fails, SKIPPED when this machine cannot run it. A case is a function of
    the session with attributes outputs, output and platform."""
    if len(sys.argv) != 2 or sys.argv[1] not in cases:
        print("usage: {} <case>\ncases: {}".format(sys.argv[0], " ".join(sorted(cases))), file=sys.stderr)
        return 2
    name = sys.argv[1]
    case = cases[name]
    missing = [tool for tool in TOOLS if not shutil.which(tool)]
    if missing:
        log(f"SKIP {name}: missing {' '.join(missing)} (scripts/install-deps.sh installs them)")
        return SKIPPED
    user = test_user()
    if user is None or user.pw_uid == 0:
        log(f"SKIP {name}: sway refuses root and there is no account {TEST_USER} to run it as")
        return SKIPPED
    config = load_config()
    if case.platform == "wayland" and not qt_wayland_plugin(os.path.join(config["bindir"], "pravex_controller")):
        log(f"SKIP {name}: Qt's Wayland platform plugin is not installed (qt6-wayland, qtwayland5)")
        return SKIPPED
    # Qt 5.15's Wayland plugin now and then hangs when the program ends (the
    # display's destructor waits for its event thread, which waits in
    # wl_display_read_events); the launcher runs Qt 5 builds through XWayland.
    program = os.path.join(config["bindir"], "pravex_controller")
    if case.platform == "wayland" and "libQt5Gui" in subprocess.run(["ldd", program], capture_output=True,
                                                                     text=True).stdout:
        log(f"SKIP {name}: Qt 5 builds run through XWayland, as Qt 5's Wayland plugin can hang at the program's end")
        return SKIPPED
    session = WaylandSession(name, config, user, case.outputs, case.output, case.platform)
    return run_session(session, name, case)
