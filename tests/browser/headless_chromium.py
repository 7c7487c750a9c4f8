"""A throwaway HOME whose default https handler is Debian's chromium, headless,
with its DevTools list of targets on a loopback port. Used by the browser
test and by the benchmark (bench/browser.py).
"""

import json
import os
import signal
import socket
import time
import urllib.request


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def devtools(port, path, method="GET"):
    """The answer of chromium's DevTools HTTP interface, or None while it is down."""
    request = urllib.request.Request("http://127.0.0.1:%d%s" % (port, path), method=method)
    try:
        with urllib.request.urlopen(request, timeout=2) as answer:
            return answer.read()
    except OSError:
        return None


def page_targets(port):
    answer = devtools(port, "/json")
    if answer is None:
        return None
    return [t for t in json.loads(answer) if t.get("type") == "page"]


def end_process(pid, wait):
    """Ends a process by its id: SIGTERM, then SIGKILL after `wait` seconds."""
    try:
        os.kill(pid, signal.SIGTERM)
        deadline = time.monotonic() + wait
        while time.monotonic() < deadline:
            os.kill(pid, 0)
            time.sleep(0.05)
        os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


class ChromiumHome:
    """HOME, data and config directories in `home`, and the environment that
    points into them (DISPLAY set, so that xdg-open asks xdg-mime)."""

    def __init__(self, home, port):
        self.home = home
        self.port = port
        self.pid_file = os.path.join(home, "chromium.pid")
        self.data = os.path.join(home, ".local", "share")
        self.config = os.path.join(home, ".config")
        os.makedirs(os.path.join(self.data, "applications"), exist_ok=True)
        os.makedirs(self.config, exist_ok=True)
        self.environment = {"HOME": home, "PATH": "/usr/bin:/bin", "XDG_DATA_HOME": self.data,
                            "XDG_CONFIG_HOME": self.config, "DISPLAY": ":photomap-none"}

    def chromium_command(self, *urls):
        """Headless chromium on the loopback port, with nothing that calls out."""
        flags = ["chromium", "--headless", "--remote-debugging-port=%d" % self.port,
                 "--remote-debugging-address=127.0.0.1",
                 "--user-data-dir=" + os.path.join(self.home, "profile"), "--disable-gpu",
                 "--disable-quic", "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync"]
        if os.getuid() == 0:
            flags.append("--no-sandbox")
        return flags + list(urls)

    def make_https_handler(self, launcher_body):
        """The default https handler: a shell script run with the URL as "$1"."""
        launcher = os.path.join(self.home, "https-handler")
        with open(launcher, "w") as script:
            script.write("#!/bin/sh\n" + launcher_body)
        os.chmod(launcher, 0o755)
        with open(os.path.join(self.data, "applications", "test-chromium.desktop"), "w") as entry:
            entry.write("[Desktop Entry]\nType=Application\nName=Test Chromium\n"
                        "Exec=%s %%u\nMimeType=x-scheme-handler/https;\n" % launcher)
        with open(os.path.join(self.config, "mimeapps.list"), "w") as defaults:
            defaults.write("[Default Applications]\n"
                           "x-scheme-handler/https=test-chromium.desktop\n")

    def start_chromium_per_url(self):
        """The handler starts chromium for the URL and notes its pid."""
        command = " ".join("'%s'" % word for word in self.chromium_command())
        self.make_https_handler("echo $$ > '%s'\nexec %s \"$1\"\n" % (self.pid_file, command))

    def read_pid(self):
        try:
            with open(self.pid_file) as pid:
                return int(pid.read())
        except (OSError, ValueError):
            return None
