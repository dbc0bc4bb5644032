"""The tests' side of the probe preloaded into a program (probe/ProbeServer.cpp):
one JSON object per line each way over a Unix socket. Positions are the
window's logical pixels, fractions allowed. Also reads what the compositor
told the program, from its WAYLAND_DEBUG=1 output. Standard library only."""

import json
import os
import re
import socket
import time

from e2e import Failure, parse_ppm, wait_until


class Probe:
    """A connection to the probe in one program."""

    def __init__(self, path, program, timeout=10):
        self.path = path

        def connect():
            if not program.running():
                raise Failure(f"{program.label} ended before its probe listened")
            if not os.path.exists(path):
                return None
            connection = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            try:
                connection.connect(path)
            except OSError:
                connection.close()
                return None
            return connection
        self.socket = wait_until(connect, timeout, f"the probe in {program.label}")
        self.socket.settimeout(10)
        self.stream = self.socket.makefile("rwb")

    def request(self, command, **fields):
        try:
            self.stream.write(json.dumps(dict(fields, command=command)).encode() + b"\n")
            self.stream.flush()
            line = self.stream.readline()
        except OSError as error:
            raise Failure(f"the probe's connection broke on {command} ({error}): did the program end?") from None
        if not line:
            raise Failure(f"the probe closed its connection on {command}")
        reply = json.loads(line)
        if not reply.get("ok"):
            raise Failure(f"the probe refused {command} {fields}: {reply.get('error')}")
        return reply

    def windows(self):
        """Top-level windows: id, class, title, visible, fullscreen, exposed, modal
        (the application's modal window), x, y, width, height (logical), dpr,
        screen, screen_geometry, transient_parent (an id), and children: every
        button, label and box with class, text, visible and geometry in the window."""
        return self.request("windows")["windows"]

    def window(self, class_name=None, title=None, visible=True):
        for window in self.windows():
            if ((class_name is None or window["class"] == class_name) and (title is None or window["title"] == title)
                    and (visible is None or window["visible"] == visible)):
                return window
        return None

    def grab(self, window, path, scale=None):
        """The window's picture, in its buffer's pixels or `scale` per logical pixel."""
        fields = {"window": window["id"], "path": path}
        if scale is not None:
            fields["scale"] = scale
        self.request("grab", **fields)
        with open(path, "rb") as stream:
            return parse_ppm(stream.read())

    def press(self, window, x, y):
        self.request("mouse", window=window["id"], action="press", x=x, y=y)

    def move(self, window, x, y):
        self.request("mouse", window=window["id"], action="move", x=x, y=y)

    def release(self, window, x, y):
        self.request("mouse", window=window["id"], action="release", x=x, y=y)

    def drag(self, window, start, end, steps=2):
        """Presses at start, moves to end in steps and releases there, at a hand's pace."""
        self.press(window, *start)
        for step in range(1, steps + 1):
            time.sleep(0.05)
            self.move(window, start[0] + (end[0] - start[0]) * step / steps,
                      start[1] + (end[1] - start[1]) * step / steps)
        time.sleep(0.05)
        self.release(window, *end)

    def click(self, text):
        """Clicks the visible, enabled button of that text."""
        return self.request("click", text=text)

    def choose(self, window, index):
        """Picks the entry of the window's drop-down box."""
        self.request("choose", window=window["id"], index=index)

    def close(self, window):
        """The close request a compositor sends when the window's close button is pressed."""
        self.request("close", window=window["id"])

    def disconnect(self):
        try:
            self.stream.close()
        except OSError:
            pass  # a program that died left unsent requests behind
        self.socket.close()


# ---------------------------------------------------------------- WAYLAND_DEBUG

EVENT = re.compile(r"^\[\s*[0-9.]+\]\s+(?!->)(\w+)@(\d+)\.(\w+)\((.*)\)\s*$")


def compositor_said(path):
    """What the compositor told the program, from its WAYLAND_DEBUG=1 output:
    outputs as {object id: {"mode": (w, h), "scale": s, "logical_size": (w, h)}}
    (the current mode; logical_size of the xdg_output that names that wl_output),
    and every toplevel the program made, oldest first, with the sizes it was
    configured to: [(object id, [(w, h), ...])]."""
    outputs, toplevels, xdg_outputs = {}, [], {}
    pending = {}
    with open(path, errors="replace") as stream:
        for line in stream:
            # Requests: which wl_output an xdg_output describes.
            request = re.search(r"-> zxdg_output_manager_v1@\d+\.get_xdg_output\(new id zxdg_output_v1@(\d+), "
                                r"wl_output@(\d+)\)", line)
            if request:
                xdg_outputs[request.group(1)] = request.group(2)
                continue
            created = re.search(r"-> xdg_surface@\d+\.get_toplevel\(new id xdg_toplevel@(\d+)\)", line)
            if created:
                toplevels.append((created.group(1), []))
                continue
            match = EVENT.match(line)
            if not match:
                continue
            interface, number, event, arguments = match.groups()
            values = [a.strip() for a in arguments.split(",")]
            if interface == "wl_output" and event == "mode" and int(values[0]) & 1:
                outputs.setdefault(number, {})["mode"] = (int(values[1]), int(values[2]))
            elif interface == "wl_output" and event == "scale":
                outputs.setdefault(number, {})["scale"] = int(values[0])
            elif interface == "zxdg_output_v1" and event == "logical_size":
                pending[number] = (int(values[0]), int(values[1]))
            elif interface == "xdg_toplevel" and event == "configure":
                sizes = [t[1] for t in toplevels if t[0] == number]
                if sizes:
                    sizes[-1].append((int(values[0]), int(values[1])))
    for xdg, size in pending.items():
        if xdg in xdg_outputs:
            outputs.setdefault(xdg_outputs[xdg], {})["logical_size"] = size
    return outputs, toplevels
