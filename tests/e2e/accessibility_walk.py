"""accessibility_walk.py PROGRAM SETUP PICTURE FOLDER

Walks the real window through AT-SPI, as a screen reader sees it: the roles
and names of every control, the focus events of the Tab order, the window's
name-changed events during an add (the caption is its status line) and on
"Novi". Runs inside a private session bus, on a display of its own; prints
PASS or the first difference and ends with status 1.
"""

import re
import subprocess
import sys
import time

import pyatspi
from gi.repository import Gio, GLib

PROGRAM, SETUP, PICTURE, FOLDER = sys.argv[1:5]
CAPTION = "Velmora 2.0 ADD New Program"
PER_SECOND = 3  # the most name changes a second that a copy may cause

# The window's children in the order the window holds them: labels and lines
# first, then the input controls.
CONTROLS = [
    ("label", "Program:"),
    ("label", "Opis:"),
    ("label", "Source:"),
    ("label", "Slika:"),
    ("label", "Kategorija:"),
    ("separator", ""),
    ("separator", ""),
    ("text", "Program"),
    ("text", "Opis"),
    ("text", "Source"),
    ("push button", "Izaberi Source"),
    ("text", "Slika"),
    ("push button", "Izaberi Sliku"),
    ("combo box", "Kategorija"),
    ("push button", "Novi"),
    ("push button", "Dodaj"),
    ("push button", "Izlaz"),
    ("text", "OS"),
]
LABELS = {"Program": "Program:", "Opis": "Opis:", "Source": "Source:",
          "Slika": "Slika:", "Kategorija": "Kategorija:"}
CATEGORIES = ["CDDVD", "Igre", "Internet", "Multimedija", "Ostalo",
              "Programiranje", "Usluzni", "Sigurnost", "Windows"]
# Where the focus goes with each Tab from the category box.
TAB_ORDER = ["Opis", "Dodaj", "Izlaz", "Novi", "Source", "Slika",
             "Izaberi Source", "Izaberi Sliku", "Program", "OS", "Kategorija"]


class Failed(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failed(message)


def pump(seconds):
    """Lets AT-SPI deliver events for the given time."""
    context = GLib.MainContext.default()
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        while context.iteration(False):
            pass
        time.sleep(0.01)


def pump_until(seconds, condition):
    context = GLib.MainContext.default()
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        while context.iteration(False):
            pass
        if condition():
            return True
        time.sleep(0.01)
    return False


def enable_screen_reader():
    """Says on the bus what a running screen reader says, so Qt starts its
    AT-SPI bridge as it would for Orca."""
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    bus.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties",
                  "Set", GLib.Variant("(ssv)", ("org.a11y.Status", "ScreenReaderEnabled",
                                                GLib.Variant("b", True))),
                  None, Gio.DBusCallFlags.NONE, -1, None)


def find_frame():
    for application in pyatspi.Registry.getDesktop(0):
        if application is None:
            continue
        for window in application:
            if window is not None and window.name == CAPTION:
                return window
    return None


def children(accessible):
    return [child for child in accessible if child is not None]


def check_tree(frame):
    check(frame.getRoleName() == "frame",
          f"the window's role is '{frame.getRoleName()}', not frame")
    found = [(c.getRoleName(), c.name) for c in children(frame)]
    check(found == CONTROLS, f"the window's controls are {found}")
    controls = {c.name: c for c in children(frame) if c.getRoleName() != "label"}
    for field, label in LABELS.items():
        relations = controls[field].getRelationSet()
        labelled_by = [r.getTarget(0).name for r in relations
                       if r.getRelationType() == pyatspi.RELATION_LABELLED_BY]
        check(labelled_by == [label], f"{field} is labelled by {labelled_by}")
    box = controls["Kategorija"]
    parts = {c.getRoleName(): c for c in children(box)}
    items = [item.name for item in children(parts["list"])]
    check(items == CATEGORIES, f"the category list holds {items}")
    value = parts["text"].queryText().getText(0, -1)
    check(value == "CDDVD", f"the category box's value is '{value}'")
    return controls


def check_focus_order(wid):
    focused = []

    def on_focus(event):
        if event.detail1 == 1:
            focused.append(event.source.name)

    pyatspi.Registry.registerEventListener(on_focus, "object:state-changed:focused")
    subprocess.run(["xdotool", "windowfocus", "--sync", wid], check=True)
    # A loaded machine (or a sanitizer build) delivers the event late.
    pump_until(10, lambda: focused and focused[-1] == "Kategorija")
    check(focused and focused[-1] == "Kategorija",
          f"the focus starts at {focused[-1:]}, not Kategorija")
    focused.clear()
    for step, expected in enumerate(TAB_ORDER, 1):
        subprocess.run(["xdotool", "key", "--window", wid, "Tab"], check=True)
        reached = pump_until(5, lambda: len(focused) >= step)
        check(reached, f"no focus event after Tab {step}; so far {focused}")
        check(focused[step - 1] == expected,
              f"Tab {step} focused '{focused[step - 1]}', not '{expected}'")
    pyatspi.Registry.deregisterEventListener(on_focus, "object:state-changed:focused")


def check_add_announced(frame, controls):
    names = []

    def on_name(event):
        # The event carries no text: the name is read from the window.
        if event.source == frame:
            names.append((time.monotonic(), event.source.name))

    pyatspi.Registry.registerEventListener(on_name, "object:property-change:accessible-name")
    entry = {"Program": "Tool", "Opis": "Small tool", "Source": SETUP, "Slika": PICTURE}
    for field, text in entry.items():
        controls[field].queryEditableText().setTextContents(text)
    pump(0.2)
    for field, text in entry.items():
        shown = controls[field].queryText().getText(0, -1)
        check(shown == text, f"{field} holds '{shown}' after it was set to '{text}'")

    pressed = time.monotonic()
    controls["Dodaj"].queryAction().doAction(0)
    setup_copy = f"{FOLDER}/Programi/Tool/Setup.exe"

    def finished():
        try:
            with open(setup_copy, "rb"):
                pass
        except OSError:
            return False
        # The last waiting caption comes within one interval.
        return names and names[-1][1] == "100% Complete" and \
            time.monotonic() - names[-1][0] > 1.0
    check(pump_until(120, finished),
          f"the add did not end with '100% Complete' announced; heard {names}")
    texts = [text for _, text in names]
    odd = [t for t in texts if not re.fullmatch(r"\d{1,3}% Complete", t)]
    check(not odd, f"announced during the add: {odd}")
    span = names[-1][0] - names[0][0]
    # At most PER_SECOND a second, plus the first and the at-once ends of
    # both copies, and one for delivery jitter.
    allowed = PER_SECOND * span + 4
    check(len(names) <= allowed,
          f"{len(names)} announcements in {span:.2f} s (at most {allowed:.0f}): {texts}")
    print(f"add: {len(names)} announcements in {span:.2f} s "
          f"({time.monotonic() - pressed:.2f} s after Dodaj), the last '{texts[-1]}'")

    names.clear()
    controls["Novi"].queryAction().doAction(0)
    check(pump_until(10, lambda: any(text == CAPTION for _, text in names)),
          f"'Novi' announced {names}, not the start caption")
    check(frame.name == CAPTION, f"the window is named '{frame.name}' after Novi")
    pyatspi.Registry.deregisterEventListener(on_name, "object:property-change:accessible-name")


def main():
    enable_screen_reader()
    log = open(f"{FOLDER}/../app.log", "wb")
    app = subprocess.Popen([PROGRAM], stdout=log, stderr=subprocess.STDOUT)
    try:
        frame = None
        deadline = time.monotonic() + 30
        while frame is None and time.monotonic() < deadline:
            frame = find_frame()
            if frame is None:
                time.sleep(0.1)
        check(frame is not None, f"no window named '{CAPTION}' in the accessible tree")
        wid = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name",
                              f"^{re.escape(CAPTION)}$"], check=True, capture_output=True,
                             text=True, timeout=30).stdout.split()[0]
        controls = check_tree(frame)
        check_focus_order(wid)
        check_add_announced(frame, controls)
        controls["Izlaz"].queryAction().doAction(0)
        status = app.wait(timeout=20)
        check(status == 0, f"exit status {status} after Izlaz")
    except Failed as failure:
        print(f"FAIL: {failure}", file=sys.stderr)
        return 1
    finally:
        if app.poll() is None:
            app.terminate()
            app.wait()
    print("PASS: roles and names, the Tab order's focus events, the add's and Novi's "
          "announcements")
    return 0


if __name__ == "__main__":
    sys.exit(main())
