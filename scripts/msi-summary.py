#!/usr/bin/env python3
"""Sets the dates and the package code in an MSI's summary information.

    msi-summary.py PACKAGE.msi UNIX-TIME {PACKAGE-CODE}

wixl writes the time it ran as the package's creation and last-saved date,
and a random package code (the revision number), and has no option for
others, so without this two builds of the same commit differ there. The MSI is an OLE compound file; the summary is the
"\\x05SummaryInformation" property-set stream, and each date a FILETIME
value of it, the code a string. The values are rewritten in place, the file keeps its size
and layout. Run it before the MSI is signed: the signature covers them.
"""

import re
import struct
import sys

SUMMARY = "\x05SummaryInformation"
VT_LPSTR = 0x1E
VT_FILETIME = 0x40
FREE_OR_END = 0xFFFFFFFA  # sector numbers from here on mark no sector
# Last printed, created, last saved.
DATE_PROPERTIES = (11, 12, 13)
REVISION_NUMBER = 9


class CompoundFile:
    def __init__(self, data):
        if data[:8] != bytes.fromhex("d0cf11e0a1b11ae1"):
            raise ValueError("not an OLE compound file")
        self.data = data
        self.sector_size = 1 << struct.unpack_from("<H", data, 0x1E)[0]
        self.mini_size = 1 << struct.unpack_from("<H", data, 0x20)[0]
        (fat_count, directory_start, _, self.mini_cutoff, minifat_start, _,
         difat_start, difat_count) = struct.unpack_from("<IIIIIIII", data, 0x2C)
        fat_sectors = list(struct.unpack_from("<109I", data, 0x4C))
        per_sector = self.sector_size // 4
        for _ in range(difat_count):
            entries = struct.unpack_from(f"<{per_sector}I", data, self.offset(difat_start))
            fat_sectors += entries[:-1]
            difat_start = entries[-1]
        self.fat = []
        for sector in fat_sectors[:fat_count]:
            self.fat += struct.unpack_from(f"<{per_sector}I", data, self.offset(sector))
        self.directory = self.read_chain(directory_start, self.fat, self.sector_size)
        root_start, _ = self.entry_location(0)
        self.mini_stream = self.chain_offsets(root_start, self.fat)
        self.minifat = []
        for chunk in self.chain_offsets(minifat_start, self.fat):
            self.minifat += struct.unpack_from(f"<{per_sector}I", data, chunk)

    def offset(self, sector):
        return (sector + 1) * self.sector_size

    def chain(self, start, table):
        seen = set()
        while start < FREE_OR_END:
            if start in seen:
                raise ValueError("a sector chain loops")
            seen.add(start)
            yield start
            start = table[start]

    def chain_offsets(self, start, table):
        return [self.offset(sector) if table is self.fat else
                self.mini_offset(sector) for sector in self.chain(start, table)]

    def mini_offset(self, sector):
        big, within = divmod(sector * self.mini_size, self.sector_size)
        return self.mini_stream[big] + within

    def read_chain(self, start, table, size):
        return b"".join(self.data[o:o + size] for o in self.chain_offsets(start, table))

    def entry_location(self, index):
        start, size = struct.unpack_from("<II", self.directory, index * 128 + 116)
        return start, size

    def stream_offsets(self, name):
        """The file offset of every byte of the named stream."""
        for index in range(len(self.directory) // 128):
            entry = self.directory[index * 128:(index + 1) * 128]
            length = struct.unpack_from("<H", entry, 64)[0]
            if length < 2 or entry[:length - 2].decode("utf-16-le") != name:
                continue
            start, size = self.entry_location(index)
            if size < self.mini_cutoff:
                table, unit = self.minifat, self.mini_size
            else:
                table, unit = self.fat, self.sector_size
            offsets = [o + i for o in self.chain_offsets(start, table) for i in range(unit)]
            return offsets[:size]
        raise ValueError(f"no {name!r} stream")


def set_summary(package, unix_time, package_code):
    with open(package, "rb") as f:
        data = bytearray(f.read())
    where = CompoundFile(bytes(data)).stream_offsets(SUMMARY)
    stream = bytearray(data[o] for o in where)
    section = struct.unpack_from("<I", stream, 28 + 16)[0]
    count = struct.unpack_from("<I", stream, section + 4)[0]
    filetime = (unix_time + 11644473600) * 10_000_000
    code = package_code.upper().encode("ascii") + b"\0"
    dates = codes = 0
    for i in range(count):
        property_id, value = struct.unpack_from("<II", stream, section + 8 + 8 * i)
        kind = struct.unpack_from("<I", stream, section + value)[0]
        if property_id in DATE_PROPERTIES and kind == VT_FILETIME:
            struct.pack_into("<Q", stream, section + value + 4, filetime)
            dates += 1
        elif property_id == REVISION_NUMBER and kind == VT_LPSTR:
            # In place: a GUID in braces always has the same length.
            if struct.unpack_from("<I", stream, section + value + 4)[0] != len(code):
                raise ValueError("the package code is no GUID in braces")
            stream[section + value + 8:section + value + 8 + len(code)] = code
            codes += 1
    if not dates or codes != 1:
        raise ValueError("the summary holds no date or no package code")
    for o, byte in zip(where, stream):
        data[o] = byte
    with open(package, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    if len(sys.argv) != 4 or not re.fullmatch(r"\{[0-9A-Fa-f-]{36}\}", sys.argv[3]):
        sys.exit("usage: " + __doc__.strip().splitlines()[2].strip())
    try:
        set_summary(sys.argv[1], int(sys.argv[2]), sys.argv[3])
    except (OSError, ValueError, struct.error) as error:
        sys.exit(f"msi-summary: {sys.argv[1]}: {error}")
