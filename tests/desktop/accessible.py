"""A desktop of the tests' own: an X display (Xvfb) and a D-Bus session, on
which programs are read and worked through the accessibility tree (AT-SPI,
Debian's python3-pyatspi and at-spi2-core). The tree names each widget as
its toolkit knows it, so nothing depends on fonts, scaling or on reading
pixels back.

AT-SPI binds a process to one session bus for good: a test process makes one
desktop (`desktop()`) and keeps it until it exits.
"""

import atexit
import os
import subprocess
import time

WAIT = 30


def _started(command):
    """Starts `command`, which writes one line to the descriptor given as {fd}."""
    read, write = os.pipe()
    process = subprocess.Popen([part.format(fd=write) for part in command], pass_fds=(write,),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as line:
        return process, line.readline().strip()


class Desktop:
    def __init__(self):
        self.xvfb, number = _started(["Xvfb", "-displayfd", "{fd}", "-screen", "0",
                                      "800x600x24", "-nolisten", "tcp"])
        self.bus, address = _started(["dbus-daemon", "--session", "--nofork",
                                      "--print-address={fd}"])
        self.display = {"DISPLAY": ":" + number, "DBUS_SESSION_BUS_ADDRESS": address}
        # AT-SPI finds the accessibility bus (which the session bus starts on
        # demand) through this process's environment, once: the programs that
        # the tests start from this process see no display unless given one.
        saved = {name: os.environ.get(name) for name in self.display}
        os.environ.update(self.display)
        try:
            import pyatspi
            pyatspi.Registry.getDesktop(0).childCount
        finally:
            for name, value in saved.items():
                if value is None:
                    os.environ.pop(name)
                else:
                    os.environ[name] = value
        self.atspi = pyatspi

    def environment(self, **extra):
        """os.environ with this desktop's display and session bus, and `extra`."""
        environment = dict(os.environ, **self.display, **extra)
        environment.pop("WAYLAND_DISPLAY", None)
        return environment

    def close(self):
        for process in (self.bus, self.xvfb):
            process.terminate()
            process.wait(timeout=WAIT)

    def wait_for_object(self, application, *path):
        """The object that `path` leads to in the running application of that
        name, waiting for it. Each step of `path` is (role, name), found
        anywhere below the step before; a name is the text itself, a test of
        the text, or None for any."""
        def step(node, role, name):
            def matches(candidate):
                if candidate.getRole() != role:
                    return False
                return name is None or (name(candidate.name) if callable(name)
                                        else candidate.name == name)
            return self.atspi.findDescendant(node, matches)

        def probe():
            # From the top each time: the application may have started anew.
            for node in self.atspi.Registry.getDesktop(0):
                if node is None or node.name != application:
                    continue
                # Asked afresh every time: what AT-SPI keeps of an object (its
                # name, its children) is renewed only by events that nobody
                # listens to here.
                node.clear_cache()
                for role, name in path:
                    node = step(node, role, name)
                    if node is None:
                        break
                if node is not None:
                    return node
            return None
        steps = " / ".join("%s %r" % (self.atspi.Role(role), name) for role, name in path)
        return self.wait_for(probe, "nothing in %s at %s" % (application, steps))

    def activate(self, node):
        """The object's first action ("click" for menu items and buttons)."""
        action = node.queryAction()
        if not action.doAction(0):
            raise AssertionError("%r refused its action %r" % (node, action.getName(0)))

    @staticmethod
    def wait_for(probe, failure, timeout=WAIT):
        """probe()'s first answer that is not None; the tree of a program that
        is still starting can be incomplete or briefly unreachable."""
        deadline = time.monotonic() + timeout
        error = None
        while True:
            try:
                answer = probe()
            except Exception as raised:  # D-Bus errors of an object being made or gone
                answer, error = None, raised
            if answer is not None:
                return answer
            if time.monotonic() > deadline:
                raise AssertionError(failure + ("" if error is None else " (%s)" % error))
            time.sleep(0.2)


_desktop = None


def desktop():
    global _desktop
    if _desktop is None:
        _desktop = Desktop()
        atexit.register(_desktop.close)
    return _desktop
