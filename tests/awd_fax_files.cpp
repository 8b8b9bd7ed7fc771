#include "awd_fax_files.h"

#include <filesystem>

#include "test_util.h"

namespace {

namespace fs = std::filesystem;

std::string shq(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

void put16(std::string& s, uint16_t v) {
    s += char(v & 0xFF);
    s += char(v >> 8);
}
void put32(std::string& s, uint32_t v) {
    put16(s, uint16_t(v));
    put16(s, uint16_t(v >> 16));
}
// A time of writing: any 8 bytes do.
void put_stamp(std::string& s) {
    put32(s, 0x12345678);
    put32(s, 0x01D00000);
}

// A page as a binary PBM (1 is black, rows padded to whole bytes).
std::string pbm(const BitPage& p) {
    std::string s = "P4\n" + std::to_string(p.width) + " " + std::to_string(p.height) + "\n";
    return s + std::string(p.bits.begin(), p.bits.end());
}

// The document's pages as one multi-page T.6 TIFF, each page with its own
// resolution.
bool write_document(const FaxDoc& d, const std::string& work, const std::string& out) {
    std::string cmd = "convert -units PixelsPerInch";
    for (size_t i = 0; i < d.pages.size(); ++i) {
        std::string page = work + "/p" + std::to_string(i) + ".pbm";
        write_file(page, pbm(d.pages[i].bits));
        cmd += " \\( " + shq(page) + " -set density " + std::to_string(d.pages[i].xRes) + "x" +
               std::to_string(d.pages[i].yRes) + " \\)";
    }
    cmd += " -compress Group4 " + shq("TIFF:" + out) + " >/dev/null 2>&1";
    return run_command(cmd) == 0;
}

}  // namespace

std::string order_bytes(const std::vector<std::string>& names) {
    std::string s;
    for (const std::string& n : names) s += n + std::string(1, '\0');
    return s;
}

namespace {
// The fields both records end with.
std::string record_tail(uint32_t flags, uint16_t rotation, uint16_t xScale, uint16_t yScale) {
    std::string s;
    put32(s, flags);
    put16(s, rotation);
    put16(s, xScale);
    put16(s, yScale);
    return s;
}
}  // namespace

std::string doc_record_bytes(uint32_t flags, uint16_t rotation, uint16_t xScale, uint16_t yScale) {
    std::string s;
    for (uint16_t w : {0, 1, 0, 1}) put16(s, w);
    put_stamp(s);
    return s + record_tail(flags, rotation, xScale, yScale);
}

std::string page_record_bytes(uint32_t flags, uint16_t rotation, uint16_t xScale, uint16_t yScale) {
    std::string s;
    for (uint16_t w : {0, 1}) put16(s, w);
    put_stamp(s);
    return s + record_tail(flags, rotation, xScale, yScale);
}

bool fax_tools_missing() { return oracle_missing("gsf") || oracle_missing("convert"); }

bool build_fax_file(const std::string& path, const FaxFile& f) {
    TempDir work;
    const std::string tree = work.file("tree");
    const std::string persistent = tree + "/Persistent Information";
    fs::create_directories(tree + "/Documents");
    fs::create_directories(persistent + "/Global Information");
    for (const char* holder : {"Document Information", "Page Information", "PagesStatus"})
        fs::create_directories(persistent + "/" + holder);
    write_file(tree + "/\x05SummaryInformation", std::string(48, '\0'));
    write_file(persistent + "/Global Information/Display Order", f.order);
    for (const FaxDoc& d : f.docs)
        if (!write_document(d, work.path(), tree + "/Documents/" + d.name)) return false;
    for (const auto& [where, bytes] : f.persistent) {
        fs::path p = persistent + "/" + where;
        fs::create_directories(p.parent_path());
        write_file(p.string(), bytes);
    }
    std::string cmd = "cd " + shq(tree) + " && gsf createole " + shq(path);
    for (const auto& e : fs::directory_iterator(tree)) cmd += " " + shq(e.path().filename().string());
    return run_command(cmd + " >/dev/null 2>&1") == 0;
}
