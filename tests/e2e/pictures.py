"""Test pictures with chosen GPS metadata, made with ImageMagick and exiv2."""

import os
import subprocess


def _dms_rationals(degrees, minutes, seconds):
    """exiv2's rational syntax for d/m/s, seconds to a hundredth."""
    return f"{degrees}/1 {minutes}/1 {round(seconds * 100)}/100"


def blank_image(path, size="32x24"):
    """A plain image in the format that the file name's extension gives."""
    subprocess.run(["convert", "-size", size, "gradient:white-navy", "-strip", path], check=True)
    return path


def set_tags(path, *commands):
    """Applies exiv2 modify commands such as 'set Exif.GPSInfo.GPSLatitudeRef N'."""
    arguments = ["exiv2", "-q"]
    for command in commands:
        arguments.append("-M" + command)
    subprocess.run(arguments + [path], check=True)
    return path


def exif_gps(latitude=None, longitude=None):
    """exiv2 commands for EXIF GPS tags; each coordinate is (d, m, s, ref)."""
    commands = []
    for axis, value in (("Latitude", latitude), ("Longitude", longitude)):
        if value is None:
            continue
        degrees, minutes, seconds, reference = value
        commands.append(f"set Exif.GPSInfo.GPS{axis} {_dms_rationals(degrees, minutes, seconds)}")
        if reference is not None:
            commands.append(f"set Exif.GPSInfo.GPS{axis}Ref {reference}")
    return commands


def xmp_gps(latitude, longitude):
    """exiv2 commands for XMP GPS values in the "DDD,MM,SSk" / "DDD,MM.mmk" forms."""
    return [f"set Xmp.exif.GPSLatitude {latitude}", f"set Xmp.exif.GPSLongitude {longitude}"]


def picture(path, latitude=None, longitude=None, extra=()):
    """A picture at `path` with the given EXIF GPS position and extra exiv2 commands."""
    blank_image(path)
    commands = exif_gps(latitude, longitude) + list(extra)
    if commands:
        set_tags(path, *commands)
    return path


def expected_degrees(degrees, minutes, seconds, reference):
    """Signed decimal degrees, summed in the program's order."""
    parts = [degrees, minutes, round(seconds * 100) / 100]
    value, divisor = 0.0, 1.0
    for part in parts:
        value = part / divisor + value
        divisor *= 60.0
    return -value if reference in ("S", "W") else value


def place(latitude, longitude):
    """The map place URL for two signed decimal coordinates."""
    def fixed(value):
        text = "%.8f" % (0.0 if value == 0.0 else value)
        return text
    return f"https://www.google.com/maps/place/{fixed(latitude)},{fixed(longitude)}"


def truncated_copy(source, destination, length):
    with open(source, "rb") as original, open(destination, "wb") as copy:
        copy.write(original.read(length))
    return destination


def file_uri(path):
    """A file:// URI for an absolute path, with bytes outside [A-Za-z0-9/._-] percent-encoded."""
    raw = os.fsencode(os.path.abspath(path))
    safe = b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-"
    encoded = "".join(chr(b) if b in safe else "%%%02X" % b for b in raw)
    return "file://" + encoded
