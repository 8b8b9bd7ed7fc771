// Interoperability of the compound-file engine with independent
// implementations: files the engine writes list and read identically in
// libgsf (gsf list, gsf cat) and libolecf (olecfinfo, olecfexport), and
// files gsf createole writes read identically in the engine.
#include <dirent.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <regex>
#include <sstream>

#include "storage_test_util.h"
#include "test_util.h"

namespace {

std::string sorted_lines(std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (const auto& l : lines) out += l + "\n";
    return out;
}

std::string shq(const std::string& s) { return "'" + s + "'"; }

// The listing ("path stream size hash" / "path storage") of a directory
// tree, as the same tree stored by gsf createole must list.
void list_dir(const std::string& dir, const std::string& prefix, std::vector<std::string>& lines) {
    DIR* d = opendir(dir.c_str());
    ASSERT_NE(d, nullptr);
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        std::string full = dir + "/" + name;
        struct stat st {};
        stat(full.c_str(), &st);
        if (S_ISDIR(st.st_mode)) {
            lines.push_back(prefix + "/" + name + " storage");
            list_dir(full, prefix + "/" + name, lines);
        } else {
            std::vector<uint8_t> bytes = read_file(full);
            std::string data(bytes.begin(), bytes.end());
            lines.push_back(prefix + "/" + name + " stream " + std::to_string(data.size()) + " " +
                            content_hash(data));
        }
    }
    closedir(d);
}

TEST(StorageInterop, FilesMadeByGsfReadIdenticallyInTheEngine) {
    if (!have_program("gsf")) GTEST_SKIP() << "gsf not installed";
    TempDir dir;
    std::string src = dir.file("src");
    mkdir(src.c_str(), 0755);
    mkdir((src + "/nested storage").c_str(), 0755);
    mkdir((src + "/nested storage/deeper").c_str(), 0755);
    write_file(src + "/empty", std::string());
    write_file(src + "/s4095", stream_bytes(4095, 1));
    write_file(src + "/s4096", stream_bytes(4096, 2));
    write_file(src + "/s4097", stream_bytes(4097, 3));
    write_file(src + "/nested storage/five MB", stream_bytes(5u << 20, 4));
    write_file(src + "/nested storage/deeper/with space", stream_bytes(100, 5));
    write_file(src + "/nested storage/deeper/zero", std::string());
    std::string ole = dir.file("gsf.ole");
    std::string cmd = "cd " + shq(src) + " && gsf createole " + shq(ole) +
                      " empty s4095 s4096 s4097 'nested storage' >/dev/null 2>&1";
    ASSERT_EQ(run_command(cmd), 0);
    std::vector<std::string> expected;
    list_dir(src, "", expected);
    EXPECT_EQ(engine_listing(ole), sorted_lines(expected));
    EXPECT_EQ(olefile_listing(ole), sorted_lines(expected));
}

// An engine file with nested storages and streams of the interesting sizes.
std::string make_engine_file(const TempDir& dir) {
    std::string path = dir.file("engine.cfb");
    StgRef<StgStorage> root, sub, deeper;
    EXPECT_EQ(create_root(path, root), TAV_S_OK);
    EXPECT_EQ(put_stream(root.get(), "empty", ""), TAV_S_OK);
    EXPECT_EQ(put_stream(root.get(), "s4095", stream_bytes(4095, 1)), TAV_S_OK);
    EXPECT_EQ(put_stream(root.get(), "s4097", stream_bytes(4097, 2)), TAV_S_OK);
    EXPECT_EQ(make_storage(root.get(), "nested storage", sub), TAV_S_OK);
    EXPECT_EQ(put_stream(sub.get(), "big one", stream_bytes(300000, 3)), TAV_S_OK);
    EXPECT_EQ(make_storage(sub.get(), "deeper", deeper), TAV_S_OK);
    EXPECT_EQ(put_stream(deeper.get(), "leaf", stream_bytes(77, 4)), TAV_S_OK);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(put_stream(root.get(), "n" + std::to_string(i), stream_bytes(size_t(i) * 150, unsigned(i))), TAV_S_OK);
    EXPECT_EQ(root->ops->DestroyElement(root.get(), u"n13"), TAV_S_OK);
    return path;
}

TEST(StorageInterop, FilesMadeByTheEngineReadIdenticallyInGsf) {
    if (!have_program("gsf")) GTEST_SKIP() << "gsf not installed";
    TempDir dir;
    std::string path = make_engine_file(dir);
    // gsf list: "d ... 0 path" for storages, "f date time size path" for streams.
    std::string listed = command_output("gsf list " + shq(path));
    std::regex line(R"(^([df])\s+(?:\S+ \S+)?\s*(\d+) (.*)$)");
    std::vector<std::string> lines;
    std::istringstream in(listed);
    for (std::string l; std::getline(in, l);) {
        std::smatch m;
        if (!std::regex_match(l, m, line) || m[3] == "*root*") continue;
        if (m[1] == "d") {
            lines.push_back("/" + m[3].str() + " storage");
        } else {
            std::string data = command_output("gsf cat " + shq(path) + " " + shq(m[3].str()));
            lines.push_back("/" + m[3].str() + " stream " + m[2].str() + " " + content_hash(data));
        }
    }
    EXPECT_EQ(sorted_lines(lines), engine_listing(path));
}

TEST(StorageInterop, FilesMadeByTheEngineReadIdenticallyInLibolecf) {
    if (!have_program("olecfinfo") || !have_program("olecfexport")) GTEST_SKIP() << "libolecf-utils not installed";
    TempDir dir;
    std::string path = make_engine_file(dir);
    // The engine's listing as "path size" (storages 0) and as exported data.
    std::vector<std::string> sizes, exported;
    std::istringstream engine(engine_listing(path));
    for (std::string l; std::getline(engine, l);) {
        std::smatch m;
        std::regex_match(l, m, std::regex(R"(^(.*) (stream|storage)(?: (\d+) (\S+))?$)"));
        sizes.push_back(m[1].str() + " " + (m[2] == "stream" ? m[3].str() : "0"));
        exported.push_back(m[1].str() + " " + (m[2] == "stream" ? m[4].str() : content_hash("")));
    }
    // olecfinfo: one item a line, indented two spaces a level, "name (N bytes)".
    std::string info = command_output("olecfinfo " + shq(path));
    std::vector<std::string> infoLines, stack;
    std::istringstream in(info);
    bool items = false;
    for (std::string l; std::getline(in, l);) {
        if (l.rfind("Root Entry", 0) == 0) {
            items = true;
            continue;
        }
        std::smatch m;
        if (!items || !std::regex_match(l, m, std::regex(R"(^((?:  )+)(.*) \((\d+) bytes\)$)"))) continue;
        size_t depth = m[1].length() / 2;
        stack.resize(depth - 1);
        stack.push_back(m[2]);
        std::string p;
        for (const auto& s : stack) p += "/" + s;
        infoLines.push_back(p + " " + m[3].str());
    }
    EXPECT_EQ(sorted_lines(infoLines), sorted_lines(sizes));
    // olecfexport: a directory per item, the data in StreamData.bin.
    std::string target = dir.file("export");
    ASSERT_EQ(run_command("olecfexport -t " + shq(target) + " " + shq(path) + " >/dev/null 2>&1"), 0);
    std::string found = command_output("cd " + shq(target + ".export") +
                                       " && find . -name StreamData.bin | sort");
    std::vector<std::string> exportLines;
    std::istringstream files(found);
    for (std::string f; std::getline(files, f);) {
        std::vector<uint8_t> bytes = read_file(target + ".export/" + f);
        std::string p = f.substr(1, f.size() - 1 - std::string("/StreamData.bin").size());
        exportLines.push_back(p + " " + content_hash(std::string(bytes.begin(), bytes.end())));
    }
    EXPECT_EQ(sorted_lines(exportLines), sorted_lines(exported));
}

}  // namespace
