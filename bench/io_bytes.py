#!/usr/bin/env python3
"""Sums what a program read from one file, from an strace (-f) log.

strace -f -e trace=openat,open,read,pread64,readv,preadv,mmap,munmap,close,dup,dup2,dup3
Prints: opens reads read_bytes mmaps mapped_bytes
read_bytes counts the bytes read()/pread64() returned on the picture's fds;
mapped_bytes is the length of mmap()s of those fds (mapped, not necessarily
touched).
"""
import re
import sys

log_path, picture = sys.argv[1], sys.argv[2]
open_re = re.compile(r'^(?:\d+\s+)?open(?:at)?\((?:AT_FDCWD|-?\d+), "((?:[^"\\]|\\.)*)".*\)\s+=\s+(\d+)')
read_re = re.compile(r'^(?:\d+\s+)?(?:read|pread64)\((\d+),.*\)\s+=\s+(\d+)')
readv_re = re.compile(r'^(?:\d+\s+)?(?:readv|preadv2?)\((\d+),.*\)\s+=\s+(\d+)')
mmap_re = re.compile(r'^(?:\d+\s+)?mmap\([^,]+, (\d+), [^,]+, [^,]+, (\d+), [^)]+\)\s+=\s+0x')
close_re = re.compile(r'^(?:\d+\s+)?close\((\d+)\)')
dup_re = re.compile(r'^(?:\d+\s+)?dup[23]?\((\d+)(?:, (\d+))?.*\)\s+=\s+(\d+)')

fds = set()
opens = reads = read_bytes = mmaps = mapped = 0
with open(log_path, errors="replace") as log:
    for line in log:
        m = open_re.match(line)
        if m:
            # A reopening as /proc/self/fd/N counts as the picture too.
            reopened = re.fullmatch(r"/proc/self/fd/(\d+)", m.group(1))
            if m.group(1) == picture or (reopened and reopened.group(1) in fds):
                fds.add(m.group(2))
                opens += 1
            else:
                fds.discard(m.group(2))
            continue
        m = read_re.match(line) or readv_re.match(line)
        if m:
            if m.group(1) in fds:
                reads += 1
                read_bytes += int(m.group(2))
            continue
        m = mmap_re.match(line)
        if m:
            if m.group(2) in fds:
                mmaps += 1
                mapped += int(m.group(1))
            continue
        m = dup_re.match(line)
        if m:
            if m.group(1) in fds:
                fds.add(m.group(3))
            continue
        m = close_re.match(line)
        if m:
            fds.discard(m.group(1))
print(opens, reads, read_bytes, mmaps, mapped)
