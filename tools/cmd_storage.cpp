// qvtav storage: the tree of a compound file (any, not only AWD
// documents): storages and streams with their sizes, through the library's
// own compound-file engine, which is compiled into the tool (it is not part
// of the library's exported interface).
#include <iostream>
#include <string>
#include <vector>

#include "cli_args.h"
#include "commands.h"
#include "json_writer.h"
#include "platform/plat_text.h"
#include "storage/stg_api.h"
#include "tool_error.h"

namespace qvtool {
namespace {

const char kHelp[] =
    "usage: qvtav storage [--json] FILE\n"
    "\n"
    "Shows the tree of a compound (structured storage) file: each storage and\n"
    "stream, streams with their size in bytes.\n"
    "\n"
    "  --json   the tree as one JSON object\n";

struct Element {
    std::string name;
    bool storage = false;
    uint64_t size = 0;
    std::vector<Element> children;
};

std::string utf8(const char16_t* w) {
    size_t len = 0;
    while (w[len]) ++len;
    std::string out(len * 3, '\0');
    out.resize(plat_utf16_to_utf8(w, len, out.data(), out.size()));
    return out;
}

// Releases an engine object at scope end.
template <class T>
struct Held {
    T* p = nullptr;
    ~Held() {
        if (p) p->ops->Release(p);
    }
};

void read_tree(const std::string& file, StgStorage* s, Element& into, int depth) {
    // Nesting deeper than any real file is refused rather than followed.
    constexpr int kDepthMax = 256;
    if (depth > kDepthMax) throw ToolError(file, "storages nested too deeply");
    Held<StgEnum> e;
    if (uint32_t rc = s->ops->EnumElements(s, 0, nullptr, 0, &e.p)) throw ToolError(file, "cannot list", rc);
    StgMalloc* malloc = nullptr;
    StgGetMalloc(kStgTaskMemory, &malloc);
    StatStg st{};
    uint32_t got = 0;
    while (e.p->ops->Next(e.p, 1, &st, &got) == TAV_S_OK && got == 1) {
        Element child;
        child.name = utf8(st.name);
        child.storage = st.type == kStgTypeStorage;
        child.size = st.size;
        if (child.storage) {
            Held<StgStorage> sub;
            uint32_t rc = s->ops->OpenStorage(s, st.name, nullptr, kStgModeRead, nullptr, 0, &sub.p);
            malloc->ops->Free(malloc, st.name);
            if (rc) throw ToolError(file, "cannot open storage " + display_quote(child.name), rc);
            read_tree(file, sub.p, child, depth + 1);
        } else {
            malloc->ops->Free(malloc, st.name);
        }
        into.children.push_back(std::move(child));
    }
}

void print_text(const Element& e, int depth) {
    for (const Element& c : e.children) {
        std::cout << std::string(size_t(depth) * 2, ' ') << display_quote(c.name);
        if (c.storage)
            std::cout << "/\n";
        else
            std::cout << "  " << c.size << " bytes\n";
        if (c.storage) print_text(c, depth + 1);
    }
}

void print_json(JsonWriter& j, const Element& e) {
    j.begin_object();
    j.member("name", e.name);
    j.member("kind", e.storage ? "storage" : "stream");
    if (!e.storage) j.member("size", e.size);
    if (e.storage) {
        j.key("children");
        j.begin_array();
        for (const Element& c : e.children) print_json(j, c);
        j.end_array();
    }
    j.end_object();
}

}  // namespace

int cmd_storage(const Location&, const Args& args) {
    ParsedArgs a = parse_args(args, {"--json", "--help", "-h"}, {});
    if (a.has("--help") || a.has("-h")) {
        std::cout << kHelp;
        return kExitOk;
    }
    if (a.operands.size() != 1) throw UsageError("storage: give one file");
    const std::string& file = a.operands[0];
    std::u16string wide(file.size() + 1, u'\0');
    wide.resize(plat_utf8_to_utf16(file.data(), file.size(), wide.data(), wide.size()));
    uint32_t is = StgIsStorageFile(wide.c_str());
    if (is == TAV_S_FALSE) throw ToolError(file, "not a compound file");
    if (is != TAV_S_OK) throw ToolError(file, "cannot read", is);
    Held<StgStorage> root;
    if (uint32_t rc = StgOpenStorage(wide.c_str(), nullptr, kStgModeRead, nullptr, 0, &root.p))
        throw ToolError(file, "cannot open as a compound file", rc);
    Element tree;
    tree.name = "Root Entry";
    tree.storage = true;
    read_tree(file, root.p, tree, 0);
    if (a.has("--json")) {
        JsonWriter j;
        print_json(j, tree);
        std::cout << j.text() << "\n";
    } else {
        std::cout << display_quote(file) << ":\n";
        print_text(tree, 1);
    }
    return kExitOk;
}

}  // namespace qvtool
