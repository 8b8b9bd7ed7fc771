// qvtav props: shows or changes a file's document properties.
#include <cerrno>
#include <cstring>
#include <iostream>

#include "cli_args.h"
#include "commands.h"
#include "json_writer.h"
#include "tool_error.h"

namespace qvtool {
namespace {

const char kHelp[] =
    "usage: qvtav props FILE [--title T] [--author A] [--subject S]\n"
    "                        [--keywords K] [--comments C]\n"
    "\n"
    "Without options shows the document properties of FILE. With options sets\n"
    "those given; the others keep their values.\n";

Properties read_properties(const Location& where, const std::string& path) {
    Document doc(where, path);
    doc.open(TAV_OPEN_READ);
    Properties props;
    if (doc.file_type() == FILETYPE_RAW) throw ToolError(path, "not an image file", TAV_E_RAW_FILE);
    if (doc.page_count() > 0) {
        PageReader rd(doc);
        rd.load(1, false);
        props = rd.properties();
    }
    doc.close();
    return props;
}

void print_properties(const std::string& path, const Properties& props) {
    if (!props.present) {
        std::cout << path << ": no document properties\n";
        return;
    }
    std::cout << path << ":\n";
    for (int i = 0; i < 5; ++i)
        std::cout << "  " << kPropertyNames[i] << ": " << display_quote(props.texts[i]) << "\n";
}

}  // namespace

int cmd_props(const Location& where, const Args& args) {
    std::set<std::string> valueOptions;
    for (const char* name : kPropertyNames) valueOptions.insert(std::string("--") + name);
    ParsedArgs a = parse_args(args, {"--help", "-h"}, valueOptions);
    if (a.has("--help") || a.has("-h")) {
        std::cout << kHelp;
        return kExitOk;
    }
    if (a.operands.size() != 1) throw UsageError("props: give one FILE");
    const std::string& path = a.operands[0];

    Properties props = read_properties(where, path);
    if (a.values.empty()) {
        print_properties(path, props);
        return kExitOk;
    }
    for (int i = 0; i < 5; ++i) {
        const std::string* v = a.value(std::string("--") + kPropertyNames[i]);
        if (v == nullptr) continue;
        if (std::memchr(v->data(), '\0', v->size()) != nullptr)
            throw UsageError("props: a property cannot hold a zero byte");
        props.texts[i] = *v;
    }

    PageInfo record{};
    record.title = props.texts[0].data();
    record.author = props.texts[1].data();
    record.subject = props.texts[2].data();
    record.keywords = props.texts[3].data();
    record.comments = props.texts[4].data();
    FileLocation loc = where.record(path);
    PathBuffer p(path);
    uint32_t err = 0;
    // The library leaves the error cell of this call at 0 and reports the
    // failure's code in errno.
    errno = 0;
    int32_t r = xtavputprops(where.remote() ? &loc : nullptr, p.get(), &record, &err);
    int code = errno;
    if (r < 0) throw ToolError(path, "cannot update the document properties", static_cast<uint32_t>(code));

    print_properties(path, read_properties(where, path));
    return kExitOk;
}

}  // namespace qvtool
