#!/usr/bin/env python3
"""Turns the benchmark's raw figures into the printed report, a markdown file
and the data file that bench/chart.gp draws.

Inputs (all written by bench/run.sh into its work folder):
  pictures.tsv      key, file, bytes, pixels, offset of the Exif
  about.tsv         name, value: machine, versions, commit, settings
  loads.tsv         picture key, whether photomap opened libexiv2 (yes/no)
  timing-N.json     hyperfine --export-json of round N (photomap, exiv2, exiftool,
                    floor and, where built, photomap_unconfined as "unconfined")
  pages.tsv         tool, picture key, file bytes, resident bytes before and after
                    a run (bench/storage.py)
  storage-about.tsv name, value: bench/storage.py's settings, the read-ahead
and, for the full run only:
  rss.tsv           tool, picture key, max RSS in KiB (one line per run)
  io.tsv            tool, picture key, opens, reads, bytes read, mmaps, bytes mapped
  slow.tsv          tool, picture key, seconds, outcome, on the slow share
  browser.tsv       case, command, measure, seconds (bench/browser.py)

With --reader-only, only the pages and the hand-over tables are printed and
written, each with its goal beside the figures.
"""
import argparse
import glob
import json
import os
import random
import statistics

TOOLS = [
    ("photomap", "photomap"),
    ("exiv2", "exiv2 -g"),
    ("exiftool", "exiftool"),
    ("floor", "floor"),
]
STORAGE_TOOLS = TOOLS[:3]
FORMATS = [("jpeg", "JPEG"), ("tiff", "TIFF"), ("heic", "HEIC"), ("webp", "WebP"), ("png", "PNG")]
# Where each format's pictures keep their Exif (bench/run.sh checks it).
LAYOUTS = {"jpeg": "Exif at the front", "tiff": "directories at the end", "heic": "",
           "webp": "EXIF chunk after the image data", "png": "eXIf before IDAT"}
HANDOVER_KEYS = ("jpeg-small", "jpeg-large")
# Goals, printed beside the figures; none of them fails the run.
GOAL_VS_EXIV2 = 0.8  # photomap / exiv2 -g, at most
GOAL_VS_FLOOR = 1.3  # photomap / floor, at most
GOAL_CACHED_KIB = 256  # pages of a large picture left in the cache by photomap, at most
TARGET_VS_EXIFTOOL = 0.1  # photomap / exiftool, at most (10x faster)
TARGET_LARGE_SMALL = 1.1  # photomap large / small, at most
TARGET_RSS_BYTES = 10_000_000  # photomap max RSS, below (10 MB)
TARGET_READER_COST = 1.2  # photomap / photomap parsing in its own process, at most
BOOTSTRAP_ROUNDS = 2000


def picture_label(key):
    fmt, size = key.split("-")
    return f"{size} {dict(FORMATS)[fmt]}"


def load_pictures(path):
    pictures = {}
    with open(path) as f:
        for line in f:
            key, name, size, pixels, exif_at = line.rstrip("\n").split("\t")
            pictures[key] = {"file": name, "bytes": int(size), "pixels": pixels,
                             "exif at": int(exif_at)}
    return pictures


def load_table(path):
    """Lines of tab-separated fields; none when the file is not there."""
    if not os.path.exists(path):
        return []
    with open(path) as f:
        return [line.rstrip("\n").split("\t") for line in f]


def load_timing(paths):
    """Command name -> wall-clock times in seconds, pooled over the rounds."""
    times = {}
    for path in paths:
        with open(path) as f:
            for result in json.load(f)["results"]:
                times.setdefault(result["command"], []).extend(result["times"])
    return times


def median(times):
    return statistics.median(times)


def ratio_interval(a, b, rng):
    """Ratio of medians a/b with a 95% bootstrap interval."""
    point = median(a) / median(b)
    ratios = []
    for _ in range(BOOTSTRAP_ROUNDS):
        ra = median(rng.choices(a, k=len(a)))
        rb = median(rng.choices(b, k=len(b)))
        ratios.append(ra / rb)
    ratios.sort()
    low = ratios[int(0.025 * len(ratios))]
    high = ratios[int(0.975 * len(ratios)) - 1]
    return point, low, high


def verdict_at_most(point, low, high, target):
    """'met' when even the interval's top is within the target, 'missed' when
    even its bottom is past it; in between the noise decides."""
    if high <= target:
        return "met"
    if low > target:
        return "MISSED"
    return "met (within noise)" if point <= target else "MISSED (within noise)"


def ms(seconds):
    return f"{seconds * 1000:.2f}"


def mb(nbytes):
    return f"{nbytes / 1e6:.1f}"


def human_bytes(nbytes):
    if nbytes >= 1e6:
        return f"{nbytes / 1e6:.1f} MB"
    if nbytes >= 1e3:
        return f"{nbytes / 1e3:.1f} kB"
    return f"{nbytes} B"


def ratio_text(interval):
    point, low, high = interval
    return f"{point:.2f} ({low:.2f}–{high:.2f})"


class Table:
    def __init__(self, title, headers, note=None):
        self.title, self.headers, self.rows, self.note = title, headers, [], note

    def add(self, *cells):
        self.rows.append([str(c) for c in cells])

    def text(self):
        widths = [len(h) for h in self.headers]
        for row in self.rows:
            widths = [max(w, len(c)) for w, c in zip(widths, row)]

        def line(cells):
            return "  ".join(c.ljust(w) if i == 0 else c.rjust(w)
                             for i, (c, w) in enumerate(zip(cells, widths)))

        out = [self.title, line(self.headers), line(["-" * w for w in widths])]
        out += [line(row) for row in self.rows]
        if self.note:
            out.append(self.note)
        return "\n".join(out)

    def markdown(self):
        out = [f"### {self.title}", "", "| " + " | ".join(self.headers) + " |",
               "|" + "|".join(["---"] + ["---:"] * (len(self.headers) - 1)) + "|"]
        out += ["| " + " | ".join(row) + " |" for row in self.rows]
        if self.note:
            out += ["", self.note]
        return "\n".join(out)


def browser_table(path, own_time):
    """Until the browser has the tab, from bench/browser.py; None without its figures."""
    if not os.path.exists(path):
        return None
    runs = {}
    with open(path) as f:
        for line in f:
            case, command, measure, seconds = line.rstrip("\n").split("\t")
            runs.setdefault((case, command, measure), []).append(float(seconds))

    def cell(case, command, measure):
        times = runs.get((case, command, measure))
        return ms(median(times)) if times else "–"

    def count(case):
        return len(runs.get((case, "photomap", "tab"), []))

    t = Table("Until the browser has the tab: headless chromium, the real xdg-open, small JPEG, "
              "median in ms (%d runs with chromium running, %d starting it)"
              % (count("warm"), count("cold")),
              ["command, from its start", "chromium running", "chromium started for it"],
              note="chromium running: the https handler hands the URL to it over DevTools, as a "
                   "second chromium on a desktop hands it to the running one; the tab counts "
                   "once chromium lists it (polled every 5 ms), before any page loads. photomap "
                   "waits for xdg-open's exit up to 2 s: with chromium started for it, xdg-open "
                   "(no desktop here) waits for chromium, so photomap exits after those 2 s.")
    t.add("photomap, with a stand-in xdg-open that exits at once: exit", ms(own_time), "")
    t.add("xdg-open URL: exit", cell("warm", "xdg-open", "exit"), "")
    t.add("xdg-open URL: tab", cell("warm", "xdg-open", "tab"), "")
    t.add("photomap PICTURE, the real xdg-open: exit", cell("warm", "photomap", "exit"),
          cell("cold", "photomap", "exit"))
    t.add("photomap PICTURE, the real xdg-open: tab", cell("warm", "photomap", "tab"),
          cell("cold", "photomap", "tab"))
    return t


def kib(nbytes):
    return f"{nbytes / 1024:,.0f}"


def goal_text(interval, goal):
    return f"{ratio_text(interval)}, {verdict_at_most(*interval, goal)}"


def timing_table(timing, rounds, pictures, keys, rng, targets):
    """Start to exit (photomap, the floor: to the stand-in's exit) with the goals."""
    def times(tool, key):
        return timing[f"{tool} {key}"]

    runs = len(times("photomap", keys[0]))
    t = Table("Start to hand-over (exiv2 -g, exiftool: to exit), median in ms (ratios of "
              "medians, 95% bootstrap interval)",
              ["picture", "file size", "photomap", "exiv2 -g", "exiftool", "floor",
               f"photomap/exiv2 -g (goal ≤ {GOAL_VS_EXIV2})",
               f"photomap/floor (goal ≤ {GOAL_VS_FLOOR})", "photomap/exiftool"],
              note=f"{runs} runs a command, from {rounds} hyperfine run(s) of all the commands "
                   "side by side. photomap and "
                   "the floor (bench/floor.c: a 64 KiB pread, then xdg-open spawned and waited "
                   "for) hand the URL to a stand-in xdg-open, /bin/true, and wait for its exit.")
    for key in keys:
        vs_exiv2 = ratio_interval(times("photomap", key), times("exiv2", key), rng)
        vs_floor = ratio_interval(times("photomap", key), times("floor", key), rng)
        vs_exiftool = ratio_interval(times("photomap", key), times("exiftool", key), rng)
        t.add(picture_label(key), human_bytes(pictures[key]["bytes"]),
              *[ms(median(times(tool, key))) for tool, _ in TOOLS],
              goal_text(vs_exiv2, GOAL_VS_EXIV2), goal_text(vs_floor, GOAL_VS_FLOOR),
              ratio_text(vs_exiftool))
        label = picture_label(key)
        targets.append((f"photomap ≤ {GOAL_VS_EXIV2}× exiv2 -g, {label}",
                        f"{vs_exiv2[0]:.2f}×", verdict_at_most(*vs_exiv2, GOAL_VS_EXIV2)))
        targets.append((f"photomap ≤ {GOAL_VS_FLOOR}× the floor, {label}",
                        f"{vs_floor[0]:.2f}×", verdict_at_most(*vs_floor, GOAL_VS_FLOOR)))
        targets.append((f"photomap ≥ 10× faster than exiftool, {label}",
                        f"{1 / vs_exiftool[0]:.1f}× faster",
                        verdict_at_most(*vs_exiftool, TARGET_VS_EXIFTOOL)))
    return t


def pages_table(work, pictures, targets):
    """Pages left in the cache (bench/storage.py), beside the read-ahead."""
    about = dict(load_table(f"{work}/storage-about.tsv"))
    pages = {(tool, key): (int(before), int(after))
             for tool, key, _, before, after in load_table(f"{work}/pages.tsv")}
    loads = dict(load_table(f"{work}/loads.tsv"))
    read_ahead = about.get("read-ahead", "?")
    t = Table("Pages of the picture left in the page cache after one run, KiB (evicted first "
              "with posix_fadvise DONTNEED, counted with fincore); read-ahead of the pictures' "
              f"device {read_ahead.split(';')[0]}",
              ["picture", "file size", "Exif at"] + [name for _, name in STORAGE_TOOLS]
              + [f"goal: photomap ≤ {GOAL_CACHED_KIB} KiB", "photomap loaded libexiv2"],
              note="Left in the cache: what the tool read, or touched in a mapping, with the "
                   "kernel's read-ahead around it; what slow storage must deliver. Read-ahead "
                   f"(/sys/block/*/queue/read_ahead_kb): {read_ahead}. photomap: "
                   f"{about.get('photomap', '?')}; {about.get('date', '?')}, load average at "
                   f"start {about.get('load average at start', '?')}.")

    def cell(tool, key):
        before, after = pages[(tool, key)]
        return kib(after) + (f" ({kib(before)} resident before)" if before else "")

    for key, picture in pictures.items():
        if ("photomap", key) not in pages:
            continue
        layout = LAYOUTS[key.split("-")[0]]
        label = picture_label(key) + (f", {layout}" if layout else "")
        at = picture["exif at"]
        after = pages[("photomap", key)][1]
        goal = ""
        if key.endswith("-large"):
            goal = "met" if after <= GOAL_CACHED_KIB * 1024 else "MISSED"
            targets.append((f"photomap leaves ≤ {GOAL_CACHED_KIB} KiB in the cache, {label}",
                            f"{kib(after)} KiB", goal))
        t.add(label, human_bytes(picture["bytes"]),
              f"{human_bytes(at)} ({100 * at / picture['bytes']:.0f} %)",
              *[cell(tool, key) for tool, _ in STORAGE_TOOLS], goal, loads.get(key, "?"))
    return t


def unconfined_table(timing, keys, rng, targets):
    """What the confined reader process costs; None where photomap_unconfined was not built."""
    if f"unconfined {keys[0]}" not in timing:
        return None
    t = Table("The reader process's cost: time from start to exit, median in ms (photomap, and "
              "the same program parsing in its own process; ratio: 95% bootstrap interval)",
              ["picture", "photomap", "parsing in its own process", "ratio"],
              note="parsing in its own process: photomap_unconfined, built from the same sources "
                   "with bench/unconfined_reader.cpp for the reader.")
    for key in keys:
        photomap, unconfined = timing[f"photomap {key}"], timing[f"unconfined {key}"]
        cost = ratio_interval(photomap, unconfined, rng)
        t.add(picture_label(key), ms(median(photomap)), ms(median(unconfined)), ratio_text(cost))
        if key == "jpeg-small":
            targets.append((f"photomap ≤ {TARGET_READER_COST:.1f}× parsing in its own process, "
                            f"{picture_label(key)}", f"{cost[0]:.2f}×",
                            verdict_at_most(*cost, TARGET_READER_COST)))
    return t


def large_small_table(timing, pictures, rng, targets):
    t = Table("Large picture / small picture, ratio of medians (95% bootstrap interval)",
              ["format", "small → large"] + [name for _, name in TOOLS])
    for fmt, fmt_name in FORMATS:
        small, large = f"{fmt}-small", f"{fmt}-large"
        cells = []
        for tool, _ in TOOLS:
            interval = ratio_interval(timing[f"{tool} {large}"], timing[f"{tool} {small}"], rng)
            cells.append(ratio_text(interval))
            if tool == "photomap":
                targets.append((f"photomap large/small ≤ {TARGET_LARGE_SMALL}, {fmt_name}",
                                f"{interval[0]:.2f}",
                                verdict_at_most(*interval, TARGET_LARGE_SMALL)))
        t.add(fmt_name, f"{human_bytes(pictures[small]['bytes'])} → "
                        f"{human_bytes(pictures[large]['bytes'])}", *cells)
    return t


def memory_table(work, keys, targets):
    rss = {}
    for tool, key, peak in load_table(f"{work}/rss.tsv"):
        rss[(tool, key)] = max(rss.get((tool, key), 0), int(peak) * 1024)
    t = Table("Peak memory, max RSS in MB (/usr/bin/time -v, highest of the runs)",
              ["picture"] + [name for _, name in TOOLS])
    for key in keys:
        t.add(picture_label(key), *[mb(rss[(tool, key)]) for tool, _ in TOOLS])
        peak = rss[("photomap", key)]
        targets.append((f"photomap max RSS < {TARGET_RSS_BYTES / 1e6:.0f} MB, {picture_label(key)}",
                        f"{mb(peak)} MB", "met" if peak < TARGET_RSS_BYTES else "MISSED"))
    return t


def io_table(work, pictures, keys, targets):
    io = {}
    for tool, key, opens, reads, read, mmaps, mapped in load_table(f"{work}/io.tsv"):
        io[(tool, key)] = {"opens": int(opens), "reads": int(reads), "read": int(read),
                           "mmaps": int(mmaps), "mapped": int(mapped)}
    t = Table("Bytes taken from the picture (strace: read/pread64 on the picture's descriptors; "
              "mmap lengths counted apart, mapped is not read)",
              ["picture", "file size", "photomap reads", "photomap read", "photomap mmap",
               "exiv2 -g read", "exiv2 -g mmap", "exiftool read"])
    for key in keys:
        p, e, x = io[("photomap", key)], io[("exiv2", key)], io[("exiftool", key)]
        t.add(picture_label(key), human_bytes(pictures[key]["bytes"]), p["reads"],
              human_bytes(p["read"]), human_bytes(p["mapped"]) if p["mmaps"] else "–",
              human_bytes(e["read"]), human_bytes(e["mapped"]) if e["mmaps"] else "–",
              human_bytes(x["read"]))
    for fmt, fmt_name in FORMATS:
        small, large = io[("photomap", f"{fmt}-small")], io[("photomap", f"{fmt}-large")]
        note = ""
        if large["mapped"] > 1.1 * small["mapped"] + 4096:
            note = f"; maps {human_bytes(large['mapped'])} (the whole file)"
        targets.append((f"photomap's read does not grow with the image data, {fmt_name}",
                        f"{human_bytes(small['read'])} → {human_bytes(large['read'])}{note}",
                        "MISSED (grows)" if large["read"] > 1.1 * small["read"] + 4096
                        else "met"))
    return t


def slow_table(work, keys, targets):
    about = dict(load_table(f"{work}/storage-about.tsv"))
    slow = {}
    for tool, key, seconds, outcome in load_table(f"{work}/slow.tsv"):
        slow.setdefault((tool, key), []).append((float(seconds), outcome))

    def timed(tool, key):
        runs = slow[(tool, key)]
        return (ms(median([seconds for seconds, _ in runs])),
                ", ".join(sorted({outcome for _, outcome in runs})))

    t = Table(f"On a share answering each read in {about.get('read delay', '?')} (FUSE, "
              "tests/support/slowfs.py): time from start to exit, median of "
              f"{about.get('slow runs', '?')} runs in ms, and what the runs ended with",
              ["picture", "photomap", "photomap ended with", "exiv2 -g", "exiv2 found",
               "exiftool", "exiftool found"],
              note="The kernel keeps no page of the share's files across opens, so every run "
                   "reads through the delay.")
    for key in keys:
        t.add(picture_label(key), *timed("photomap", key), *timed("exiv2", key),
              *timed("exiftool", key))
        outcomes = {outcome for _, outcome in slow[("photomap", key)]}
        targets.append((f"photomap opens the map on the slow share, {picture_label(key)}",
                        ", ".join(sorted(outcomes)), "met" if outcomes == {"map"} else "MISSED"))
    return t


def targets_table(targets):
    noisy = any("within noise" in verdict for _, _, verdict in targets)
    t = Table("Targets (reported, not enforced)", ["target", "figure", "verdict"],
              note="within noise: the 95% interval of the ratio straddles the target; "
                   "rerun on a quiet machine." if noisy else None)
    for target in targets:
        t.add(*target)
    return t


def write_markdown(path, about, tables, chart):
    with open(path, "w") as f:
        f.write("# photomap benchmark results\n\n")
        f.write("Written by `bench/run.sh`; do not edit by hand.\n\n")
        if chart:
            f.write("![Time from start to exit, median](results.svg)\n\n")
        f.write("| | |\n|---|---|\n")
        for name, value in about:
            f.write(f"| {name} | {value} |\n")
        f.write("\n" + "\n\n".join(table.markdown() for table in tables) + "\n")


def write_chart_data(path, timing, keys):
    with open(path, "w") as f:
        f.write("picture\t" + "\t".join(f'"{name}"' for _, name in TOOLS) + "\n")
        for key in keys:
            f.write(f'"{picture_label(key)}"\t'
                    + "\t".join(f"{median(timing[f'{tool} {key}']) * 1000:.4f}"
                                for tool, _ in TOOLS) + "\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--work", required=True)
    parser.add_argument("--markdown", required=True)
    parser.add_argument("--chart-data")
    parser.add_argument("--reader-only", action="store_true")
    args = parser.parse_args()
    if not args.reader_only and not args.chart_data:
        parser.error("--chart-data is needed")
    work = args.work
    pictures = load_pictures(f"{work}/pictures.tsv")
    about = load_table(f"{work}/about.tsv")
    rounds = sorted(glob.glob(f"{work}/timing-*.json"))
    timing = load_timing(rounds)
    keys = [key for key in pictures if f"photomap {key}" in timing]
    rng = random.Random(1)
    targets = []

    tables = [pages_table(work, pictures, targets),
              timing_table(timing, len(rounds), pictures, keys, rng, targets)]
    if not args.reader_only:
        tables += [unconfined_table(timing, keys, rng, targets),
                   large_small_table(timing, pictures, rng, targets),
                   memory_table(work, keys, targets),
                   io_table(work, pictures, keys, targets),
                   browser_table(f"{work}/browser.tsv", median(timing["photomap jpeg-small"])),
                   slow_table(work, keys, targets),
                   targets_table(targets)]
        tables = [table for table in tables if table is not None]
        write_chart_data(args.chart_data, timing, keys)

    print()
    print("\n\n".join(table.text() for table in tables))
    write_markdown(args.markdown, about, tables, chart=not args.reader_only)


if __name__ == "__main__":
    main()
