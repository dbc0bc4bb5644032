#!/usr/bin/env python3
"""The platform the launcher asks Qt for, row by row: the generated launcher
in a package tree of its own, with a program that only tells which platform
it was given and Qt platform plugin folders made for each row.
Usage: test_launcher.py <generated launcher>"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

WAYLAND = {"WAYLAND_DISPLAY": "wayland-1"}
X11 = {"DISPLAY": ":9"}
# name, session, where a Wayland plugin lies (Qt's folder, QT_PLUGIN_PATH or none), platform asked for,
# and the Qt major version the launcher was made for (6 unless given)
ROWS = [
    ("X11 session", X11, "qt", None),
    ("Wayland with the plugin, XWayland next", {**WAYLAND, **X11}, "qt", "wayland;xcb"),
    ("Wayland with the plugin, no XWayland", WAYLAND, "qt", "wayland"),
    ("Wayland without the plugin", {**WAYLAND, **X11}, None, "xcb"),
    ("session type wayland without the plugin", {"XDG_SESSION_TYPE": "wayland", **X11}, None, "xcb"),
    ("plugin in QT_PLUGIN_PATH", WAYLAND, "plugin path", "wayland"),
    ("the user's platform", {**WAYLAND, **X11, "QT_QPA_PLATFORM": "offscreen"}, "qt", "offscreen"),
    ("neither plugin nor X display", WAYLAND, None, None),
    ("Qt 5, Wayland with the plugin, XWayland next", {**WAYLAND, **X11}, "qt", "xcb", 5),
    ("Qt 5, Wayland with the plugin, no XWayland", WAYLAND, "qt", "wayland", 5),
]


def main():
    launcher = sys.argv[1]
    program = os.path.basename(launcher)
    failures = 0
    with tempfile.TemporaryDirectory(prefix="launcher-") as scratch:
        root = os.path.join(scratch, "root")
        os.makedirs(os.path.join(root, "bin"))
        os.makedirs(os.path.join(root, "lib", program))
        qt = os.path.join(scratch, "qt")
        extra = os.path.join(scratch, "extra")
        text = open(launcher).read()
        text, count = re.subn(r"^qt_platforms=.*$", f"qt_platforms='{qt}'", text, flags=re.M)
        assert count == 1, "the launcher names no Qt platform plugin folder"
        assert re.search(r"^qt_major=", text, flags=re.M), "the launcher names no Qt major version"
        for path, content in ((os.path.join(root, "bin", program), text),
                              (os.path.join(root, "lib", program, program),
                               '#!/bin/sh\nprintf "%s" "${QT_QPA_PLATFORM-unset}"\n')):
            with open(path, "w") as stream:
                stream.write(content)
            os.chmod(path, 0o755)
        for name, session, plugin, platform, *major in ROWS:
            with open(os.path.join(root, "bin", program), "w") as stream:
                stream.write(re.sub(r"^qt_major=.*$", f"qt_major='{(major or [6])[0]}'", text, flags=re.M))
            for folder in (qt, extra):
                shutil.rmtree(folder, ignore_errors=True)
                os.makedirs(os.path.join(folder, "platforms") if folder == extra else folder)
            if plugin:
                where = qt if plugin == "qt" else os.path.join(extra, "platforms")
                open(os.path.join(where, "libqwayland-generic.so"), "w").close()
            env = {"PATH": "/usr/bin:/bin", "HOME": os.path.join(scratch, "home"), **session}
            if plugin == "plugin path":
                env["QT_PLUGIN_PATH"] = "/nonexistent:" + extra
            result = subprocess.run([os.path.join(root, "bin", program)], env=env, capture_output=True, text=True)
            asked = None if result.stdout == "unset" else result.stdout
            complained = "no X display" in result.stderr
            if result.returncode != 0 or asked != platform or complained != (name == "neither plugin nor X display"):
                print(f"FAIL {name}: status {result.returncode}, QT_QPA_PLATFORM {asked!r} (expected {platform!r}), "
                      f"standard error {result.stderr!r}")
                failures += 1
            else:
                print(f"PASS {name}: {asked!r}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
