#!/usr/bin/python3
"""make bench: runs every benchmark program of the build (OUT/*_bench), each
in one run with its peer, shows each program's output as it goes, then prints
one table of the ratios qvtav / peer (below 1: qvtav is faster, or needs
fewer requests than the ideal count).

    bench_table.py OUT_DIR [--markdown] [--quick]

--markdown prints the table as Markdown (the README's performance table);
--quick runs each benchmark once instead of taking the median of three.

A benchmark program that lands later adds its pairs to PAIRS below; a
program without pairs still runs, and the table says so.
"""
import json
import os
import platform
import re
import subprocess
import sys
import tempfile
import time

# Google Benchmark programs: (program, case, our benchmark, peer benchmark, peer).
PAIRS = [
    ("page_info_bench", "page information, every page in order, 1000 pages",
     "BM_QvtavPageInfoEveryPage/1000", "BM_LibtiffReadDirectoryEveryPage/1000", "libtiff"),
    ("page_info_bench", "page information, every page in order, 10 000 pages",
     "BM_QvtavPageInfoEveryPage/10000", "BM_LibtiffReadDirectoryEveryPage/10000", "libtiff"),
    ("page_info_bench", "page information, 200 random pages of 1000",
     "BM_QvtavPageInfoRandom/1000", "BM_LibtiffSetDirectoryRandom/1000", "libtiff"),
    ("page_info_bench", "page information, 200 random pages of 10 000",
     "BM_QvtavPageInfoRandom/10000", "BM_LibtiffSetDirectoryRandom/10000", "libtiff"),
    ("open_bench", "open and count 10 000 pages",
     "BM_QvtavOpenCount/10000", "BM_LibtiffOpenCount/10000", "libtiff"),
    ("open_bench", "find every page of 10 000",
     "BM_QvtavLookupEveryPage/10000", "BM_LibtiffReadDirectoryLoop/10000", "libtiff"),
    ("page_read_bench", "page data, 256 MB in 1 MB pieces", "BM_Xtavread1MB", "BM_Read2_1MB", "read(2)"),
    ("write_bench", "write 1000 pages of 100 KB",
     "BM_QvtavWritePages/1000/102400/iterations:3/real_time",
     "BM_LibtiffWritePages/1000/102400/iterations:3/real_time", "libtiff"),
    ("write_bench", "write 10 000 pages of 300 bytes",
     "BM_QvtavWritePages/10000/300/iterations:3/real_time",
     "BM_LibtiffWritePages/10000/300/iterations:3/real_time", "libtiff"),
    ("xiff_bench", "XIFF page, 2550 x 3300 T.6 at 300 dpi", "BM_XiffPageQvtav/0", "BM_XiffPageLibtiff/0",
     "libtiff decoding"),
    ("xiff_bench", "XIFF page, 1200 x 1600 RGB", "BM_XiffPageQvtav/1", "BM_XiffPageLibtiff/1", "libtiff decoding"),
    ("block_write_bench", "block file: write 1000 fax pages of 300 bytes",
     "BM_BlockWritePages/1000/iterations:3/real_time", "BM_LibtiffWritePages/1000/iterations:3/real_time", "libtiff"),
    ("block_write_bench", "block file: write 10 000 fax pages of 300 bytes",
     "BM_BlockWritePages/10000/iterations:3/real_time", "BM_LibtiffWritePages/10000/iterations:3/real_time",
     "libtiff"),
    ("awd_bench", "AWD: read 20 fax pages of 1728 x 2200, band by band", "BM_AwdRead20Pages",
     "BM_LibtiffRead20Pages", "libtiff decoding T.6"),
    ("awd_bench", "AWD: write 20 fax pages, one document each", "BM_AwdWrite20Pages", "BM_LibtiffWrite20Pages",
     "libtiff writing T.6"),
    ("storage_bench", "compound file: write a 100 MB stream", "BM_EngineWrite100MB/iterations:3/real_time",
     "BM_GsfCreateole100MB/iterations:3/real_time", "gsf createole"),
    ("storage_bench", "compound file: read a 100 MB stream", "BM_EngineRead100MB/iterations:3/real_time",
     "BM_GsfCat100MB/iterations:3/real_time", "gsf cat"),
    ("threads_bench", "two 10 000-page files swept (information and data): two threads against one",
     "BM_TwoThreadsTwoFiles/real_time", "BM_OneThreadTwoFiles/real_time", "one thread"),
    ("sftp_bench", "SSH: read 64 MB in 1 MB pieces (xtavread)", "BM_QvtavRead64MB/iterations:3/real_time",
     "BM_SftpGet64MB/iterations:3/real_time", "sftp get"),
    ("sftp_bench", "SSH: write 64 MB in 1 MB pieces (xtavwrite)", "BM_QvtavWrite64MB/iterations:3/real_time",
     "BM_SftpPut64MB/iterations:3/real_time", "sftp put"),
    ("sftp_bench", "SSH: every page of a 1000-page TIFF, information and data",
     "BM_QvtavPageSweep1000/iterations:3/real_time", "BM_SftpGetThenSweep1000/iterations:3/real_time",
     "sftp get, then the sweep locally"),
    ("fault_seam_bench", "platform block with the fault seam", "BM_PlatformBlock/counting:0",
     "BM_BlockWithoutSeam", "no seam"),
    ("fault_seam_bench", "platform write with the fault seam", "BM_PlatformWrite/counting:0",
     "BM_WriteWithoutSeam", "no seam"),
]
# Request counts against the ideal: (program, case, benchmark); the
# benchmark reports read_requests and budget (the ideal count).
IDEAL = [
    ("remote_read_bench", "remote reads, sequential 4 KB pieces", "BM_RemoteSequential4K"),
    ("remote_read_bench", "remote reads, parsing-style small reads", "BM_RemoteParsing"),
    ("remote_read_bench", "remote reads, sparse random reads", "BM_RemoteSparse"),
]
# Programs with a report of their own: (program, case, our line, peer line,
# peer), lines "label : SECONDS s".
OWN_REPORT = [
    ("edit_bench", "delete page 1 of 200 pages (20 MB)", "delete page 1, qvtav xtavdelpgs",
     "cp + sync of the file", "cp + sync"),
    ("edit_bench", "delete page 1 of 200 pages (20 MB)", "delete page 1, qvtav xtavdelpgs",
     "tiffcp of the kept pages + sync", "tiffcp + sync"),
    ("bmp_read_bench", "BMP 10 000 x 10 000, 32-bit page as 24-bit rows", "xtavread as 24-bit rows",
     "Pillow load()", "Pillow decoding"),
    ("pcx_write_bench", "PCX: code and write a 50-megapixel 8-bit page", "pcx encode, qvtav xtavwrite",
     "pcx encode, Pillow save", "Pillow's PCX encoder"),
    ("render_bench", "a 1728 x 2200 G4 fax page to PNG", "qvtav render page.tif -o page.png",
     "convert page.tif page.png", "ImageMagick convert"),
    ("render_bench", "contact sheet of a 100-page fax", "qvtav sheet of 100 fax pages",
     "goal for a sheet of 100 fax pages", "the goal"),
]

UNITS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def machine():
    cpu = platform.processor() or "unknown processor"
    try:
        with open("/proc/cpuinfo") as f:
            names = re.findall(r"model name\s*:\s*(.*)", f.read())
        if names:
            cpu = names[0].strip()
    except OSError:
        pass
    load = os.getloadavg()[0]
    return f"{cpu}, {os.cpu_count()} cores, load average {load:.1f} at the start, {platform.system()} " \
           f"{platform.release()}"


def run(cmd):
    """Runs a program, echoing its output; the output."""
    print(f"\n=== {' '.join(os.path.basename(c) if i == 0 else c for i, c in enumerate(cmd))}", flush=True)
    proc = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    sys.stdout.write(proc.stdout)
    if proc.returncode != 0:
        print(f"({os.path.basename(cmd[0])} exited with status {proc.returncode})")
    return proc.stdout


def gbench(path, quick):
    """Runs a Google Benchmark program; its results by benchmark name."""
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        cmd = [path, f"--benchmark_out={out.name}", "--benchmark_out_format=json"]
        if not quick:
            cmd += ["--benchmark_repetitions=3", "--benchmark_report_aggregates_only=true"]
        run(cmd)
        try:
            data = json.load(open(out.name))
        except (OSError, ValueError):
            return {}
    results = {}
    for b in data.get("benchmarks", []):
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        results[b.get("run_name", b["name"])] = b
    return results


def seconds(b):
    return b["real_time"] * UNITS[b.get("time_unit", "ns")]


def own_report(path):
    text = run([path])
    return {m[0].strip(): float(m[1]) for m in re.findall(r"^(.+?)\s*:\s*([\d.]+) s\b", text, re.M)}


def show_time(s):
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6)):
        if s >= scale:
            return f"{s / scale:.3g} {unit}"
    return f"{s / 1e-9:.3g} ns"


def collect(out_dir, quick):
    # The programs in the order the tables list them, then any others.
    listed = [r[0] for r in PAIRS + IDEAL + OWN_REPORT]
    programs = sorted((f for f in os.listdir(out_dir) if f.endswith("_bench")),
                      key=lambda f: (listed.index(f) if f in listed else len(listed), f))
    own = {p for p, *_ in OWN_REPORT}
    rows = []
    for prog in programs:
        path = os.path.join(out_dir, prog)
        if prog in own:
            lines = own_report(path)
            for _, case, ours, peer, peer_name in (r for r in OWN_REPORT if r[0] == prog):
                if ours in lines and peer in lines:
                    rows.append((case, show_time(lines[ours]), show_time(lines[peer]), peer_name,
                                 lines[ours] / lines[peer]))
            continue
        results = gbench(path, quick)
        listed = False
        for _, case, ours, peer, peer_name in (r for r in PAIRS if r[0] == prog):
            listed = True
            if ours in results and peer in results:
                q, p = seconds(results[ours]), seconds(results[peer])
                rows.append((case, show_time(q), show_time(p), peer_name, q / p))
        for _, case, name in (r for r in IDEAL if r[0] == prog):
            listed = True
            b = results.get(name)
            if b and b.get("budget"):
                rows.append((case, f"{b['read_requests']:.0f} requests", f"{b['budget']:.0f} requests",
                             "the ideal", b["read_requests"] / b["budget"]))
        if not listed:
            rows.append((f"{prog}: no pair listed in tools/bench_table.py", "", "", "", None))
    return rows


def print_table(rows, markdown):
    header = ("benchmark", "qvtav", "peer", "peer is", "qvtav / peer")
    cells = [(c, q, p, n, "" if r is None else f"{r:.2f}") for c, q, p, n, r in rows]
    if markdown:
        print("| " + " | ".join(header) + " |")
        print("|" + "---|" * 4 + "---:|")
        for row in cells:
            print("| " + " | ".join(row) + " |")
        return
    widths = [max(len(str(x[i])) for x in [header] + cells) for i in range(5)]
    for row in [header] + cells:
        print("  ".join(str(v).ljust(w) if i < 4 else str(v).rjust(w) for i, (v, w) in enumerate(zip(row, widths))))


def main(argv):
    if len(argv) < 2 or not os.path.isdir(argv[1]):
        sys.exit(__doc__)
    markdown, quick = "--markdown" in argv, "--quick" in argv
    where = machine()
    started = time.strftime("%Y-%m-%d")
    rows = collect(argv[1], quick)
    print(f"\n=== qvtav / peer ({'one run' if quick else 'median of 3'} each; {where}; {started})\n")
    print_table(rows, markdown)


if __name__ == "__main__":
    main(sys.argv)
