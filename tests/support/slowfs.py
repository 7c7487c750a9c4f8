"""Storage for the end-to-end tests and the benchmark: a read-only FUSE file
system that shows a folder's files, slow or odd the way shares are.

Slow: a disk that wakes up on its first read, a network share with a round
trip per read, and storage that stops answering all look the same to a
program: a read that takes long. Only reads are delayed (lookups and
attributes are answered at once), and the kernel keeps no page of a file
across opens (libfuse's default without kernel_cache), so every run reads
through the delay again.

Odd: with direct_io every read() goes to the file system as it is asked,
past the cache; a share may then report a size of 0 for every file (read()
still returns every byte, as cat shows), or answer each read with at most
`piece` bytes (a short read, which the kernel's page cache takes for the
end of the file).

From Python:
    with SlowShare(source, mountpoint, read_delay=0.02) as share:
        ... share.reads() ...
    with SlowShare(source, mountpoint, direct_io=True, zero_size=True) as share: ...
or on its own (foreground, until unmounted):
    python3 slowfs.py SOURCE MOUNTPOINT [--read-delay S] [--first-read-delay S] [--log FILE]
        [--direct-io] [--zero-size] [--piece BYTES]

Needs Debian's python3-fusepy (which loads libfuse2) and fuse3 (fusermount),
and /dev/fuse.
"""

import argparse
import errno
import os
import signal
import stat
import subprocess
import sys
import threading
import time

FUSEPY_MISSING = "python3-fusepy is needed (Debian packages python3-fusepy and fuse3)"
MOUNT_WAIT = 10.0


def load_fusepy():
    """The fusepy module: Debian names it fusepy, upstream fuse."""
    for name in ("fusepy", "fuse"):
        try:
            module = __import__(name)
        except (ImportError, OSError, EnvironmentError):
            continue
        if hasattr(module, "FUSE") and hasattr(module, "Operations"):
            return module
    return None


def serve(source, mountpoint, read_delay=0.0, first_read_delay=0.0, log=None, direct_io=False,
          zero_size=False, piece=0):
    """Mounts the view of `source` at `mountpoint` and serves it until unmounted."""
    fusepy = load_fusepy()
    if fusepy is None:
        raise SystemExit(FUSEPY_MISSING)

    class SlowView(fusepy.Operations):
        def __init__(self):
            self.first_read = threading.Lock()
            self.woken = False
            self.log = open(log, "a", buffering=1) if log else None
            self.log_lock = threading.Lock()

        def real(self, path):
            return os.path.join(source, path.lstrip("/"))

        def getattr(self, path, fh=None):
            try:
                status = os.lstat(self.real(path))
            except OSError as error:
                raise fusepy.FuseOSError(error.errno)
            shown = {key: getattr(status, key) for key in (
                "st_mode", "st_size", "st_nlink", "st_uid", "st_gid",
                "st_atime", "st_mtime", "st_ctime")}
            if zero_size and stat.S_ISREG(status.st_mode):
                shown["st_size"] = 0
            return shown

        def readdir(self, path, fh):
            return [".", ".."] + os.listdir(self.real(path))

        # With raw_fi, the calls on an open file get its fuse_file_info.
        def open(self, path, info):
            if info.flags & (os.O_WRONLY | os.O_RDWR):
                raise fusepy.FuseOSError(errno.EROFS)
            info.fh = os.open(self.real(path), os.O_RDONLY)
            info.direct_io = direct_io
            return 0

        def read(self, path, size, offset, info):
            if self.log:
                # Written before the wait, so that a test sees a read that is pending.
                with self.log_lock:
                    self.log.write("%s %d %d\n" % (path, offset, size))
            with self.first_read:
                if not self.woken:
                    time.sleep(first_read_delay)
                    self.woken = True
            time.sleep(read_delay)
            return os.pread(info.fh, min(size, piece or size), offset)

        def release(self, path, info):
            os.close(info.fh)
            return 0

        def statfs(self, path):
            status = os.statvfs(source)
            return {key: getattr(status, key) for key in (
                "f_bsize", "f_frsize", "f_blocks", "f_bfree", "f_bavail",
                "f_files", "f_ffree", "f_favail", "f_namemax")}

    # Threads: a share answers reads side by side, each after its own delay.
    fusepy.FUSE(SlowView(), mountpoint, foreground=True, nothreads=False, ro=True,
                fsname="slowfs", raw_fi=True)


class MountFailed(Exception):
    """FUSE could not mount here (no /dev/fuse, no permission, no fusepy)."""


class SlowShare:
    """The view of `source` mounted at `mountpoint` in a process of its own,
    for as long as the `with` block runs."""

    def __init__(self, source, mountpoint, read_delay=0.0, first_read_delay=0.0, python=None,
                 direct_io=False, zero_size=False, piece=0):
        self.source = source
        self.mountpoint = mountpoint
        self.log = mountpoint.rstrip("/") + ".reads"
        self.arguments = [python or sys.executable, os.path.abspath(__file__), source, mountpoint,
                          "--read-delay", str(read_delay),
                          "--first-read-delay", str(first_read_delay), "--log", self.log,
                          "--piece", str(piece)]
        self.arguments += ["--direct-io"] * direct_io + ["--zero-size"] * zero_size
        self.process = None

    def __enter__(self):
        if load_fusepy() is None:
            raise MountFailed(FUSEPY_MISSING)
        if not os.path.exists("/dev/fuse"):
            raise MountFailed("there is no /dev/fuse")
        os.makedirs(self.mountpoint, exist_ok=True)
        open(self.log, "w").close()
        self.process = subprocess.Popen(self.arguments, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.monotonic() + MOUNT_WAIT
        while not os.path.ismount(self.mountpoint):
            if self.process.poll() is not None or time.monotonic() > deadline:
                if self.process.poll() is None:
                    self.process.kill()
                errors = self.process.stderr.read().decode(errors="replace").strip()
                self.stop()
                raise MountFailed("FUSE cannot mount here: %s" % (errors or "no mount in time"))
            time.sleep(0.02)
        return self

    def __exit__(self, *exception):
        self.stop()

    def stop(self):
        # Killed, not asked: a stalled read would keep a polite exit waiting.
        # Its end aborts the connection, so that every pending read fails at
        # once, and the mount is detached lazily.
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGKILL)
        self.process.wait()
        self.process.stderr.close()
        if os.path.ismount(self.mountpoint) or _is_dead_mount(self.mountpoint):
            command = ["umount", "-l"] if os.geteuid() == 0 else ["fusermount", "-u", "-z"]
            subprocess.run(command + [self.mountpoint], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)

    def path(self, name):
        return os.path.join(self.mountpoint, name)

    def reads(self):
        """The reads asked of the share so far, as (path, offset, size)."""
        with open(self.log) as log:
            lines = [line.split() for line in log if line.endswith("\n")]
        return [(path, int(offset), int(size)) for path, offset, size in lines]


def _is_dead_mount(path):
    # A mount whose server is gone answers every call with ENOTCONN.
    try:
        os.stat(path)
    except OSError as error:
        return error.errno == errno.ENOTCONN
    return False


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("source")
    parser.add_argument("mountpoint")
    parser.add_argument("--read-delay", type=float, default=0.0,
                        help="seconds before each read is answered")
    parser.add_argument("--first-read-delay", type=float, default=0.0,
                        help="seconds more before the mount's first read is answered")
    parser.add_argument("--log", help="a file that gets a line for every read, as it starts")
    parser.add_argument("--direct-io", action="store_true",
                        help="every read() of a file reaches the file system, past the cache")
    parser.add_argument("--zero-size", action="store_true", help="report a size of 0 for files")
    parser.add_argument("--piece", type=int, default=0,
                        help="answer each read with at most this many bytes")
    args = parser.parse_args()
    serve(os.path.abspath(args.source), args.mountpoint, args.read_delay, args.first_read_delay,
          args.log, args.direct_io, args.zero_size, args.piece)


if __name__ == "__main__":
    main()
