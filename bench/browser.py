#!/usr/bin/env python3
"""Times the way from photomap's start to a tab in a real browser.

Debian's chromium, headless, is the default https handler of a throwaway
HOME (tests/browser/headless_chromium.py); photomap runs with the real
xdg-open. Two cases:
  warm  chromium runs already; the handler hands it the URL through DevTools
        (PUT /json/new), as a second chromium on a desktop hands it to the
        running one. Each run's tab is closed again (/json/close).
  cold  the handler starts chromium for the URL; it is ended after each run.
Each run records, from the start of the command: its exit, and the moment
chromium's list of targets (/json, polled) first holds a new page with the
expected URL. xdg-open started alone shows its own part.

Writes TSV lines (case, command, measure, seconds) to --output.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "browser"))
from headless_chromium import (ChromiumHome, devtools, end_process, free_port,  # noqa: E402
                               page_targets)

WAIT = 30  # seconds for a run, a start or an end, at most
POLL = 0.005
# Hands the URL to the running chromium and waits for its answer's first
# line; bash's /dev/tcp, so that no program start of its own is counted.
HAND_TO_RUNNING = """exec bash -c '
exec 3<>/dev/tcp/127.0.0.1/%d
printf "PUT /json/new?%%s HTTP/1.1\\r\\nHost: 127.0.0.1\\r\\nConnection: close\\r\\n\\r\\n" "$1" >&3
read -r status <&3' bash "$1"
"""


def timed_run(command, environment, port, url, seen):
    """Starts `command`; returns (seconds to exit, seconds to the new tab, tab id)."""
    start = time.perf_counter()
    process = subprocess.Popen(command, env=environment, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    exited = tab = tab_id = None
    try:
        while time.perf_counter() - start < WAIT and (exited is None or tab is None):
            if exited is None and process.poll() is not None:
                exited = time.perf_counter() - start
            if tab is None:
                for page in page_targets(port) or []:
                    if page["url"] == url and page["id"] not in seen:
                        tab, tab_id = time.perf_counter() - start, page["id"]
            time.sleep(POLL)
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
    if exited is None or tab is None:
        raise SystemExit("%s: no exit or no tab within %d s" % (command[0], WAIT))
    return exited, tab, tab_id


def wait_for_devtools(port):
    deadline = time.monotonic() + WAIT
    while time.monotonic() < deadline:
        if page_targets(port) is not None:
            return
        time.sleep(0.05)
    raise SystemExit("chromium did not open its DevTools port within %d s" % WAIT)


def warm(photomap, picture, url, runs, record):
    home = tempfile.mkdtemp(prefix="photomap-bench-browser-")
    port = free_port()
    chromium = ChromiumHome(home, port)
    chromium.make_https_handler(HAND_TO_RUNNING % port)
    browser = subprocess.Popen(chromium.chromium_command("about:blank"),
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, env=chromium.environment)
    try:
        wait_for_devtools(port)
        seen = set()
        for _ in range(runs):
            commands = (("photomap", [photomap, picture]), ("xdg-open", ["xdg-open", url]))
            for name, command in commands:
                exited, tab, tab_id = timed_run(command, chromium.environment, port, url, seen)
                record("warm", name, "exit", exited)
                record("warm", name, "tab", tab)
                seen.add(tab_id)
                devtools(port, "/json/close/" + tab_id)
    finally:
        end_process(browser.pid, WAIT)
        browser.wait()
        shutil.rmtree(home, ignore_errors=True)


def cold(photomap, picture, url, runs, record):
    for _ in range(runs):
        home = tempfile.mkdtemp(prefix="photomap-bench-browser-")
        port = free_port()
        chromium = ChromiumHome(home, port)
        chromium.start_chromium_per_url()
        try:
            exited, tab, _ = timed_run([photomap, picture], chromium.environment, port, url, set())
            record("cold", "photomap", "exit", exited)
            record("cold", "photomap", "tab", tab)
        finally:
            pid = chromium.read_pid()
            if pid is not None:
                end_process(pid, WAIT)
            shutil.rmtree(home, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--photomap", required=True)
    parser.add_argument("--picture", required=True)
    parser.add_argument("--url", required=True)
    parser.add_argument("--runs", type=int, default=10)
    parser.add_argument("--cold-runs", type=int, default=3)
    parser.add_argument("--output", required=True)
    args = parser.parse_args()
    with open(args.output, "w") as output:
        def record(case, command, measure, seconds):
            output.write("%s\t%s\t%s\t%.6f\n" % (case, command, measure, seconds))
            output.flush()

        warm(args.photomap, args.picture, args.url, args.runs, record)
        cold(args.photomap, args.picture, args.url, args.cold_runs, record)


if __name__ == "__main__":
    main()
