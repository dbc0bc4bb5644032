"""A native Wayland program on any headless compositor, seen and driven from
inside by the probe preloaded next to the simulated controller (probe.py):
mutter and kwin offer no virtual pointer and no screen capture. What the
compositor set up comes from its own answer to a client of ours, and what it
told the program from the program's WAYLAND_DEBUG output. Standard library only."""

import os
import re
import shutil
import signal
import subprocess
import sys
import time

from compositors import Unavailable
from e2e import SKIPPED, Session, check, load_config, log, run_session
from probe import Probe, compositor_said
from wayland import TEST_USER, WaylandProgram, give, qt_wayland_plugin, test_user, wayland_outputs


class NativeSession(Session):
    """The programs on a compositor made by launcher(folder, user, outputs,
    log_path). Sizes the cases see (width, height, window geometry) are in
    frame pixels: the output's device pixels, `units` of them per logical pixel."""

    def __init__(self, name, config, user, launcher, outputs):
        super().__init__(name, config)
        self.user = user
        self.launcher = launcher
        self.layout_outputs = outputs
        self.compositor = None
        self.units = 1

    def start_display(self):
        give(self.user, self.scratch, self.temporary, self.shots)
        started = time.monotonic()
        self.compositor = self.launcher(self.scratch, self.user, self.layout_outputs,
                                        os.path.join(self.shots, "compositor.log"))
        self.wayland = os.path.basename(self.compositor.wayland)
        log(f"{type(self.compositor).__name__} with outputs {self.layout_outputs} up in "
            f"{time.monotonic() - started:.1f} s")

    def outputs(self):
        """[(name, x, y, logical width, logical height, scale, mode width, mode height)]."""
        return wayland_outputs(os.path.join(self.compositor.runtime, self.wayland))

    def output_of(self, window):
        """The compositor's output that Qt puts a window on: by name, else by place."""
        outputs = self.outputs()
        for test in (lambda o: o[0] == window.get("screen"),
                     lambda o: o[1:3] == (window["screen_geometry"]["x"], window["screen_geometry"]["y"])):
            found = [o for o in outputs if test(o)]
            if len(found) == 1:
                return found[0]
        check(len(outputs) == 1, f"the window is on {window.get('screen')}, none of {outputs}")
        return outputs[0]

    # the windows Program and e2e_cases ask for, in frame pixels

    def windows(self, pid=None, name=None):
        found = []
        for program in self.programs:
            if (pid is not None and program.pid != pid) or not program.running():
                continue
            for window in program.probe.windows():
                if window["visible"] and (name is None or window["title"] == name):
                    found.append(dict(window, name=window["title"],
                                      width=round(window["width"] * self.units),
                                      height=round(window["height"] * self.units)))
        return found

    def grab(self, program, window, label):
        """The window's picture in frame pixels."""
        self.shot_number += 1
        self.shot_time = time.monotonic()
        path = os.path.join(self.shots, f"{self.shot_number:02d}-{label}.ppm")
        return program.probe.grab(window, path, self.units)

    def close_main_window(self, program):
        program.probe.close(program.probe.window(title=program.title))

    def close(self):
        for program in self.programs:
            if program.probe:
                program.probe.disconnect()
            program.kill()
        if self.compositor:
            self.compositor.close()
        # The pictures are kept as PNG: a third of the space.
        for name in sorted(os.listdir(self.shots)):
            if name.endswith(".ppm"):
                path = os.path.join(self.shots, name)
                subprocess.run(["convert", path, path[:-4] + ".png"], timeout=30)
                os.remove(path)
        super().close()


class NativeProgram(WaylandProgram):
    """A program started natively on the session's compositor as its user, with
    the probe preloaded and WAYLAND_DEBUG's transcript in its output file."""

    probe = None

    def probe_socket(self):
        return os.path.join(self.session.scratch, self.label + "-probe")

    def session_environment(self):
        session = self.session
        return {"QT_QPA_PLATFORM": "wayland", "XDG_RUNTIME_DIR": session.compositor.runtime,
                "WAYLAND_DISPLAY": session.wayland, "DISPLAY": None, "WAYLAND_DEBUG": "1",
                "LD_PRELOAD": session.config["preload"] + ":" + session.config["probe"],
                "CONTROLLER_PROBE_SOCKET": self.probe_socket()}

    def start(self, args=None, extra_env=None):
        super().start(args, extra_env)
        self.probe = Probe(self.probe_socket(), self)
        return self

    def compositor_said(self):
        """What the compositor told the program so far (probe.compositor_said)."""
        self.output.flush()
        return compositor_said(self.output.name)


def run(cases, launchers):
    """Entry point: <script> <case>; exit status 0 when the case passes, 1 when
    it fails, SKIPPED when this machine cannot run it. A case is a function of
    the session with attributes compositor (a name in launchers) and outputs."""
    if len(sys.argv) != 2 or sys.argv[1] not in cases:
        print("usage: {} <case>\ncases: {}".format(sys.argv[0], " ".join(sorted(cases))), file=sys.stderr)
        return 2
    name = sys.argv[1]
    case = cases[name]
    launcher = launchers[case.compositor]
    missing = [tool for tool in ("convert", getattr(launcher, "EXECUTABLE", None) or case.compositor)
               if not shutil.which(tool)]
    if missing:
        log(f"SKIP {name}: missing {' '.join(missing)} (scripts/install-deps.sh installs them)")
        return SKIPPED
    user = test_user()
    if user is None or user.pw_uid == 0:
        log(f"SKIP {name}: the compositors refuse root and there is no account {TEST_USER} to run them as")
        return SKIPPED
    config = load_config()
    config["probe"] = os.environ.get("E2E_PROBE", "")
    program = os.path.join(config["bindir"], "pravex_controller")
    if not config["probe"]:
        log(f"SKIP {name}: no probe library (E2E_PROBE) to drive the program with")
        return SKIPPED
    if not qt_wayland_plugin(program):
        log(f"SKIP {name}: Qt's Wayland platform plugin is not installed (qt6-wayland, qtwayland5)")
        return SKIPPED
    # As under sway: Qt 5 builds run through XWayland, its Wayland plugin can hang at the program's end.
    if "libQt5Gui" in subprocess.run(["ldd", program], capture_output=True, text=True).stdout:
        log(f"SKIP {name}: Qt 5 builds run through XWayland, as Qt 5's Wayland plugin can hang at the program's end")
        return SKIPPED
    try:
        session = NativeSession(name, config, user, launcher, case.outputs)
        status = run_session(session, name, case)
        if status != 0 and any(died_in_qt_frame_race(program) for program in session.programs):
            # A fault of Qt 6.4's, not of what the row checks (README): once more, from the start.
            log(f"{name}: the program died in Qt 6.4's frame-callback race; the row runs once more "
                f"(the first run's pictures stay in {session.shots}-first)")
            shutil.rmtree(session.shots + "-first", ignore_errors=True)
            os.rename(session.shots, session.shots + "-first")
            session = NativeSession(name, config, user, launcher, case.outputs)
            status = run_session(session, name, case)
        return status
    except Unavailable as reason:
        log(f"SKIP {name}: {reason}")
        return SKIPPED


def died_in_qt_frame_race(program):
    """Qt 6.4's Wayland plugin (mended in Qt 6.5) can destroy a window's frame
    callback twice when the compositor answers the window's last frame just as
    the window goes: the program then aborts or crashes, the frame callback's
    done and the toplevel's destroy the last things WAYLAND_DEBUG shows."""
    if program.process is None or program.process.poll() not in (-signal.SIGABRT, -signal.SIGSEGV):
        return False
    with open(os.path.join(program.session.shots, program.label + "-output.txt"), errors="replace") as stream:
        tail = stream.readlines()[-40:]
    frames = {m.group(1) for line in tail for m in [re.search(r"\.frame\(new id wl_callback@(\d+)\)", line)] if m}
    done = [i for i, line in enumerate(tail) for m in [re.search(r"\] wl_callback@(\d+)\.done\(", line)]
            if m and m.group(1) in frames]
    destroyed = [i for i, line in enumerate(tail) if re.search(r"-> xdg_toplevel@\d+\.destroy\(\)", line)]
    return bool(done and destroyed and destroyed[-1] > done[-1])
