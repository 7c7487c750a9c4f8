#!/usr/bin/env python3
"""Turns the benchmark's raw figures into the printed report, bench/results.md
and the data file that bench/chart.gp draws.

Inputs (all written by bench/run.sh into its work folder):
  pictures.tsv      key, file, bytes, pixels
  timing-N.json     hyperfine --export-json of round N's main run (photomap, exiv2,
                    exiftool, floor and photomap_unconfined as "unconfined")
  breakdown-N.json  hyperfine --export-json of round N's start-up breakdown run
  rss.tsv           tool, picture key, max RSS in KiB (one line per run)
  io.tsv            tool, picture key, opens, reads, bytes read, mmaps, bytes mapped
  about.tsv         name, value: machine, versions, commit, settings
  browser.tsv       case, command, measure, seconds (bench/browser.py; optional)
  pages.tsv         tool, picture key, file bytes, resident bytes before and after a
                    run (bench/storage.py; optional, as are the next two)
  slow.tsv          tool, picture key, seconds, outcome, on the slow share
  storage-about.tsv name, value: the build and settings of bench/storage.py's run

With --storage-only, only the tables of bench/storage.py are printed, and
they replace their part of an existing --markdown file.
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
FORMATS = [("jpeg", "JPEG"), ("tiff", "TIFF"), ("heic", "HEIC"), ("png", "PNG")]
SIZES = ["small", "large"]
# Targets, reported against; none of them fails the run.
TARGET_VS_EXIV2 = 1.0  # photomap / exiv2 -g, at most
TARGET_VS_EXIFTOOL = 0.1  # photomap / exiftool, at most (10x faster)
TARGET_LARGE_SMALL = 1.1  # photomap large / small, at most
TARGET_LARGE_SMALL_FORMATS = ("jpeg", "tiff", "heic")
TARGET_RSS_BYTES = 10_000_000  # photomap max RSS, below (10 MB)
TARGET_READER_COST = 1.2  # photomap / photomap parsing in its own process, at most
BOOTSTRAP_ROUNDS = 2000
PAGE = os.sysconf("SC_PAGE_SIZE")
STORAGE_TOOLS = [("photomap", "photomap"), ("exiv2", "exiv2 -g"), ("exiftool", "exiftool")]
# bench/storage.py's tables sit between these lines in results.md, so that
# bench/run.sh --storage-only can replace them alone.
# At most this much of a picture whose position is in the Exif GPS directory
# (JPEG, TIFF, HEIC) may be touched, whatever its size.
TARGET_TOUCHED_BYTES = 256 * 1024
TARGET_TOUCHED_FORMATS = ("jpeg", "tiff", "heic")
STORAGE_BEGIN = "<!-- pages touched and the slow share: bench/storage.py -->"
STORAGE_END = "<!-- end of bench/storage.py's tables -->"


def picture_key(fmt, size):
    return f"{fmt}-{size}"


def picture_label(key):
    fmt, size = key.split("-")
    return f"{size} {dict(FORMATS)[fmt]}"


def load_pictures(path):
    pictures = {}
    with open(path) as f:
        for line in f:
            key, name, size, pixels = line.rstrip("\n").split("\t")
            pictures[key] = {"file": name, "bytes": int(size), "pixels": pixels}
    return pictures


def load_timing(paths):
    """Command name -> wall-clock times in seconds, pooled over the rounds."""
    times = {}
    for path in paths:
        with open(path) as f:
            for result in json.load(f)["results"]:
                times.setdefault(result["command"], []).extend(result["times"])
    return times


def load_rss(path):
    rss = {}
    with open(path) as f:
        for line in f:
            tool, key, kib = line.split()
            rss[(tool, key)] = max(rss.get((tool, key), 0), int(kib))
    return rss


def load_io(path):
    io = {}
    with open(path) as f:
        for line in f:
            tool, key, opens, reads, read_bytes, mmaps, mapped = line.split()
            io[(tool, key)] = {
                "opens": int(opens),
                "reads": int(reads),
                "read": int(read_bytes),
                "mmaps": int(mmaps),
                "mapped": int(mapped),
            }
    return io


def load_about(path):
    about = []
    with open(path) as f:
        for line in f:
            name, _, value = line.rstrip("\n").partition("\t")
            about.append((name, value))
    return about


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


def storage_tables(work, pictures, keys):
    """The tables of bench/storage.py's figures; none without them."""
    if not os.path.exists(f"{work}/pages.tsv") or not os.path.exists(f"{work}/slow.tsv"):
        return []
    about = dict(load_about(f"{work}/storage-about.tsv"))
    pages = {}
    with open(f"{work}/pages.tsv") as f:
        for line in f:
            tool, key, _, before, after = line.split()
            pages[(tool, key)] = (int(before), int(after))
    slow = {}
    with open(f"{work}/slow.tsv") as f:
        for line in f:
            tool, key, seconds, outcome = line.rstrip("\n").split("\t")
            slow.setdefault((tool, key), []).append((float(seconds), outcome))
    source = (f"photomap: {about.get('photomap', '?')}; {about.get('date', '?')}, "
              f"load average at start {about.get('load average at start', '?')}.")

    def touched(tool, key):
        before, after = pages[(tool, key)]
        cell = f"{after // PAGE} ({human_bytes(after)})"
        return cell if before == 0 else cell + f", {human_bytes(before)} resident before"

    t = Table("Pages of the picture touched by one run (evicted first with posix_fadvise "
              "DONTNEED, resident afterwards counted with fincore), pages (bytes)",
              ["picture", "file size", "whole file"] + [name for _, name in STORAGE_TOOLS],
              note="Resident afterwards: what the tool read or touched in a mapping, with the "
                   "kernel's readahead around it, which is what slow storage must deliver. "
                   + source)
    for key in keys:
        size = pictures[key]["bytes"]
        t.add(picture_label(key), human_bytes(size), -(-size // PAGE),
              *[touched(tool, key) for tool, _ in STORAGE_TOOLS])
    tables = [t]

    def timed(tool, key):
        runs = slow[(tool, key)]
        outcomes = sorted({outcome for _, outcome in runs})
        return ms(median([seconds for seconds, _ in runs])), ", ".join(outcomes)

    runs = len(slow[("photomap", keys[0])])
    t = Table(f"On a share answering each read in {about.get('read delay', '?')} (FUSE, "
              f"tests/support/slowfs.py): time from start to exit, median of {runs} runs in ms, "
              "and what the runs ended with",
              ["picture", "photomap", "photomap ended with", "exiv2 -g", "exiv2 found",
               "exiftool", "exiftool found"],
              note="The kernel keeps no page of the share's files across opens, so every run "
                   "reads through the delay. " + source)
    for key in keys:
        t.add(picture_label(key), *timed("photomap", key), *timed("exiv2", key),
              *timed("exiftool", key))
    tables.append(t)

    t = Table("Storage targets (reported, not enforced)", ["target", "figure", "verdict"])
    for key in keys:
        if key.split("-")[0] in TARGET_TOUCHED_FORMATS:
            after = pages[("photomap", key)][1]
            t.add(f"photomap touches at most {TARGET_TOUCHED_BYTES // 1024} KiB, "
                  f"{picture_label(key)}", human_bytes(after),
                  "met" if after <= TARGET_TOUCHED_BYTES else "MISSED")
    for key in keys:
        outcomes = {outcome for _, outcome in slow[("photomap", key)]}
        t.add(f"photomap opens the map on the slow share, {picture_label(key)}",
              ", ".join(sorted(outcomes)), "met" if outcomes == {"map"} else "MISSED")
    tables.append(t)
    return tables


def storage_markdown(tables):
    return "\n".join([STORAGE_BEGIN, "\n\n".join(table.markdown() for table in tables),
                      STORAGE_END])


def splice_storage(path, tables):
    """Puts the storage tables into an existing results.md, in place of the old ones."""
    with open(path) as f:
        text = f.read()
    section = storage_markdown(tables)
    if STORAGE_BEGIN in text and STORAGE_END in text:
        head, _, rest = text.partition(STORAGE_BEGIN)
        _, _, tail = rest.partition(STORAGE_END)
        text = head + section + tail
    elif "### Targets" in text:
        head, _, tail = text.partition("### Targets")
        text = head + section + "\n\n### Targets" + tail
    else:
        text = text.rstrip("\n") + "\n\n" + section + "\n"
    with open(path, "w") as f:
        f.write(text)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--work", required=True)
    parser.add_argument("--markdown", required=True)
    parser.add_argument("--chart-data")
    parser.add_argument("--storage-only", action="store_true")
    args = parser.parse_args()
    work = args.work

    if args.storage_only:
        pictures = load_pictures(f"{work}/pictures.tsv")
        keys = [picture_key(fmt, size) for fmt, _ in FORMATS for size in SIZES]
        tables = storage_tables(work, pictures, keys)
        if not tables:
            parser.error(f"no figures of bench/storage.py in {work}")
        print()
        print("\n\n".join(table.text() for table in tables))
        splice_storage(args.markdown, tables)
        return
    if not args.chart_data:
        parser.error("--chart-data is needed")

    pictures = load_pictures(f"{work}/pictures.tsv")
    timing = load_timing(sorted(glob.glob(f"{work}/timing-*.json")))
    breakdown = load_timing(sorted(glob.glob(f"{work}/breakdown-*.json")))
    rss = load_rss(f"{work}/rss.tsv")
    io = load_io(f"{work}/io.tsv")
    about = load_about(f"{work}/about.tsv")
    rng = random.Random(1)
    keys = [picture_key(fmt, size) for fmt, _ in FORMATS for size in SIZES]

    def times(tool, key):
        return timing[f"{tool} {key}"]

    tables = []
    targets = []

    # 1. Medians and ratios.
    t = Table("Time from start to exit, median in ms (ratios: median / median, 95% bootstrap interval)",
              ["picture", "file size", "photomap", "exiv2 -g", "exiftool", "floor",
               "photomap/exiv2", "photomap/exiftool", "photomap/floor"])
    for key in keys:
        vs_exiv2 = ratio_interval(times("photomap", key), times("exiv2", key), rng)
        vs_exiftool = ratio_interval(times("photomap", key), times("exiftool", key), rng)
        vs_floor = ratio_interval(times("photomap", key), times("floor", key), rng)
        t.add(picture_label(key), human_bytes(pictures[key]["bytes"]),
              *[ms(median(times(tool, key))) for tool, _ in TOOLS],
              ratio_text(vs_exiv2), ratio_text(vs_exiftool), ratio_text(vs_floor))
        targets.append((f"photomap ≤ {TARGET_VS_EXIV2:.1f}× exiv2 -g, {picture_label(key)}",
                        f"{vs_exiv2[0]:.2f}×", verdict_at_most(*vs_exiv2, TARGET_VS_EXIV2)))
        targets.append((f"photomap ≥ 10× faster than exiftool, {picture_label(key)}",
                        f"{1 / vs_exiftool[0]:.1f}× faster",
                        verdict_at_most(*vs_exiftool, TARGET_VS_EXIFTOOL)))
    tables.append(t)

    # 1b. What the confined reader process costs.
    t = Table("The reader process's cost: time from start to exit, median in ms (photomap, and "
              "the same program parsing in its own process; ratio: 95% bootstrap interval)",
              ["picture", "photomap", "parsing in its own process", "ratio"],
              note="parsing in its own process: photomap_unconfined, built from the same sources "
                   "with bench/unconfined_reader.cpp for the reader.")
    for key in keys:
        cost = ratio_interval(times("photomap", key), times("unconfined", key), rng)
        t.add(picture_label(key), ms(median(times("photomap", key))),
              ms(median(times("unconfined", key))), ratio_text(cost))
        if key == picture_key("jpeg", "small"):
            targets.append((f"photomap ≤ {TARGET_READER_COST:.1f}× parsing in its own process, "
                            f"{picture_label(key)}", f"{cost[0]:.2f}×",
                            verdict_at_most(*cost, TARGET_READER_COST)))
    tables.append(t)

    # 2. Large / small.
    t = Table("Large picture / small picture, ratio of medians (95% bootstrap interval)",
              ["format", "small → large"] + [name for _, name in TOOLS])
    for fmt, fmt_name in FORMATS:
        small, large = picture_key(fmt, "small"), picture_key(fmt, "large")
        cells = []
        for tool, _ in TOOLS:
            interval = ratio_interval(times(tool, large), times(tool, small), rng)
            cells.append(ratio_text(interval))
            if tool == "photomap" and fmt in TARGET_LARGE_SMALL_FORMATS:
                targets.append((f"photomap large/small ≤ {TARGET_LARGE_SMALL}, {fmt_name}",
                                f"{interval[0]:.2f}",
                                verdict_at_most(*interval, TARGET_LARGE_SMALL)))
        t.add(fmt_name, f"{human_bytes(pictures[small]['bytes'])} → "
                        f"{human_bytes(pictures[large]['bytes'])}", *cells)
    tables.append(t)

    # 3. Where photomap's time goes, on the small JPEG.
    names = ["floor", "linked floor", "photomap, no hand-over", "photomap"]
    medians = [median(breakdown[n]) for n in names]
    exiv2_median = median(breakdown["exiv2 -g"])
    t = Table("Where photomap's time goes, small JPEG, median in ms (a run of its own in each round; "
              "every command started through /usr/bin/env, which adds the same to each)",
              ["step", "median", "added by this step"],
              note="linked floor: a do-nothing program linked against libexiv2 as photomap is. "
                   "no hand-over: no xdg-open on PATH (posix_spawnp still clones, but runs "
                   "nothing). photomap waits for xdg-open's exit, to report a failed launch: "
                   "here the stand-in's own run.")
    steps = ["floor (do-nothing C program)", "+ load libexiv2 and its dependencies",
             "+ photomap's own work (exiv2 set-up, open, read, URL)",
             "+ hand-over (posix_spawnp of xdg-open, and waiting for its exit)"]
    for i, (step, value) in enumerate(zip(steps, medians)):
        t.add(step, ms(value), "" if i == 0 else ms(value - medians[i - 1]))
    t.add("exiv2 -g, for comparison: linked floor + its own work", ms(exiv2_median),
          ms(exiv2_median - medians[1]))
    tables.append(t)

    # 4. Peak memory.
    t = Table("Peak memory, max RSS in MB (/usr/bin/time -v, highest of the runs)",
              ["picture"] + [name for _, name in TOOLS])
    for key in keys:
        t.add(picture_label(key), *[mb(rss[(tool, key)] * 1024) for tool, _ in TOOLS])
        peak = rss[("photomap", key)] * 1024
        targets.append((f"photomap max RSS < {TARGET_RSS_BYTES / 1e6:.0f} MB, {picture_label(key)}",
                        f"{mb(peak)} MB", "met" if peak < TARGET_RSS_BYTES else "MISSED"))
    tables.append(t)

    # 5. Bytes taken from the picture.
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
    tables.append(t)
    for fmt, fmt_name in FORMATS:
        small = io[("photomap", picture_key(fmt, "small"))]
        large = io[("photomap", picture_key(fmt, "large"))]
        grows = large["read"] > 1.1 * small["read"] + 4096
        note = ""
        if large["mapped"] > 1.1 * small["mapped"] + 4096:
            note = f"; maps {human_bytes(large['mapped'])} (the whole file)"
        targets.append((f"photomap's read does not grow with the image data, {fmt_name}",
                        f"{human_bytes(small['read'])} → {human_bytes(large['read'])}{note}",
                        "MISSED (grows)" if grows else "met"))

    # 6. Until the browser has the tab.
    browser = browser_table(f"{work}/browser.tsv", median(times("photomap", "jpeg-small")))
    if browser:
        tables.append(browser)

    storage = storage_tables(work, pictures, keys)

    # Targets.
    noisy = any("within noise" in verdict for _, _, verdict in targets)
    t = Table("Targets (reported, not enforced)", ["target", "figure", "verdict"],
              note="within noise: the 95% interval of the ratio straddles the target; "
                   "rerun on a quiet machine." if noisy else None)
    for target in targets:
        t.add(*target)
    tables.append(t)

    tables = tables[:-1] + storage + tables[-1:]
    print()
    print("\n\n".join(table.text() for table in tables))

    with open(args.markdown, "w") as f:
        f.write("# photomap benchmark results\n\n")
        f.write("Written by `bench/run.sh`; do not edit by hand.\n\n")
        f.write("![Time from start to exit, median](results.svg)\n\n")
        f.write("| | |\n|---|---|\n")
        for name, value in about:
            f.write(f"| {name} | {value} |\n")
        f.write("\n")
        parts = [table.markdown() for table in tables if table not in storage]
        if storage:
            parts.insert(len(parts) - 1, storage_markdown(storage))
        f.write("\n\n".join(parts))
        f.write("\n")

    with open(args.chart_data, "w") as f:
        f.write("picture\t" + "\t".join(f'"{name}"' for _, name in TOOLS) + "\n")
        for key in keys:
            f.write(f'"{picture_label(key)}"\t'
                    + "\t".join(f"{median(times(tool, key)) * 1000:.4f}" for tool, _ in TOOLS)
                    + "\n")


if __name__ == "__main__":
    main()
