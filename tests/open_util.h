// A fixture for tests that open files through xtavopen: one handle at a
// time, closed at the end, and no memory block may outlive the test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fileio/mem.h"
#include "frame/fct.h"
#include "qvtav.h"
#include "test_util.h"
#include "tiff_builder.h"

class OpenTest : public ::testing::Test {
protected:
    void SetUp() override { blocks = mem_live_blocks(); }
    void TearDown() override {
        close();
        EXPECT_EQ(mem_live_blocks(), blocks) << "memory blocks leaked";
    }
    // The handle's entry, or null with err set.
    FctEntry* open_path(const std::string& path, uint32_t flags = 0) {
        close();
        PathBuf p(path);
        type = pages = 0xDEAD;
        err = 0;
        h = xtavopen(nullptr, p, flags, &type, &pages, &err);
        return h > 0 ? fct_entry_at(h) : nullptr;
    }
    FctEntry* open(const std::vector<uint8_t>& bytes, uint32_t flags = 0) {
        close();
        write_file(dir.file("f"), bytes);
        return open_path(dir.file("f"), flags);
    }
    void close() {
        uint32_t e = 0;
        if (h > 0) {
            EXPECT_EQ(xtavclose(&h, &e), 0);
        }
        h = 0;
    }
    // A plain chain of n directories; directory i gives width i + 1.
    static std::vector<uint8_t> chain(int n, bool bigEndian = false) {
        TiffBuilder b(bigEndian);
        for (int i = 0; i < n; ++i) b.add_ifd().shorts(256, {uint16_t(i + 1)}).shorts(257, {1});
        return b.build();
    }

    TempDir dir;
    int32_t h = 0;
    uint32_t type = 0, pages = 0, err = 0;
    int blocks = 0;
};
