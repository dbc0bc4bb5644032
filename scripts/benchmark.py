#!/usr/bin/env python3
"""Benchmark of the two controller programs against a plain Qt reference.

Each program runs on its own Xvfb display (1024x768x24) with the simulated
controller (libdriversim.so) preloaded and is measured from outside: start-up
to the mapped main window (seen as a MapNotify on the X server) and the CPU
time used by then, peak resident memory (VmHWM), CPU time (per-thread
schedstat, nanoseconds), wake-ups (voluntary context switches of all threads)
and driver exchanges (the simulator's transcript), while the main window
waits, while the graph window is open and while the calibration screen polls.
The simulator answers fixed pictures, so its own work inside the process
stays small; the programs repaint on every answer all the same.

Each program's command-line companion (pravexctl, lunarictl) is timed too:
its "status" and "status --format=prometheus" from exec to exit and their
peak memory, against the window program's start-up and memory from the same
run.

The reference is a minimal Qt Widgets program (scripts/bench/reference.cpp):
one empty dialog of the main window's size with a 1000 ms timer, the floor
that Qt itself costs. It is started the same way, simulator included. Its
variant with one text label is started for the start-up figures too: it
shows what the font system costs any window with text.

Usage: scripts/benchmark.py [build-dir] [--runs N] [--starts N] [--short] ...
The build directory defaults to build-bench/; when it holds no build yet it is
configured in Release with -DCONTROLLER_BUILD_BENCHMARKS=ON and the four
targets are built. Medians of all runs are printed as two Markdown tables.
Standard library only."""

import argparse
import datetime
import os
import re
import select
import shutil
import signal
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# The end-to-end harness: X servers, screenshots, pictures, waiting, and where
# the programs put their buttons.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from e2e import (Failure as BenchmarkError, Program, grab_screen, log, read_image, start_x_server,  # noqa: E402
                 stop_process, wait_until)
from e2e_cases import LAYOUT, USB_IN_PAGE  # noqa: E402

SCREEN_WIDTH = 1024
SCREEN_HEIGHT = 768
TARGETS = ["pravex_controller", "lunari_controller", "pravexctl", "lunarictl", "driversim_preload",
           "controller_reference"]
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")

PROGRAMS = {program: dict(layout, family=Program.FAMILIES[program], title=Program.TITLES[program])
            for program, layout in LAYOUT.items()}
PHASES = ["startup", "tool", "wait", "graph", "calibration"]
# The command-line companion of each program.
TOOL_OF = {"pravex_controller": "pravexctl", "lunari_controller": "lunarictl"}
REFERENCE = "controller_reference"
# The reference with one line of text, started for the start-up figures only.
REFERENCE_LABEL = "controller_reference --label"
REFERENCE_TITLE = "Reference"


# ---------------------------------------------------------------- scenarios

def scenario(family, layout=None):
    """Fixed pictures (no animation), so that the simulator's own work inside
    the process stays negligible; the programs repaint on every answer anyway.
    The calibration never advances, so the calibration screen keeps polling."""
    lines = [f"{family}.animate = 0", f"{family}.calibStep = 0"]
    if family == "pravex":
        samples = [(i * 37) % 151 for i in range(128)]
        lines.append("pravex.samples = " + " ".join(map(str, samples)))
    else:
        x, y = layout or (40, 30)
        lines.append(f"lunari.layoutX = {x}")
        lines.append(f"lunari.layoutY = {y}")
        cells = [(i * 53 + (i // y) * 7) % 90 for i in range(x * y)]
        lines.append("lunari.matrix66 = " + " ".join(map(str, cells)))
        lines.append("lunari.touch = 1000 1200 3000 2500")
    return "\n".join(lines) + "\n"


# ---------------------------------------------------------------- X server

class Display:
    """A private Xvfb server and a raw X11 connection that watches the root
    window's children being mapped and unmapped (SubstructureNotify)."""

    def __init__(self, log_path):
        self.log = open(log_path, "w")
        self.xvfb, self.name = start_x_server(["Xvfb", "-screen", "0", f"{SCREEN_WIDTH}x{SCREEN_HEIGHT}x24"],
                                              self.log)
        self.number = int(self.name[1:])
        self.socket = None
        self.buffer = b""
        self.connect()

    def connect(self):
        self.socket = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.socket.connect(f"/tmp/.X11-unix/X{self.number}")
        # Little-endian client, protocol 11.0, no authorisation.
        self.socket.sendall(struct.pack("<BxHHHHxx", 0x6C, 11, 0, 0, 0))
        head = self.receive(8)
        if head[0] != 1:
            raise BenchmarkError("the X server refused the connection")
        body = self.receive(struct.unpack_from("<H", head, 6)[0] * 4)
        vendor_length = struct.unpack_from("<H", body, 16)[0]
        formats = body[21]
        screen = 32 + (vendor_length + 3) // 4 * 4 + 8 * formats
        self.root = struct.unpack_from("<I", body, screen)[0]
        # ChangeWindowAttributes(root, event-mask = SubstructureNotify).
        self.socket.sendall(struct.pack("<BxHIII", 2, 4, self.root, 0x800, 0x80000))

    def receive(self, size):
        while len(self.buffer) < size:
            chunk = self.socket.recv(65536)
            if not chunk:
                raise BenchmarkError("the X server closed the connection")
            self.buffer += chunk
        data, self.buffer = self.buffer[:size], self.buffer[size:]
        return data

    def next_event(self, deadline):
        """The next (kind, window) of MapNotify/UnmapNotify, or None at the deadline."""
        while True:
            if len(self.buffer) < 32:
                left = deadline - time.monotonic()
                if left <= 0:
                    return None
                ready, _, _ = select.select([self.socket], [], [], left)
                if not ready:
                    return None
                chunk = self.socket.recv(65536)
                if not chunk:
                    raise BenchmarkError("the X server closed the connection")
                self.buffer += chunk
                continue
            event = self.receive(32)
            code = event[0] & 0x7F
            if code == 0:
                raise BenchmarkError(f"X error {event[1]} on the event connection")
            if code == 19 and not event[12]:
                return "map", struct.unpack_from("<I", event, 8)[0]
            if code == 18:
                return "unmap", struct.unpack_from("<I", event, 8)[0]

    def wait_event(self, kind, timeout, what, window=None):
        """Time (monotonic) and window of the next matching event."""
        deadline = time.monotonic() + timeout
        while True:
            event = self.next_event(deadline)
            if event is None:
                raise BenchmarkError(f"timed out after {timeout:g} s waiting for {what}")
            if event[0] == kind and (window is None or event[1] == window):
                return time.monotonic(), event[1]

    def x(self, *args):
        env = dict(os.environ, DISPLAY=self.name)
        result = subprocess.run(list(args), env=env, capture_output=True, text=True, timeout=30)
        if result.returncode != 0:
            raise BenchmarkError(f"{' '.join(args)} failed: {result.stderr.strip()}")
        return result.stdout

    def window_name(self, window):
        return self.x("xdotool", "getwindowname", str(window)).rstrip("\n")

    def geometry(self, window):
        out = self.x("xdotool", "getwindowgeometry", "--shell", str(window))
        values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def click(self, x, y):
        self.x("xdotool", "mousemove", str(x), str(y))
        time.sleep(0.1)
        self.x("xdotool", "click", "1")

    def key(self, window, name):
        self.x("xdotool", "windowfocus", str(window))
        time.sleep(0.1)
        self.x("xdotool", "key", name)

    def screenshot(self):
        return grab_screen(self.name)

    def close(self):
        if self.socket:
            self.socket.close()
        stop_process(self.xvfb)
        self.log.close()


# ---------------------------------------------------------------- process figures

def tasks(pid):
    try:
        return os.listdir(f"/proc/{pid}/task")
    except FileNotFoundError:
        raise BenchmarkError(f"process {pid} has ended")


def cpu_ns(pid):
    """CPU time of all live threads, in nanoseconds."""
    total = 0
    for task in tasks(pid):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as stream:
                total += int(stream.read().split()[0])
        except FileNotFoundError:
            pass
    return total


def cpu_ticks(pid):
    """utime + stime of the whole process (ended threads included), in clock ticks."""
    with open(f"/proc/{pid}/stat") as stream:
        fields = stream.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def status_fields(pid, task=None):
    path = f"/proc/{pid}/status" if task is None else f"/proc/{pid}/task/{task}/status"
    values = {}
    with open(path) as stream:
        for line in stream:
            name, _, value = line.partition(":")
            values[name] = value.split()[0] if value.split() else ""
    return values


class Transcript:
    """Counts the simulator's transcript lines between two byte offsets."""

    def __init__(self, path):
        self.path = path

    def offset(self):
        try:
            return os.path.getsize(self.path)
        except FileNotFoundError:
            return 0

    def count(self, start, end):
        counts = {}
        if end <= start:
            return counts
        with open(self.path, "rb") as stream:
            stream.seek(start)
            data = stream.read(end - start)
        for match in re.finditer(rb" kind=(\w+)", data):
            kind = match.group(1).decode()
            counts[kind] = counts.get(kind, 0) + 1
        return counts


def thread_figures(pid):
    """{thread id: (CPU nanoseconds, voluntary context switches)} of the live threads."""
    figures = {}
    for task in tasks(pid):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as stream:
                cpu = int(stream.read().split()[0])
            switches = int(status_fields(pid, task)["voluntary_ctxt_switches"])
        except FileNotFoundError:
            continue
        figures[task] = (cpu, switches)
    return figures


class Window:
    """One measuring window over a process, its X server and its transcript.

    Threads are sampled twice a second: Qt's pooled threads end 30 s after
    their last task and take their own figures along, so a thread that ends
    inside the window counts with what it had at its last sample."""

    SAMPLE_SECONDS = 0.5

    def __init__(self, pid, xvfb_pid, transcript):
        self.pid = pid
        self.xvfb_pid = xvfb_pid
        self.transcript = transcript

    def measure(self, seconds):
        offset = self.transcript.offset() if self.transcript else 0
        xvfb = cpu_ns(self.xvfb_pid)
        ticks = cpu_ticks(self.pid)
        started = time.monotonic()
        first = thread_figures(self.pid)
        last = dict(first)
        deadline = started + seconds
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                break
            time.sleep(min(self.SAMPLE_SECONDS, left))
            last.update(thread_figures(self.pid))
        wall = time.monotonic() - started
        ticks = (cpu_ticks(self.pid) - ticks) / CLOCK_TICKS
        xvfb = cpu_ns(self.xvfb_pid) - xvfb
        end_offset = self.transcript.offset() if self.transcript else 0

        # Threads born inside the window count from zero.
        cpu = sum(value[0] - first.get(tid, (0, 0))[0] for tid, value in last.items()) / 1e9
        switches = sum(value[1] - first.get(tid, (0, 0))[1] for tid, value in last.items())
        # The whole process's ticks (10 ms) cannot miss a thread; they only round.
        if ticks - cpu > 2.0 / CLOCK_TICKS:
            log(f"  note: {ticks - cpu:.3f} s of CPU time escaped the thread samples")
            cpu = ticks
        counts = self.transcript.count(offset, end_offset) if self.transcript else {}
        transfers = counts.get("read", 0) + counts.get("write", 0)
        return {
            "cpu": 100.0 * cpu / wall,
            "wakeups": switches / wall,
            "exchanges": transfers / wall,
            "rewinds": counts.get("seek", 0) / transfers if transfers else 0.0,
            "opens": counts.get("open", 0) + counts.get("openfailed", 0),
            "xvfb": 100.0 * xvfb / 1e9 / wall,
        }


# ---------------------------------------------------------------- one program

class Instance:
    """One program on its own display, in its own scratch folder."""

    def __init__(self, config, program, label, scenario_text=""):
        self.config = config
        self.program = program
        self.label = label
        self.scratch = tempfile.mkdtemp(prefix=f"bench-{label}-", dir=config["scratch"])
        self.workdir = os.path.join(self.scratch, "work")
        os.makedirs(self.workdir)
        logo = os.path.join(ROOT, "resources", "logo.jpg")
        if os.path.exists(logo):
            shutil.copy(logo, os.path.join(self.workdir, "logo.jpg"))
        # Qt keys the single-instance segment by a file in the temporary folder.
        self.temporary = tempfile.mkdtemp(prefix=f"bench-{label}-", dir=config["shm"])
        self.scenario_path = os.path.join(self.scratch, "scenario")
        with open(self.scenario_path, "w") as stream:
            stream.write(scenario_text)
        self.transcript = Transcript(os.path.join(self.scratch, "transcript"))
        self.display = None
        self.process = None
        self.output = None
        self.main_window = None

    def environment(self):
        env = {name: value for name, value in os.environ.items()
               if not name.startswith(("QT_", "DBUS_", "WAYLAND_", "XDG_SESSION"))}
        env.update({
            "DISPLAY": self.display.name,
            "LC_ALL": "C.UTF-8",
            "LANG": "C.UTF-8",
            "LD_PRELOAD": self.config["preload"],
            "DRIVERSIM_SCENARIO": self.scenario_path,
            "DRIVERSIM_TRANSCRIPT": self.transcript.path,
            "XDG_RUNTIME_DIR": self.scratch,
            "TMPDIR": self.temporary,
        })
        env.pop("DRIVERSIM_CONTROL", None)
        return env

    def start(self):
        """Starts the program; returns the milliseconds from exec to the mapped
        main window and the CPU milliseconds the process had used by then."""
        self.display = Display(os.path.join(self.scratch, "xvfb.log"))
        self.output = open(os.path.join(self.scratch, "output.txt"), "w")
        command = self.config["binaries"][self.program.split()[0]]
        command = [command] + self.program.split()[1:]
        env = self.environment()
        started = time.monotonic()
        self.process = subprocess.Popen(command, cwd=self.workdir, env=env, stdout=self.output,
                                        stderr=subprocess.STDOUT, start_new_session=True)
        mapped, window = self.display.wait_event("map", 20, f"the main window of {self.label}")
        cpu = cpu_ns(self.pid) / 1e6
        self.main_window = window
        title = PROGRAMS[self.program]["title"] if self.program in PROGRAMS else REFERENCE_TITLE
        name = self.display.window_name(window)
        if name != title:
            raise BenchmarkError(f"{self.label}: the first window mapped is {name!r}, not {title!r}")
        return 1000.0 * (mapped - started), cpu

    @property
    def pid(self):
        return self.process.pid

    def memory(self):
        values = status_fields(self.pid)
        return int(values["VmHWM"]), int(values["VmRSS"])

    def window(self):
        return Window(self.pid, self.display.xvfb.pid, self.transcript)

    def page_origin(self):
        """The Settings page's top-left corner on screen, from the USB picture."""
        x, y, _, _ = self.display.geometry(self.main_window)
        screen = self.display.screenshot()
        for name in ("USB_ACTIVE.png", "USB_INACTIVE.png"):
            template = read_image(os.path.join(ROOT, "resources", name))
            found = screen.find(template, x, y, x + 60, y + 100)
            if len(found) == 1:
                return found[0][0] - USB_IN_PAGE[0], found[0][1] - USB_IN_PAGE[1]
        raise BenchmarkError(f"{self.label}: the USB picture is not in the main window")

    def click_button(self, name):
        page = self.page_origin()
        gx, gy, bx, by, bw, bh = PROGRAMS[self.program][name]
        self.display.click(page[0] + gx + bx + bw // 2, page[1] + gy + by + bh // 2)

    def open_graph(self):
        self.click_button("graph")
        _, window = self.display.wait_event("map", 10, f"the graph window of {self.label}")
        name = self.display.window_name(window)
        if name != PROGRAMS[self.program]["graph_title"]:
            raise BenchmarkError(f"{self.label}: the window mapped after the graph button is {name!r}")
        return window

    def close_graph(self, window):
        self.display.key(window, "Escape")
        self.display.wait_event("unmap", 10, f"the graph window of {self.label} to close", window)

    def start_calibration(self):
        self.click_button("calibrate")
        _, window = self.display.wait_event("map", 10, f"the calibration screen of {self.label}")
        _, _, width, height = self.display.geometry(window)
        if width != SCREEN_WIDTH or height < SCREEN_HEIGHT:
            raise BenchmarkError(f"{self.label}: the window mapped after Calibrate is {width}x{height}")
        return window

    def close(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        if self.output:
            self.output.close()
        if self.display:
            self.display.close()
        if not self.config["keep"]:
            shutil.rmtree(self.scratch, ignore_errors=True)
        remove_ipc_objects(self.temporary)
        shutil.rmtree(self.temporary, ignore_errors=True)


def remove_ipc_objects(directory):
    """Removes the System V segment and semaphores that Qt keyed by files in
    directory (ftok with project 'Q'): a killed program leaves them behind."""
    keys = set()
    for name in os.listdir(directory):
        if name.startswith("qipc_"):
            status = os.stat(os.path.join(directory, name))
            keys.add(0x51 << 24 | (status.st_dev & 0xFF) << 16 | (status.st_ino & 0xFFFF))
    for option, listing in (("-M", "-m"), ("-S", "-s")):
        out = subprocess.run(["ipcs", listing], capture_output=True, text=True).stdout
        for line in out.splitlines():
            fields = line.split()
            if fields and fields[0].startswith("0x") and int(fields[0], 16) in keys:
                subprocess.run(["ipcrm", option, fields[0]], capture_output=True)


# ---------------------------------------------------------------- the phases

class Results:
    def __init__(self):
        self.values = {}

    def add(self, subject, figure, value):
        self.values.setdefault(subject, {}).setdefault(figure, []).append(value)

    def median(self, subject, figure):
        values = self.values.get(subject, {}).get(figure)
        return statistics.median(values) if values else None

    def all(self, subject, figure):
        return self.values.get(subject, {}).get(figure, [])


def run_phase(results, subject, prefix, instance, seconds, settle):
    time.sleep(settle)
    figures = instance.window().measure(seconds)
    for name, value in figures.items():
        results.add(subject, f"{prefix}.{name}", value)
    log(f"  {subject} {prefix}: CPU {figures['cpu']:.3f} % of one core, "
        f"{figures['wakeups']:.2f} wake-ups/s, {figures['exchanges']:.2f} exchanges/s, "
        f"X server {figures['xvfb']:.3f} %")


def bench_startup(config, results, subject):
    """One start: time and CPU to the mapped main window, then peak memory."""
    family = PROGRAMS.get(subject, {}).get("family")
    label = subject.split()[0] + "-start"
    instance = Instance(config, subject, label, scenario(family) if family else "")
    try:
        startup, cpu = instance.start()
        time.sleep(config["settle"])
        peak, resident = instance.memory()
    finally:
        instance.close()
    results.add(subject, "startup", startup)
    results.add(subject, "startup.cpu", cpu)
    results.add(subject, "hwm", peak / 1024.0)
    results.add(subject, "rss", resident / 1024.0)
    log(f"  {subject}: mapped after {startup:.0f} ms ({cpu:.1f} ms CPU), "
        f"VmHWM {peak / 1024:.2f} MiB, VmRSS {resident / 1024:.2f} MiB")


# The command-line forms timed, each with its figures' prefix.
TOOL_FORMS = [("tool", ["status"]), ("tool.prom", ["status", "--format=prometheus"])]


def bench_tool(config, results, program):
    """One "status" and one "status --format=prometheus" of the program's
    command-line companion, with the same simulated controller: wall time
    from exec to exit, and peak memory."""
    family = PROGRAMS[program]["family"]
    path = os.path.join(config["scratch"], family + "-tool-scenario")
    with open(path, "w") as stream:
        stream.write(scenario(family))
    env = dict(os.environ, LD_PRELOAD=config["preload"], DRIVERSIM_SCENARIO=path)
    for prefix, arguments in TOOL_FORMS:
        # GNU time reports the peak of the program alone: a process forked from
        # this script would carry the interpreter's peak into its own.
        peak_file = os.path.join(config["scratch"], "tool-peak")
        command = ["/usr/bin/time", "-f", "%M", "-o", peak_file, config["binaries"][TOOL_OF[program]]] + arguments
        started = time.perf_counter()
        result = subprocess.run(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wall = (time.perf_counter() - started) * 1000
        if result.returncode != 0:
            raise BenchmarkError(f"{TOOL_OF[program]} {' '.join(arguments)} ended with {result.returncode}")
        with open(peak_file) as stream:
            peak = int(stream.read().split()[-1]) / 1024.0
        results.add(program, prefix + ".wall", wall)
        results.add(program, prefix + ".hwm", peak)
        log(f"  {TOOL_OF[program]} {' '.join(arguments)}: {wall:.1f} ms, peak {peak:.2f} MiB")


def bench_reference(config, results):
    if "wait" not in config["phases"]:
        return
    instance = Instance(config, REFERENCE, "reference")
    try:
        instance.start()
        run_phase(results, REFERENCE, "wait", instance, config["wait"], config["settle"])
    finally:
        instance.close()


def bench_program(config, results, program):
    phases = config["phases"]
    family = PROGRAMS[program]["family"]
    if phases & {"wait", "graph", "calibration"}:
        instance = Instance(config, program, program, scenario(family))
        try:
            instance.start()
            if "wait" in phases:
                run_phase(results, program, "wait", instance, config["wait"], config["settle"])
            if "graph" in phases:
                graph = instance.open_graph()
                run_phase(results, program, "graph", instance, config["graph"], config["settle"])
                instance.close_graph(graph)
            if "calibration" in phases:
                instance.start_calibration()
                run_phase(results, program, "calibration", instance, config["calibration"], config["settle"])
        finally:
            instance.close()

    if family == "lunari" and "graph" in phases:
        instance = Instance(config, program, program + "-255", scenario(family, (255, 255)))
        try:
            instance.start()
            instance.open_graph()
            run_phase(results, program, "graph255", instance, config["graph"], config["settle"])
        finally:
            instance.close()


def warm_up(config):
    """One unmeasured start of each program fills the page and font caches."""
    for program in [REFERENCE, REFERENCE_LABEL] + config["programs"]:
        family = PROGRAMS.get(program, {}).get("family")
        instance = Instance(config, program, program.split()[0] + "-warmup", scenario(family) if family else "")
        try:
            instance.start()
            time.sleep(config["settle"])
        finally:
            instance.close()


# ---------------------------------------------------------------- report

def fmt(value, digits):
    return "n/a" if value is None else f"{value:.{digits}f}"


def ratio_text(value, reference, labelled):
    """The value's ratios to the empty reference and to the one with a text label."""
    if value is None or not reference:
        return ""
    text = f" ({value / reference:.2f} ×"
    if labelled:
        text += f" / {value / labelled:.2f} ×"
    return text + ")"


def report(config, results):
    programs = config["programs"]
    reference = {figure: results.median(REFERENCE, figure) for figure in
                 ("startup", "startup.cpu", "hwm", "rss", "wait.cpu", "wait.wakeups", "wait.exchanges", "wait.xvfb")}
    wait_limit = max(1.5 * reference["wait.cpu"], 0.1) if reference["wait.cpu"] is not None else 0.1
    seconds = 1.0 + 1.0 / config["wait"]

    def limit_at_most(limit):
        return lambda value: value is not None and value <= limit

    def limit_below(limit):
        return lambda value: value is not None and value < limit

    rows = [
        # (label, figure, digits, target text, check, per-program applicability)
        ("start-up to mapped main window (ms)", "startup", 0,
         f"≤ 1.3 × reference = {fmt(reference['startup'] and 1.3 * reference['startup'], 0)}",
         limit_at_most(1.3 * reference["startup"]) if reference["startup"] else None, None),
        ("start-up: CPU time used by then (ms)", "startup.cpu", 1, "", None, None),
        ("peak resident memory VmHWM (MiB)", "hwm", 1,
         f"≤ 1.3 × reference = {fmt(reference['hwm'] and 1.3 * reference['hwm'], 1)}",
         limit_at_most(1.3 * reference["hwm"]) if reference["hwm"] else None, None),
        ("main window waiting: CPU (% of one core)", "wait.cpu", 3,
         f"≤ {wait_limit:.3f} (1.5 × reference, at least 0.1)", limit_at_most(wait_limit), None),
        ("main window waiting: wake-ups per second", "wait.wakeups", 2, "", None, None),
        ("main window waiting: driver exchanges per second", "wait.exchanges", 2, "≤ 1",
         limit_at_most(seconds), None),
        ("graph window: CPU (% of one core)", "graph.cpu", 3, "< 1.5", limit_below(1.5), None),
        ("graph window: driver exchanges per second", "graph.exchanges", 2, "", None, None),
        ("graph window 255 × 255: CPU (% of one core)", "graph255.cpu", 3, "< 4", limit_below(4.0),
         "lunari_controller"),
        ("graph window 255 × 255: driver exchanges per second", "graph255.exchanges", 2, "", None,
         "lunari_controller"),
        ("calibration screen: CPU (% of one core)", "calibration.cpu", 3, "", None, None),
        ("calibration screen: driver exchanges per second", "calibration.exchanges", 2, "", None, None),
        ("X server while the graph is open (% of one core)", "graph.xvfb", 3, "", None, None),
        ("X server, graph 255 × 255 (% of one core)", "graph255.xvfb", 3, "", None, "lunari_controller"),
        ("X server while calibrating (% of one core)", "calibration.xvfb", 3, "", None, None),
    ]
    header = ["figure (median)"] + programs + ["target"]
    table = []
    missed = []
    for label, figure, digits, target, check, only in rows:
        cells = [label]
        for program in programs:
            if only and program != only:
                cells.append("–")
                continue
            value = results.median(program, figure)
            text = fmt(value, digits)
            if figure in ("startup", "startup.cpu", "hwm"):
                text += ratio_text(value, reference[figure], results.median(REFERENCE_LABEL, figure))
            if check and value is not None and not check(value):
                text += " MISSED"
                missed.append(f"{program}: {label}")
            cells.append(text)
        cells.append(target)
        table.append(cells)
    # The command-line programs against their window programs, measured in the same run.
    for label, figure, window_figure, share, target in (
            ("command line `status`: wall time (ms)", "tool.wall", "startup", 4,
             "≤ ¼ of the window program's start-up"),
            ("command line `status`: peak resident memory (MiB)", "tool.hwm", "hwm", 3,
             "≤ ⅓ of the window program's"),
            ("command line `status --format=prometheus`: wall time (ms)", "tool.prom.wall", "startup", 4,
             "≤ ¼ of the window program's start-up"),
            ("command line `status --format=prometheus`: peak resident memory (MiB)", "tool.prom.hwm", "hwm", 3,
             "≤ ⅓ of the window program's")):
        cells = [label]
        for program in programs:
            value = results.median(program, figure)
            window = results.median(program, window_figure)
            text = fmt(value, 1)
            if value is not None and window:
                text += f" ({value / window:.2f} ×)"
                if value > window / share:
                    text += " MISSED"
                    missed.append(f"{program}: {label}")
            cells.append(text)
        table.append(cells + [target])
    lines = [markdown(header, table)]
    lines.append("")
    lines.append("Ratios in brackets: to the empty reference dialog / to the reference with one text label; "
                 "for the command line, to the window program.")

    def both(figure, digits):
        return [fmt(results.median(REFERENCE, figure), digits), fmt(results.median(REFERENCE_LABEL, figure), digits)]
    ref_rows = [
        ["start-up to mapped dialog (ms)"] + both("startup", 0),
        ["start-up: CPU time used by then (ms)"] + both("startup.cpu", 1),
        ["peak resident memory VmHWM (MiB)"] + both("hwm", 1),
        ["waiting: CPU (% of one core)", fmt(reference["wait.cpu"], 3), "–"],
        ["waiting: wake-ups per second", fmt(reference["wait.wakeups"], 2), "–"],
        ["waiting: driver exchanges per second", fmt(reference["wait.exchanges"], 2), "–"],
    ]
    lines.append("")
    lines.append(markdown(["plain Qt reference (median)", "empty dialog", "with one text label"], ref_rows))

    rewinds = {results.median(p, f"{phase}.rewinds") for p in programs
               for phase in ("wait", "graph", "graph255", "calibration")} - {None, 0.0}
    opens = sum(sum(results.all(p, f"{phase}.opens")) for p in programs
                for phase in ("wait", "graph", "graph255", "calibration"))
    lines.append("")
    lines.append(f"Rewinds per transfer: {', '.join(f'{r:.2f}' for r in sorted(rewinds)) or 'n/a'}; "
                 f"opens of the driver file inside the measuring windows: {opens}.")
    lines.append(f"Measured on {datetime.date.today().isoformat()}, Qt {config['qt_version']}, "
                 f"{config['build_type']} build, {os.cpu_count()} cores; {config['runs']} runs of "
                 f"{config['starts']} starts each, waiting {config['wait']:g} s, graph "
                 f"{config['graph']:g} s and calibration {config['calibration']:g} s per run.")
    if config["verbose"]:
        lines.append("")
        for subject in [REFERENCE, REFERENCE_LABEL] + programs:
            for figure, values in sorted(results.values.get(subject, {}).items()):
                lines.append(f"{subject} {figure}: " + ", ".join(f"{v:.3f}" for v in values))
    return "\n".join(lines), missed


def markdown(header, rows):
    widths = [max(len(str(row[i])) for row in [header] + rows) for i in range(len(header))]

    def line(cells):
        return "| " + " | ".join(str(c).ljust(w) for c, w in zip(cells, widths)) + " |"
    separator = "|" + "|".join("-" * (w + 2) for w in widths) + "|"
    return "\n".join([line(header), separator] + [line(row) for row in rows])


# ---------------------------------------------------------------- build directory

def prepare_build(directory):
    """Configures and builds a missing build directory; checks an existing one."""
    cache = os.path.join(directory, "CMakeCache.txt")
    if not os.path.exists(cache):
        log(f"configuring {directory} (Release, with the reference program)")
        subprocess.run(["cmake", "-S", ROOT, "-B", directory, "-DCMAKE_BUILD_TYPE=Release",
                        "-DCONTROLLER_BUILD_BENCHMARKS=ON"], check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", directory, "-j2", "--target"] + TARGETS, check=True)
    values = {}
    with open(cache) as stream:
        for line in stream:
            match = re.match(r"([A-Za-z_0-9]+):[A-Z]+=(.*)", line.strip())
            if match:
                values[match.group(1)] = match.group(2)
    binaries = {
        "pravex_controller": os.path.join(directory, "pravex_controller"),
        "lunari_controller": os.path.join(directory, "lunari_controller"),
        "pravexctl": os.path.join(directory, "pravexctl"),
        "lunarictl": os.path.join(directory, "lunarictl"),
        REFERENCE: os.path.join(directory, "scripts", "bench", REFERENCE),
    }
    preload = os.path.join(directory, "driversim", "libdriversim.so")
    for path in list(binaries.values()) + [preload]:
        if not os.path.exists(path):
            raise BenchmarkError(
                f"{path} is missing: configure {directory} with -DCONTROLLER_BUILD_BENCHMARKS=ON "
                f"and build the targets {' '.join(TARGETS)}")
    if values.get("CMAKE_BUILD_TYPE") != "Release":
        log(f"note: {directory} is a {values.get('CMAKE_BUILD_TYPE') or 'default'} build, not Release")
    return binaries, preload, values


def qt_version(binary):
    """The Qt version the binary loads, from the library file it resolves."""
    out = subprocess.run(["ldd", binary], capture_output=True, text=True).stdout
    match = re.search(r"libQt(\d)Core\.so\.\S+ => (\S+)", out)
    if not match:
        return "unknown"
    real = os.path.realpath(match.group(2))
    version = re.search(r"\.so\.(\d+\.\d+\.\d+)", real)
    return version.group(1) if version else f"{match.group(1)}.x"


# ---------------------------------------------------------------- main

def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build", nargs="?", default=os.path.join(ROOT, "build-bench"),
                        help="build directory (default: build-bench/ in the source tree)")
    parser.add_argument("--runs", type=int, default=3, help="runs per figure; medians are reported")
    parser.add_argument("--wait", type=float, default=60, help="seconds the main window waits")
    parser.add_argument("--graph", type=float, default=30, help="seconds the graph window is measured")
    parser.add_argument("--calibration", type=float, default=30, help="seconds the calibration is measured")
    parser.add_argument("--short", action="store_true", help="10 s for every measuring window")
    parser.add_argument("--starts", type=int, default=5, help="starts per run for the start-up figures")
    parser.add_argument("--phases", nargs="+", choices=PHASES, default=PHASES, help="what to measure")
    parser.add_argument("--settle", type=float, default=1.5, help="seconds between a step and its measurement")
    parser.add_argument("--programs", nargs="+", choices=sorted(PROGRAMS), default=sorted(PROGRAMS, reverse=True))
    parser.add_argument("--no-warmup", action="store_true", help="skip the unmeasured first starts")
    parser.add_argument("--keep", action="store_true", help="keep scratch folders, transcripts and logs")
    parser.add_argument("--verbose", action="store_true", help="list every run's values after the tables")
    args = parser.parse_args()
    if args.short:
        args.wait = args.graph = args.calibration = 10
    for tool in ("Xvfb", "xdotool", "xwd", "convert", "identify", "/usr/bin/time"):
        if not shutil.which(tool):
            raise SystemExit(f"{tool} is missing (scripts/install-deps.sh installs it)")

    build = os.path.abspath(args.build)
    binaries, preload, cache = prepare_build(build)
    scratch = tempfile.mkdtemp(prefix="benchmark-")
    shm = "/dev/shm" if os.access("/dev/shm", os.W_OK) else scratch
    config = {
        "binaries": binaries, "preload": preload, "scratch": scratch, "shm": shm,
        "runs": args.runs, "starts": args.starts, "wait": args.wait, "graph": args.graph, "calibration": args.calibration,
        "settle": args.settle, "programs": args.programs, "phases": set(args.phases), "keep": args.keep, "verbose": args.verbose,
        "qt_version": qt_version(binaries["pravex_controller"]),
        "build_type": cache.get("CMAKE_BUILD_TYPE") or "default",
    }
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    log(f"build {build}, Qt {config['qt_version']}, scratch {scratch}")
    results = Results()
    try:
        if not args.no_warmup:
            warm_up(config)
        for run in range(1, args.runs + 1):
            log(f"run {run} of {args.runs}")
            # Interleaved, so a busy moment on the machine touches every subject alike.
            if "startup" in config["phases"]:
                for _ in range(args.starts):
                    for subject in [REFERENCE, REFERENCE_LABEL] + args.programs:
                        bench_startup(config, results, subject)
            if "tool" in config["phases"]:
                for _ in range(args.starts):
                    for program in args.programs:
                        bench_tool(config, results, program)
            bench_reference(config, results)
            for program in args.programs:
                bench_program(config, results, program)
    except BenchmarkError as error:
        log(f"benchmark failed: {error}")
        return 1
    finally:
        if not args.keep:
            shutil.rmtree(scratch, ignore_errors=True)
    text, missed = report(config, results)
    print(text)
    if missed:
        print("\nMissed: " + "; ".join(missed))
    return 0


if __name__ == "__main__":
    sys.exit(main())
