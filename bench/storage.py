#!/usr/bin/env python3
"""What each tool asks of the storage: the pages of the picture it touches,
and its time on a share that answers each read in 20 ms.

Pages touched: the picture's pages are evicted from the page cache
(posix_fadvise DONTNEED, after fsync so that none is dirty), the tool runs
once, and fincore (util-linux, mincore underneath) counts the picture's
pages that are resident afterwards: what the tool read or mapped and
touched, with the kernel's readahead around it, which is what slow storage
has to deliver.

Slow share: the pictures' folder seen through tests/support/slowfs.py with
a delay on every read; the kernel keeps no page across opens there, so
every run reads through the delay. Time from start to exit, and what the
run ended with (photomap: the map or message B; the others: whether they
printed the latitude).

The kernel's read-ahead is noted beside the pages: that of the device that
holds the pictures, and every device's (/sys/block/*/queue/read_ahead_kb).

Writes, for bench/report.py:
  pages.tsv   tool, picture key, file bytes, resident bytes before, resident bytes after
  slow.tsv    tool, picture key, seconds, outcome (one line per run; not written
              with --slow-runs 0)
  storage-about.tsv  name, value
"""
import argparse
import glob
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = ("photomap", "exiv2", "exiftool")
MESSAGE_B = b"Error: Please supply a JPG picture with GPS information as argument\n"
RUN_TIMEOUT = 120


def command(tool, args, picture):
    if tool == "photomap":
        return [args.photomap, picture]
    if tool == "exiv2":
        return [args.exiv2, "-g", "Exif.GPSInfo", "-Pv", picture]
    return [args.exiftool, "-n", "-GPSLatitude", "-GPSLongitude", picture]


def run(tool, args, picture, environment):
    """Seconds from start to exit, and what the run ended with."""
    started = time.monotonic()
    result = subprocess.run(command(tool, args, picture), env=environment, capture_output=True,
                            stdin=subprocess.DEVNULL, timeout=RUN_TIMEOUT)
    seconds = time.monotonic() - started
    if tool == "photomap":
        outcome = {b"": "map", MESSAGE_B: "message B"}.get(result.stderr, "other")
    elif tool == "exiv2":
        outcome = "position" if b"48/1 51/1 296/10" in result.stdout else "none"
    else:
        outcome = "position" if b"48.858" in result.stdout else "none"
    return seconds, outcome


def resident_bytes(path):
    out = subprocess.run(["fincore", "--bytes", "--noheadings", "--raw", "--output", "RES", path],
                         capture_output=True, text=True, check=True).stdout
    return int(out.split()[0])


def evict(path):
    descriptor = os.open(path, os.O_RDONLY)
    try:
        os.fsync(descriptor)
        os.posix_fadvise(descriptor, 0, 0, os.POSIX_FADV_DONTNEED)
    finally:
        os.close(descriptor)


def read_ahead(folder):
    """The read-ahead of the device holding `folder` ('?' where that is no block
    device, as on an overlay), and every block device's, in KiB."""
    def kib(queue):
        with open(os.path.join(queue, "read_ahead_kb")) as f:
            return f.read().strip()

    device = os.stat(folder).st_dev
    sysfs = "/sys/dev/block/%d:%d" % (os.major(device), os.minor(device))
    # A partition has no queue of its own: its disk's applies.
    queues = [os.path.join(sysfs, "queue"), os.path.join(sysfs, "..", "queue")]
    here = next((kib(q) for q in queues if os.path.isdir(q)), "?")
    name = os.path.basename(os.path.realpath(sysfs)) if os.path.exists(sysfs) else "no block device"
    every = ", ".join("%s %s" % (q.split("/")[3], kib(q))
                      for q in sorted(glob.glob("/sys/block/*/queue")))
    return "%s KiB (%s); every device: %s" % (here, name, every)


def load_pictures(path):
    pictures = []
    with open(path) as f:
        for line in f:
            key, name, size = line.rstrip("\n").split("\t")[:3]
            pictures.append((key, name, int(size)))
    return pictures


def slow_share(args, pictures, environment):
    # Imported here: counting pages needs neither FUSE nor the tests' helpers.
    sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "support"))
    import slowfs
    print("==> timing on a share answering each read in %.0f ms (%d runs each)"
          % (args.read_delay * 1000, args.slow_runs), file=sys.stderr)
    mountpoint = os.path.join(args.work, "slow-share")
    with slowfs.SlowShare(args.pictures, mountpoint, read_delay=args.read_delay,
                          python="/usr/bin/python3") as share, \
            open(os.path.join(args.work, "slow.tsv"), "w") as out:
        for key, name, _ in pictures:
            for _ in range(args.slow_runs):
                for tool in TOOLS:
                    seconds, outcome = run(tool, args, share.path(name), environment)
                    out.write("%s\t%s\t%.6f\t%s\n" % (tool, key, seconds, outcome))
            print("    %s done" % key, file=sys.stderr)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--work", required=True)
    parser.add_argument("--pictures", required=True)
    parser.add_argument("--bin", required=True, help="a folder whose xdg-open exits at once")
    parser.add_argument("--photomap", required=True)
    parser.add_argument("--exiv2", required=True)
    parser.add_argument("--exiftool", required=True)
    parser.add_argument("--keys", help="the pictures whose pages are counted, comma-separated "
                        "(default: every one in pictures.tsv)")
    parser.add_argument("--read-delay", type=float, default=0.02)
    parser.add_argument("--slow-runs", type=int, default=3, help="0: no slow share")
    args = parser.parse_args()
    environment = dict(os.environ, PATH=args.bin + os.pathsep + os.environ.get("PATH", ""))
    environment.pop("DISPLAY", None)
    environment.pop("WAYLAND_DISPLAY", None)
    pictures = load_pictures(os.path.join(args.work, "pictures.tsv"))
    load = " ".join(open("/proc/loadavg").read().split()[:3])

    say = lambda text: print("==> " + text, file=sys.stderr)  # noqa: E731
    say("counting the pages each tool touches (posix_fadvise DONTNEED, then fincore)")
    with open(os.path.join(args.work, "pages.tsv"), "w") as out:
        for key, name, size in pictures:
            if args.keys and key not in args.keys.split(","):
                continue
            picture = os.path.join(args.pictures, name)
            for tool in TOOLS:
                evict(picture)
                before = resident_bytes(picture)
                run(tool, args, picture, environment)
                out.write("%s\t%s\t%d\t%d\t%d\n" % (tool, key, size, before,
                                                    resident_bytes(picture)))

    if args.slow_runs > 0:
        slow_share(args, pictures, environment)

    with open(os.path.join(args.work, "storage-about.tsv"), "w") as out:
        out.write("date\t%s\n" % time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()))
        out.write("photomap\t%s\n" % args.photomap)
        out.write("read delay\t%g ms\n" % (args.read_delay * 1000))
        out.write("slow runs\t%d\n" % args.slow_runs)
        out.write("load average at start\t%s\n" % load)
        out.write("read-ahead\t%s\n" % read_ahead(args.pictures))


if __name__ == "__main__":
    main()
