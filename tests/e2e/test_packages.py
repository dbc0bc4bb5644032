#!/usr/bin/env python3
"""Builds the Debian packages with CPack, unpacks them with dpkg-deb into a
scratch folder, checks their control fields and file lists, and runs the
unpacked launchers on Xvfb with the simulated controller preloaded.
Usage: test_packages.py packages"""

import filecmp
import os
import re
import shutil
import subprocess
import sys

# Nothing is written into the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from e2e import Program, check, log, run, wait_until  # noqa: E402

ICON_SIZES = (16, 32, 48, 64, 128, 256)
LANGUAGES = ("de", "zh_CN")
# The Debian packages of the Qt libraries the programs link, per Qt version.
QT_RUNTIME = {"6": ("libqt6core6", "libqt6gui6", "libqt6widgets6"),
              "5": ("libqt5core5a", "libqt5gui5", "libqt5widgets5")}
# Qt's Wayland platform plugin, for a native window on a Wayland session.
QT_WAYLAND = {"6": "qt6-wayland", "5": "qtwayland5"}


def tool_of(program):
    return program.split("_")[0] + "ctl"


def expected_files(program, with_logo):
    tool = tool_of(program)
    files = {
        f"./usr/bin/{program}",
        f"./usr/bin/{tool}",
        f"./usr/lib/{program}/{program}",
        f"./usr/share/applications/{program}.desktop",
        f"./usr/share/icons/hicolor/scalable/apps/{program}.svg",
        f"./usr/share/man/man1/{program}.1.gz",
        f"./usr/share/man/man1/{tool}.1.gz",
        f"./usr/share/doc/{program.replace('_', '-')}/changelog.gz",
        f"./usr/share/doc/{program.replace('_', '-')}/examples/{tool}-alerts.yml",
        f"./usr/lib/systemd/system/{tool}-metrics.service",
        f"./usr/lib/systemd/system/{tool}-metrics.timer",
    }
    files |= {f"./usr/share/icons/hicolor/{n}x{n}/apps/{program}.png" for n in ICON_SIZES}
    files |= {f"./usr/share/{program}/translations/Controller_{lang}.qm" for lang in LANGUAGES}
    if with_logo:
        files.add(f"./usr/share/{program}/logo.jpg")
    return files


def build_packages(session):
    config = session.config
    check(config["cpack"] and config["cpack_config"], "E2E_CPACK and E2E_CPACK_CONFIG are not set")
    output = os.path.join(session.shots, "cpack")
    shutil.rmtree(output, ignore_errors=True)
    log("cpack -G DEB")
    result = subprocess.run([config["cpack"], "-G", "DEB", "--config", config["cpack_config"], "-B", output,
                             "-D", f"CPACK_OUTPUT_FILE_PREFIX={output}/debs"],
                            capture_output=True, text=True, timeout=600)
    with open(os.path.join(session.shots, "cpack.log"), "w") as stream:
        stream.write(result.stdout + result.stderr)
    check(result.returncode == 0, f"cpack failed:\n{result.stdout}{result.stderr}")
    packages = {}
    for folder, _, names in os.walk(output):
        if "_CPack_Packages" in folder:
            continue
        for name in names:
            if name.endswith(".deb"):
                packages[name.split("_")[0]] = os.path.join(folder, name)
    check(sorted(packages) == ["lunari-controller", "pravex-controller"],
          f"cpack made the packages {sorted(packages)}")
    return packages


def check_package(session, package, program, with_logo):
    fields = subprocess.run(["dpkg-deb", "-f", package], capture_output=True, text=True, check=True).stdout
    control = dict(re.findall(r"^(\S+): (.*)$", fields, re.M))
    log(f"{os.path.basename(package)}: Depends: {control.get('Depends')}")
    check(control.get("Package") == program.replace("_", "-"), f"package name {control.get('Package')}")
    depends = [d.split()[0] for d in control.get("Depends", "").split(", ")]
    qt = session.config["qt_major"]
    check(qt in QT_RUNTIME, f"E2E_QT_MAJOR is {qt!r}")
    for dependency in QT_RUNTIME[qt] + ("libc6", "libstdc++6"):
        check(dependency in depends, f"{program}: Depends lacks {dependency}: {control.get('Depends')}")
    # Public Qt API only: any Qt release of the same major version will do.
    check(not any("abi" in d for d in depends), f"{program} is tied to one Qt release: {control.get('Depends')}")
    for library in ("libxcb1", "libwayland-client0"):
        check(library in depends, f"{program}: Depends lacks {library}: {control.get('Depends')}")
    other = "5" if qt == "6" else "6"
    check(control.get("Recommends") == QT_WAYLAND[qt], f"{program}: Recommends {control.get('Recommends')}")
    check(not any(d.startswith(f"libqt{other}") for d in depends), f"{program} depends on Qt {other}")

    listing = subprocess.run(["dpkg-deb", "-c", package], capture_output=True, text=True, check=True).stdout
    entries = [line.split()[-1] for line in listing.splitlines()]
    files = {e for e in entries if not e.endswith("/")}
    # The AppStream file is named after the homepage, and the copyright file
    # comes only with a licence: both are publishing settings.
    metainfo = {f for f in files if re.fullmatch(rf"\./usr/share/metainfo/[a-z0-9_.]+\.{program}\.metainfo\.xml", f)}
    check(len(metainfo) == 1, f"{program}: AppStream files {sorted(metainfo)}")
    files -= metainfo | {f"./usr/share/doc/{program.replace('_', '-')}/copyright"}
    want = expected_files(program, with_logo)
    check(files == want, f"{program}: unexpected files {sorted(files - want)}, missing {sorted(want - files)}")
    modes = {line.split()[-1]: line.split()[0] for line in listing.splitlines()}
    for executable in (f"./usr/bin/{program}", f"./usr/bin/{tool_of(program)}", f"./usr/lib/{program}/{program}"):
        check(modes[executable] == "-rwxr-xr-x", f"{executable} has mode {modes[executable]}")

    root = os.path.join(session.scratch, "root-" + program)
    subprocess.run(["dpkg-deb", "-x", package, root], check=True)
    desktop = open(os.path.join(root, f"usr/share/applications/{program}.desktop"), encoding="utf-8").read()
    check(f"\nExec={program}\n" in desktop and f"\nIcon={program}\n" in desktop,
          f"{program}.desktop does not start and show {program}")
    if shutil.which("desktop-file-validate"):
        result = subprocess.run(["desktop-file-validate", os.path.join(root, f"usr/share/applications/{program}.desktop")],
                                capture_output=True, text=True)
        check(result.returncode == 0, f"{program}.desktop: {result.stdout}{result.stderr}")
    for lang in LANGUAGES:
        built = os.path.join(session.config["translations"], f"Controller_{lang}.qm")
        packed = os.path.join(root, f"usr/share/{program}/translations/Controller_{lang}.qm")
        check(filecmp.cmp(built, packed, shallow=False), f"{program}: Controller_{lang}.qm differs from the build's")
    # The command-line program runs from the package and needs no display.
    tool = os.path.join(root, "usr/bin", tool_of(program))
    result = subprocess.run([tool, "--version"], capture_output=True, text=True, env={"PATH": "/usr/bin:/bin"})
    check(result.returncode == 0 and result.stdout.startswith(tool_of(program) + " "),
          f"{tool} --version: {result.returncode} {result.stdout}{result.stderr}")
    return root


def launcher(session, root, program, label, home, env, title=None, scenario=""):
    run_env = {"HOME": home, "XDG_STATE_HOME": None, "LC_ALL": None, "LC_MESSAGES": None, "LANG": None}
    run_env.update(env)
    copy = Program(session, program, scenario=scenario, label=label, title=title,
                   executable=os.path.join(root, "usr/bin", program), workdir=os.path.join(session.scratch, label))
    copy.start(extra_env=run_env)
    return copy


def check_language_choice(session, root, program, home):
    """While a copy runs, further starts end at once: enough to see which
    catalogue the launcher placed for each language setting."""
    state = os.path.join(home, ".local/state", program)
    data = os.path.join(root, "usr/share", program, "translations")
    rows = [
        ({"LANG": "de_DE.UTF-8"}, "de"),
        ({"LC_ALL": "zh_CN.UTF-8", "LANG": "de_DE.UTF-8"}, "zh_CN"),
        ({"LC_MESSAGES": "de_AT.UTF-8", "LANG": "zh_CN.UTF-8"}, "de"),
        ({"LANG": "de_CH.UTF-8@euro"}, "de"),
        ({"LANG": "zh_CN.GB18030"}, "zh_CN"),
        ({"LANG": "zh_TW.UTF-8"}, None),
        ({"LANG": "fr_FR.UTF-8"}, None),
        ({"LANG": "en_GB.UTF-8"}, None),
        ({"LC_ALL": "C", "LANG": "de_DE.UTF-8"}, None),
        ({"LC_ALL": "", "LC_MESSAGES": "", "LANG": "de_DE.UTF-8"}, "de"),
        ({}, None),
    ]
    for number, (env, expected) in enumerate(rows):
        # A stale catalogue from an earlier start must go as well.
        shutil.copy(os.path.join(data, "Controller_de.qm"), os.path.join(state, "Controller.qm"))
        copy = launcher(session, root, program, f"{program}-language-{number}", home, env)
        status = copy.wait_exit(15)
        check(status == 0, f"launcher with {env} ended with status {status}")
        placed = os.path.join(state, "Controller.qm")
        if expected is None:
            check(not os.path.exists(placed), f"with {env} a catalogue was left as Controller.qm")
        else:
            check(os.path.exists(placed) and filecmp.cmp(placed, os.path.join(data, f"Controller_{expected}.qm"),
                                                        shallow=False),
                  f"with {env} Controller.qm is not Controller_{expected}.qm")
    log(f"{program}: the launcher chose the catalogue right for {len(rows)} language settings")


def case_packages(session):
    packages = build_packages(session)
    home = os.path.join(session.scratch, "home")
    for program, with_logo, german in (("pravex_controller", True, "Pravex-Controller"),
                                       ("lunari_controller", False, "Lunari-Controller")):
        root = check_package(session, packages[program.replace("_", "-")], program, with_logo)
        # A German Wayland session whose compositor is gone: the launcher
        # places the German catalogue and the program comes up on X11 all the same.
        first = launcher(session, root, program, program, home, title=german,
                         env={"LANG": "de_DE.UTF-8", "WAYLAND_DISPLAY": "wayland-gone", "XDG_SESSION_TYPE": "wayland"})
        window = first.main_window(15)
        log(f"{program}: unpacked launcher shows the window {window['name']!r}")
        state = os.path.join(home, ".local/state", program)
        cwd = os.readlink(f"/proc/{first.pid}/cwd")
        check(cwd == state, f"{program} runs in {cwd}, expected {state}")
        for name in ("Controller.qm",) + (("logo.jpg",) if with_logo else ()):
            check(os.path.isfile(os.path.join(state, name)), f"{name} is not in {state}")
        if program == "lunari_controller":
            wait_until(lambda: os.path.isfile(os.path.join(state, "VeDorurerezo.log")), 5,
                       "the driver log in the state folder")
        session.screenshot(program + "-unpacked")
        check_language_choice(session, root, program, home)
        session.key(window["id"], "Escape")
        status = first.wait_exit(10)
        check(status == 0, f"the unpacked {program} ended with status {status}")
        # XDG_STATE_HOME moves the working folder.
        elsewhere = os.path.join(session.scratch, "state-elsewhere")
        second = launcher(session, root, program, program + "-xdg", home, {"XDG_STATE_HOME": elsewhere, "LANG": "C"})
        second.main_window(15)
        check(os.path.isdir(os.path.join(elsewhere, program)), "XDG_STATE_HOME was not used")
        check(not os.path.exists(os.path.join(elsewhere, program, "Controller.qm")), "a catalogue was placed for C")
        second.kill()


if __name__ == "__main__":
    sys.exit(run({"packages": case_packages}))
