"""Headless Wayland compositors other than sway, started the same way: as an
unprivileged user with a runtime folder of their own, outputs given as (mode
width, mode height, integer scale). Standard library only.

    compositor = Mutter(folder, user, [(1920, 1080, 2)], log_path)
    compositor.runtime, compositor.wayland     # XDG_RUNTIME_DIR and the socket's name in it
    compositor.x_display()                     # (DISPLAY, XAUTHORITY or None) of its XWayland
    compositor.logical_outputs()               # [(name, x, y, logical w, logical h, scale, mode w, mode h)]
    compositor.close()

What a compositor cannot set up is in its SUPPORTS; the constructor raises
Unavailable for such a layout, and when the compositor cannot start here."""

import os
import re
import shutil
import socket
import subprocess
import time

from e2e import Failure, start_x_server, stop_process, wait_until
from wayland import as_user, private_runtime, wayland_outputs, x_socket_folder


class Unavailable(Exception):
    """The compositor cannot run the layout on this machine; the reason is the message."""


def session_processes(leader):
    """The processes of the session the leader started: {pid: command name}."""
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as stream:
                stat = stream.read()
        except OSError:
            continue
        # The command name is in parentheses and may hold spaces; the session is the 4th field after it.
        name = stat[stat.index("(") + 1:stat.rindex(")")]
        if int(stat[stat.rindex(")") + 2:].split()[3]) == leader:
            found[int(entry)] = name
    return found


def socket_inodes(pids):
    inodes = set()
    for pid in pids:
        try:
            for fd in os.listdir(f"/proc/{pid}/fd"):
                target = os.readlink(f"/proc/{pid}/fd/{fd}")
                if target.startswith("socket:["):
                    inodes.add(int(target[8:-1]))
        except OSError:
            continue
    return inodes


def x_displays_of(pids):
    """The X displays whose listening socket the processes hold. A socket file's
    name proves nothing: a server that died leaves its file for the next one."""
    inodes = socket_inodes(pids)
    displays = set()
    with open("/proc/net/unix") as stream:
        next(stream)
        for line in stream:
            fields = line.split()
            if len(fields) == 8 and int(fields[6]) in inodes:
                found = re.fullmatch(r"@?/tmp/\.X11-unix/X(\d+)", fields[7])
                if found:
                    displays.add(int(found.group(1)))
    return displays


class HeadlessCompositor:
    """What the compositors share: the start as the user, the wait for their
    socket and outputs, XWayland, and the end of the whole process group."""

    NAME = None
    # Limits of the layouts the compositor can be given: "outputs" the most
    # outputs, "alike" when all outputs must have the same mode and scale,
    # "modes" the only modes there are (None: any), "scales" the scales it takes.
    SUPPORTS = {"outputs": 4, "alike": False, "modes": None, "scales": {1, 2}}
    EXECUTABLE = None
    START_SECONDS = 15
    # Whether its X window manager keeps XWayland's stacking as it shows the
    # windows, and places X windows where they ask to be.
    X_STACKING_SHOWN = True
    PLACES_AS_ASKED = True
    # Whether it shows a full-screen window over all its outputs at once.
    FULL_SCREEN_OVER_ALL = False

    @classmethod
    def unsupported(cls, outputs):
        """Why the compositor cannot set up the outputs, or None when it can."""
        supports = cls.SUPPORTS
        if len(outputs) > supports["outputs"]:
            return f"{cls.NAME} sets up at most {supports['outputs']} output(s) headless"
        if supports["alike"] and len(set(outputs)) > 1:
            return f"{cls.NAME} gives all its headless outputs the same mode and scale"
        for width, height, scale in outputs:
            if supports["modes"] is not None and (width, height) not in supports["modes"]:
                return f"{cls.NAME}'s headless outputs are {' or '.join('%dx%d' % m for m in supports['modes'])}"
            if scale not in supports["scales"]:
                return f"{cls.NAME} cannot set scale {scale} headless"
            if width % scale or height % scale:
                return f"{width}x{height} is no whole number of logical pixels at scale {scale}"
        return None

    def __init__(self, folder, user, outputs, log_path):
        reason = self.unsupported(outputs)
        if reason:
            raise Unavailable(reason)
        if not shutil.which(self.EXECUTABLE):
            raise Unavailable(f"{self.EXECUTABLE} is not installed (scripts/install-deps.sh installs it)")
        self.folder = folder
        self.user = user
        self.outputs = outputs
        self.runtime = private_runtime(folder, user)
        self.wayland = None
        self.xauthority = None
        x_socket_folder()
        environment = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.runtime,
                       "XDG_RUNTIME_DIR": self.runtime}
        environment.update(self.environment())
        self.log = open(log_path, "w")
        started = time.monotonic()
        self.process = subprocess.Popen(self.command(), cwd=folder, env=environment, stdout=self.log,
                                        stderr=subprocess.STDOUT, start_new_session=True, **as_user(user))
        try:
            self.wayland = wait_until(self.socket_name, self.START_SECONDS, f"{self.NAME}'s Wayland socket")
            self.configure()
            wanted = sorted((width, height, scale) for width, height, scale in outputs)
            seen = []

            def outputs_set():
                seen[:] = self.logical_outputs()
                return sorted(o[6:8] + (o[5],) for o in seen) == wanted
            try:
                wait_until(outputs_set, self.START_SECONDS, f"{self.NAME}'s outputs")
            except Failure:
                raise Failure(f"{self.NAME}'s outputs are {seen}, not {wanted}")
        except BaseException:
            self.close()
            raise
        self.start_seconds = time.monotonic() - started

    # what each compositor says for itself

    def environment(self):
        return {}

    def command(self):
        raise NotImplementedError

    def configure(self):
        """Sets what the command line cannot, once the socket is there."""

    def public_display(self, displays):
        """The display X clients are to use, of those XWayland listens on."""
        if len(displays) != 1:
            raise Failure(f"{self.NAME} listens on X displays {sorted(displays)}: which is for clients is unknown")
        return min(displays)

    # the session

    def socket_name(self):
        if self.process.poll() is not None:
            self.log.flush()
            with open(self.log.name, errors="replace") as stream:
                tail = stream.read()[-600:]
            raise Unavailable(f"{self.NAME} ended with status {self.process.returncode} before its socket was "
                              f"there (see {self.log.name}): {tail.strip()}")
        names = [n for n in os.listdir(self.runtime) if re.fullmatch(r"wayland-\d+", n)]
        return names and sorted(names)[0]

    def logical_outputs(self):
        """What the compositor set up, as it tells its Wayland clients."""
        return wayland_outputs(os.path.join(self.runtime, self.wayland))

    def picture(self):
        """What the compositor shows, as a PPM, where it can tell (None elsewhere)."""
        return None

    def processes(self):
        return session_processes(self.process.pid)

    def x_display(self):
        """Starts XWayland where it starts on demand and waits for its window
        manager; returns DISPLAY and the XAUTHORITY X clients need (None when
        XWayland lets in its own user without one)."""
        displays = wait_until(lambda: x_displays_of(self.processes()), 10, f"{self.NAME}'s X display")
        display = f":{self.public_display(displays)}"
        # A connection starts XWayland where it waits for its first client.
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as probe:
            probe.connect(f"/tmp/.X11-unix/X{display[1:]}")

        def server():
            for pid, name in self.processes().items():
                if name == "Xwayland":
                    with open(f"/proc/{pid}/cmdline", "rb") as stream:
                        return stream.read().split(b"\0")
            return None
        arguments = wait_until(server, 10, f"{self.NAME}'s XWayland")
        if b"-auth" in arguments:
            self.xauthority = arguments[arguments.index(b"-auth") + 1].decode()
        environment = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "DISPLAY": display}
        if self.xauthority:
            environment["XAUTHORITY"] = self.xauthority

        # XWayland lets in its own user only. A program that connects before
        # the window manager is there never asks it for full screen.
        def window_manager_ready():
            result = subprocess.run(["xprop", "-root", "_NET_SUPPORTED"], env=environment, capture_output=True,
                                    text=True, timeout=10, **as_user(self.user))
            return "_NET_WM_STATE_FULLSCREEN" in result.stdout
        wait_until(window_manager_ready, 10, f"{self.NAME}'s X window manager on XWayland")
        return display, self.xauthority

    def close(self):
        stop_process(self.process, group=True)
        self.log.close()


class Mutter(HeadlessCompositor):
    """GNOME's compositor on virtual monitors, with a session bus of its own.
    Scales come through its D-Bus display configuration; it lays its monitors
    out in device pixels ("physical" layout mode) unless told otherwise."""

    NAME = "mutter"
    EXECUTABLE = "mutter"
    SUPPORTS = {"outputs": 4, "alike": False, "modes": None, "scales": {1, 2}}

    def command(self):
        monitors = []
        for width, height, scale in self.outputs:
            monitors += ["--virtual-monitor", f"{width}x{height}"]
        return ["dbus-run-session", "--", "mutter", "--headless", "--wayland", "--wayland-display=wayland-1"] + monitors

    def bus(self):
        """The session bus mutter is on, from its own environment."""
        for pid, name in self.processes().items():
            if name == "mutter":
                with open(f"/proc/{pid}/environ", "rb") as stream:
                    for entry in stream.read().split(b"\0"):
                        if entry.startswith(b"DBUS_SESSION_BUS_ADDRESS="):
                            return entry.split(b"=", 1)[1].decode()
        return None

    def display_config(self, method, *args, until_served=False):
        result = subprocess.run(["gdbus", "call", "--session", "-d", "org.gnome.Mutter.DisplayConfig",
                                 "-o", "/org/gnome/Mutter/DisplayConfig",
                                 "-m", f"org.gnome.Mutter.DisplayConfig.{method}"] + list(args),
                                env={"PATH": os.environ.get("PATH", "/usr/bin:/bin"),
                                     "DBUS_SESSION_BUS_ADDRESS": self.bus()},
                                capture_output=True, text=True, timeout=10, **as_user(self.user))
        if result.returncode != 0:
            # mutter takes its name on the bus a moment after it has started.
            if until_served and "ServiceUnknown" in result.stderr:
                return None
            raise Failure(f"gdbus {method} failed: {result.stderr.strip()}")
        return result.stdout

    def configure(self):
        if all(scale == 1 for width, height, scale in self.outputs):
            return
        state = wait_until(lambda: self.bus() and self.display_config("GetCurrentState", until_served=True), 10,
                           "mutter's display configuration")
        serial = re.match(r"\(uint32 (\d+),", state).group(1)
        connectors = re.findall(r"\(\('([^']+)', '[^']*', '[^']*', '[^']*'\), \[", state)
        current = re.findall(r"'([^']+)', (\d+), (\d+), [\d.]+, [\d.]+, \[[^\]]*\], \{'is-current': <true>", state)
        physical = re.search(r"'layout-mode': <uint32 (\d+)>", state)
        physical = physical is None or physical.group(1) == "2"
        if len(connectors) != len(self.outputs) or len(current) != len(self.outputs):
            raise Failure(f"mutter shows monitors {connectors} with modes {current}, not {self.outputs}")
        logical, x = [], 0
        for connector, (mode, width, height), (_, _, scale) in zip(connectors, current, self.outputs):
            logical.append(f"({x}, 0, {float(scale)}, uint32 0, {'true' if x == 0 else 'false'}, "
                           f"[('{connector}', '{mode}', @a{{sv}} {{}})])")
            x += int(width) if physical else int(width) // scale
        # Method 1: for this session only.
        self.display_config("ApplyMonitorsConfig", serial, "1", f"[{', '.join(logical)}]", "@a{sv} {}")

    def public_display(self, displays):
        # mutter listens on a second display for its own services; the log names the one for clients.
        def named():
            self.log.flush()
            with open(self.log.name, errors="replace") as stream:
                found = re.search(r"Using public X11 display :(\d+)", stream.read())
            return found
        number = int(wait_until(named, 10, "mutter's public X display in its log").group(1))
        if number not in displays:
            raise Failure(f"mutter names display :{number}, but listens on {sorted(displays)}")
        return number


class Kwin(HeadlessCompositor):
    """KDE's compositor on its virtual backend: all outputs alike, given in
    logical pixels with one scale. The installed program carries a file
    capability that a container refuses to exec, so a copy runs."""

    NAME = "kwin_wayland"
    EXECUTABLE = "kwin_wayland"
    SUPPORTS = {"outputs": 4, "alike": True, "modes": None, "scales": {1, 2}}

    def environment(self):
        # kwin's own Qt must not look for a display.
        return {"QT_QPA_PLATFORM": "offscreen"}

    def command(self):
        copy = os.path.join(self.folder, "kwin_wayland")
        shutil.copy(shutil.which("kwin_wayland"), copy)
        width, height, scale = self.outputs[0]
        return ["dbus-run-session", "--", copy, "--virtual", "--width", str(width // scale),
                "--height", str(height // scale), "--scale", str(scale), "--output-count", str(len(self.outputs)),
                "--xwayland", "--socket", "wayland-1", "--no-lockscreen", "--no-global-shortcuts"]


class Weston(HeadlessCompositor):
    """weston's headless backend: one output, given in logical pixels with a
    scale, drawn by pixman; XWayland starts with its first X client."""

    NAME = "weston"
    EXECUTABLE = "weston"
    SUPPORTS = {"outputs": 1, "alike": True, "modes": None, "scales": {1, 2, 3}}
    # Its shell places new X windows itself and ignores their moves.
    PLACES_AS_ASKED = False

    def command(self):
        width, height, scale = self.outputs[0]
        return ["weston", "--backend=headless-backend.so", f"--width={width // scale}",
                f"--height={height // scale}", f"--scale={scale}", "--use-pixman", "--xwayland",
                "--socket=wayland-1", "--idle-time=0", "--no-config"]


class WestonWithPointer(Weston):
    """weston as a window of a private Xvfb (its X11 backend), for a seat with
    a pointer: on the headless backend weston has no seat, and its XWayland
    crashes at the first pointer motion that XTEST makes."""

    NAME = "weston"
    EXECUTABLE = "weston"

    def __init__(self, folder, user, outputs, log_path):
        self.xvfb = None
        if not shutil.which("Xvfb"):
            raise Unavailable("Xvfb is not installed (scripts/install-deps.sh installs it)")
        if self.unsupported(outputs) is None and shutil.which(self.EXECUTABLE):
            width, height, scale = outputs[0]
            with open(log_path + ".xvfb", "w") as errors:
                self.xvfb, self.outer_display = start_x_server(["Xvfb", "-screen", "0", f"{width}x{height}x24"],
                                                               errors)
        super().__init__(folder, user, outputs, log_path)

    def environment(self):
        return {"DISPLAY": self.outer_display}

    def command(self):
        return [part.replace("headless-backend.so", "x11-backend.so") for part in super().command()]

    def close(self):
        super().close()
        stop_process(self.xvfb)


class Cage(HeadlessCompositor):
    """cage, the kiosk, on wlroots' headless backend: outputs of 1280x720 at
    scale 1 side by side. Its own client only keeps it running; the programs
    join as further clients. It names its socket itself."""

    NAME = "cage"
    EXECUTABLE = "cage"
    SUPPORTS = {"outputs": 4, "alike": True, "modes": {(1280, 720)}, "scales": {1}}
    # It shows its newest window on top, while XWayland may have it at the bottom.
    X_STACKING_SHOWN = False
    FULL_SCREEN_OVER_ALL = True

    def environment(self):
        return {"WLR_BACKENDS": "headless", "WLR_LIBINPUT_NO_DEVICES": "1", "WLR_RENDERER": "pixman",
                "WLR_HEADLESS_OUTPUTS": str(len(self.outputs))}

    def command(self):
        return ["cage", "-d", "--", "sleep", "infinity"]

    def picture(self):
        # cage hands its outputs' pictures to grim; XWayland's stacking need not be its own.
        return subprocess.run(["grim", "-t", "ppm", "-"], capture_output=True, timeout=30, check=True,
                              env={"XDG_RUNTIME_DIR": self.runtime, "WAYLAND_DISPLAY": self.wayland}).stdout


COMPOSITORS = {"mutter": Mutter, "kwin": Kwin, "weston": Weston, "cage": Cage}
