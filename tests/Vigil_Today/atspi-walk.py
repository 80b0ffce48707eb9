#!/usr/bin/python3
"""Walks Vigil's accessible tree over AT-SPI, as a screen reader does, and drives the panel with
key presses alone (xdotool). Started by AccessibilityEndToEndTest with DISPLAY and
DBUS_SESSION_BUS_ADDRESS of the test's own Xvfb and session bus. Prints what it found; exits 0
when every check held, 1 when one failed, 77 when pyatspi is missing."""

import re
import subprocess
import sys
import time

try:
    import pyatspi
except ImportError:
    print("pyatspi is not installed (apt-get install python3-pyatspi)")
    sys.exit(77)

NAMED_ROLES = {"push button", "progress bar", "label", "menu item", "check box", "radio button"}
failures = []


def until(condition, seconds):
    """condition() once it is true, polling; None when the deadline passes."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        result = condition()
        if result:
            return result
        time.sleep(0.2)
    return None


def vigil():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == "Vigil":
            return app
    return None


def nodes(acc):
    """Every showing object under acc, depth first (reading order)."""
    try:
        if not acc.getState().contains(pyatspi.STATE_SHOWING) and acc.getRoleName() != "application":
            return
    except Exception:
        return
    yield acc
    for i in range(acc.childCount):
        child = acc.getChildAtIndex(i)
        if child is not None:
            yield from nodes(child)


def describe(acc):
    text = "%s '%s'" % (acc.getRoleName(), acc.name)
    try:
        text += " value=%g" % acc.queryValue().currentValue
    except NotImplementedError:
        pass
    return text


def gauges_match(app):
    """Each gauge's value against the percentage its ring shows (the label drawn inside it)."""
    mismatches = []
    for acc in nodes(app):
        if acc.getRoleName() != "progress bar":
            continue
        # The figure drawn in the ring reads "<name>, 23 percent".
        shown = [re.search(r"(\d+) percent$", acc.getChildAtIndex(i).name or "")
                 for i in range(acc.childCount)]
        shown = [int(m.group(1)) for m in shown if m]
        value = acc.queryValue().currentValue
        if len(shown) != 1 or shown[0] != round(value):
            mismatches.append("%s shows %s" % (describe(acc), shown))
    return mismatches


def name_changes(seconds):
    """The name changes the program sends over a few samples (1.1 s apart): figures that change
    with every sample must change their value quietly, never their name."""
    from gi.repository import GLib
    seen = []

    def changed(event):
        try:
            seen.append("%s '%s'" % (event.source.getRoleName(), event.source.name))
        except Exception:  # the object may be gone already
            pass

    pyatspi.Registry.registerEventListener(changed, "object:property-change:accessible-name")
    GLib.timeout_add(int(seconds * 1000), lambda: pyatspi.Registry.stop())
    pyatspi.Registry.start()
    pyatspi.Registry.deregisterEventListener(changed, "object:property-change:accessible-name")
    return seen


def focused(app):
    for acc in nodes(app):
        if acc.getState().contains(pyatspi.STATE_FOCUSED):
            return acc
    return None


def key(name):
    subprocess.run(["xdotool", "key", name], check=True)


def main():
    app = until(vigil, 60)
    if app is None:
        print("FAIL: no application named Vigil on the accessibility bus")
        return 1
    until(lambda: any(a.getRoleName() == "progress bar" for a in nodes(app)), 30)
    tree = list(nodes(app))
    for acc in tree:
        print(describe(acc))
        if acc.getRoleName() in NAMED_ROLES and not acc.name.strip():
            failures.append("unnamed: " + describe(acc))
    gauges = [a for a in tree if a.getRoleName() == "progress bar"]
    if len(gauges) < 3:
        failures.append("expected the three gauges, found %d" % len(gauges))
    # A sample may land between reading a value and its label: a few walks settle it.
    mismatch = None
    for _ in range(10):
        mismatch = gauges_match(app)
        if not mismatch:
            break
    failures.extend("gauge and figure differ: " + m for m in mismatch or [])

    # The keyboard alone: Tab to the processor gauge, Enter opens its details, Escape closes them.
    window = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Vigil$"],
                            capture_output=True, text=True).stdout.split()
    if not window:
        failures.append("no window named Vigil")
    else:
        subprocess.run(["xdotool", "windowfocus", "--sync", window[0]], check=False)
        for _ in range(8):
            now = focused(app)
            if now is not None and now.name.startswith("Processor"):
                break
            key("Tab")
            until(lambda: focused(app) is not None, 2)
        now = focused(app)
        if now is None or not now.name.startswith("Processor"):
            failures.append("Tab never reached the processor gauge (focus: %s)" %
                            (describe(now) if now else "none"))
        else:
            print("focus: " + describe(now))
            closed = len(list(nodes(app)))
            key("Return")
            opened = until(lambda: len(list(nodes(app))) > closed, 20)
            if not opened:
                failures.append("Enter did not open the processor details")
            else:
                print("details open: more than the %d objects before" % closed)
                for acc in nodes(app):
                    if acc.getRoleName() in NAMED_ROLES and not acc.name.strip():
                        failures.append("unnamed in the details: " + describe(acc))
                key("Escape")
                if not until(lambda: len(list(nodes(app))) == closed, 20):
                    failures.append("Escape did not close the details")
                else:
                    print("details closed")

    # Last: listening for events leaves the client's cache of the tree waiting on a main loop.
    noisy = name_changes(4.5)
    print("name changes over 4.5 s: %d" % len(noisy))
    failures.extend("a sample changed a name: " + n for n in noisy)

    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


sys.exit(main())
