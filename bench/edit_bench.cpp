// Deleting page 1 of a large TIFF, side by side with the physical floor
// (cp of the same file, then sync of the copy: every byte copied once and on
// the disk) and with libtiff's tiffcp of the kept pages (then sync of its
// output, so that all three end with the data on the disk). Then an in-place
// property update of the same file: its time and the bytes it wrote.
//
//   edit_bench [--pages N] [--page-kb K] [--reps R]
//
// The default run is short (200 pages of 100 KB, 20 MB); the reference
// measurement is --pages 1000 --page-kb 200 (200 MB). Each run starts from a
// fresh copy of the same master file, made outside the timed part.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_util.h"
#include "edit_tiff_util.h"
#include "qvtav.h"

namespace {

using namespace bench;

// Bytes this process has passed to write calls so far.
long long written_bytes() { return io_counters()["wchar:"]; }

bool run(const std::string& cmd) { return std::system(cmd.c_str()) == 0; }

void copy_file(const std::string& from, const std::string& to) {
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
}

}  // namespace

int main(int argc, char** argv) {
    int pages = 200, pageKb = 100, reps = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--pages")) pages = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--page-kb")) pageKb = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--reps")) reps = std::atoi(argv[i + 1]);
    }
    if (pages < 2 || pageKb < 1 || reps < 1) {
        std::fprintf(stderr, "usage: edit_bench [--pages N>=2] [--page-kb K] [--reps R]\n");
        return 2;
    }
    BenchDir dir;
    std::string master = dir.file("master.tif");
    std::string work = dir.file("doc.tif");
    std::string copy = dir.file("copy.tif");
    std::string kept = dir.file("kept.tif");
    {
        // Four strips per page, contents differing per page.
        auto layout = edit_test::numbered_pages(pages, 4, uint32_t(pageKb) * 256);
        write_file(master, edit_test::build_tiff(layout, false, 0, true));
    }
    double mb = double(std::filesystem::file_size(master)) / 1e6;
    std::printf("file: %d pages, %.1f MB, %d runs each (median)\n", pages, mb, reps);

    std::vector<double> tQv, tCp, tCpRm, tTiffcp;
    std::string old = copy + ".old";
    std::string tiffcpPages;
    for (int p = 1; p < pages; ++p) tiffcpPages += (p > 1 ? "," : "") + std::to_string(p);
    bool haveTiffcp = run("command -v tiffcp >/dev/null 2>&1");
    for (int r = 0; r < reps; ++r) {
        copy_file(master, work);
        std::filesystem::remove(copy);
        std::filesystem::remove(kept);
        run("sync");
        tQv.push_back(seconds_of([&] {
            uint32_t err = 0;
            if (xtavdelpgs(nullptr, PathBuf(work), 1, 1, &err) != 0) std::abort();
        }));
        tCp.push_back(seconds_of([&] { run("cp '" + master + "' '" + copy + "' && sync '" + copy + "'"); }));
        // A replace also frees the replaced file's blocks; on a file system
        // mounted with "discard" that is a synchronous trim, paid by rm too.
        copy_file(master, old);
        std::filesystem::remove(copy);
        run("sync");
        tCpRm.push_back(seconds_of([&] {
            run("cp '" + master + "' '" + copy + "' && sync '" + copy + "' && rm '" + old + "'");
        }));
        if (haveTiffcp)
            tTiffcp.push_back(seconds_of([&] {
                run("tiffcp '" + master + "," + tiffcpPages + "' '" + kept + "' 2>/dev/null && sync '" + kept + "'");
            }));
    }
    double qv = median(tQv), cp = median(tCp);
    std::printf("delete page 1, qvtav xtavdelpgs : %8.3f s  (%.0f MB/s)\n", qv, mb / qv);
    std::printf("cp + sync of the file           : %8.3f s  ratio qvtav / cp+sync = %.2f (goal <= 1.3)\n",
                cp, qv / cp);
    double cpRm = median(tCpRm);
    std::printf("cp + sync, rm of the old file   : %8.3f s  ratio qvtav / cp+sync+rm = %.2f\n", cpRm,
                qv / cpRm);
    if (haveTiffcp) {
        double tc = median(tTiffcp);
        std::printf("tiffcp of the kept pages + sync : %8.3f s  ratio qvtav / tiffcp  = %.2f (goal < 1)\n",
                    tc, qv / tc);
    } else {
        std::printf("tiffcp not installed: comparison skipped\n");
    }

    // In-place property update: give the file a block with room, then
    // change the texts within it.
    PageInfo info{};
    char title[] = "Benchmark title", author[] = "qvtav", empty[] = "";
    info.title = title;
    info.author = author;
    info.subject = info.keywords = info.comments = empty;
    info.propertiesLength = 400;
    PathBuf path(work);
    uint32_t err = 0;
    if (xtavputprops(nullptr, path, &info, &err) != 0) std::abort();
    char shorter[] = "Short";
    info.title = shorter;
    long long before = written_bytes();
    double tp = seconds_of([&] {
        if (xtavputprops(nullptr, path, &info, &err) != 0) std::abort();
    });
    long long wrote = written_bytes() - before;
    std::printf("in-place property update        : %8.6f s, %lld bytes written (the block is 440 bytes)\n", tp,
                wrote);
    return 0;
}
