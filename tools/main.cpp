// qvtav: lists, extracts, joins, deletes, moves, retitles and draws pages of
// image files through libqvtav400.
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <new>

#include "commands.h"
#include "tool_error.h"

namespace qvtool {
namespace {

const char kUsage[] =
    "usage: qvtav [--server SERVER] COMMAND [ARGS...]\n"
    "\n"
    "Commands:\n"
    "  info [--json] FILE...                   file type, pages and their information\n"
    "  dump FILE PAGE [-o OUT]                 a page's stored data (XIFF: an image file)\n"
    "  copy SRC[:PAGES]... -o DEST [--append]  copy pages into a new or existing TIFF\n"
    "       [--block]                          (or block) file\n"
    "  delete FILE FIRST [LAST]                remove pages\n"
    "  move FILE PAGE --before TARGET          move a page before another\n"
    "  props FILE [--title T ...]              show or change the document properties\n"
    "  render FILE [--page PAGES] -o OUT.png   pages as PNG images\n"
    "       [--as-displayed]                   (turned and at their true aspect)\n"
    "  sheet FILE -o OUT.png [--width W]       every page as a thumbnail on one PNG image\n"
    "       [--columns C]\n"
    "  storage [--json] FILE                   the tree of a compound (structured storage) file\n"
    "  errors [--json] [CODE...]               the library's error codes and their meanings\n"
    "\n"
    "Options:\n"
    "  --server SERVER  reach files through the remote-access library: SERVER is\n"
    "                 an SSH server ([user@]host[:port] or a Host alias of the\n"
    "                 OpenSSH client configuration; $QVRPC_SSH_CONFIG names another\n"
    "                 configuration), or a directory of this machine (a path with\n"
    "                 a slash, or . or ..)\n"
    "  --version      the library's version\n"
    "  --help         this text; COMMAND --help explains a command\n"
    "\n"
    "Exit status: 0 success, 1 a file operation failed, 2 bad command line.\n";

struct Command {
    const char* name;
    int (*run)(const Location&, const Args&);
};

constexpr Command kCommands[] = {
    {"info", cmd_info},     {"dump", cmd_dump},   {"copy", cmd_copy},
    {"delete", cmd_delete}, {"move", cmd_move},   {"props", cmd_props},
    {"render", cmd_render}, {"sheet", cmd_sheet}, {"storage", cmd_storage}, {"errors", cmd_errors},
};

int print_version() {
    uint32_t version = 0, err = 0;
    int32_t none = 0;
    xtavopts(&none, 1, TAV_OPT_VERSION, &version, &err);
    std::printf("qvtav, libqvtav400 version %u.%u.%u\n", (version >> 16) & 0xFF, (version >> 8) & 0xFF,
                version & 0xFF);
    return kExitOk;
}

int run(int argc, char** argv) {
    Args args(argv + 1, argv + argc);
    // --server may stand before or after the command.
    Location where;
    Args rest;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--") {
            rest.insert(rest.end(), args.begin() + static_cast<long>(i), args.end());
            break;
        }
        if (args[i] == "--server") {
            if (i + 1 >= args.size()) throw UsageError("--server needs a server name");
            where = Location(args[++i]);
        } else if (args[i].rfind("--server=", 0) == 0) {
            where = Location(args[i].substr(9));
        } else {
            rest.push_back(args[i]);
        }
    }
    if (rest.empty()) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    const std::string& name = rest[0];
    if (name == "--help" || name == "-h" || name == "help") {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (name == "--version") return print_version();
    for (const Command& c : kCommands)
        if (name == c.name) return c.run(where, Args(rest.begin() + 1, rest.end()));
    throw UsageError("unknown command \"" + name + "\"");
}

}  // namespace

void report(const std::string& line) {
    std::cout.flush();
    std::fprintf(stderr, "qvtav: %s\n", line.c_str());
}

}  // namespace qvtool

int main(int argc, char** argv) {
    using namespace qvtool;
    try {
        return run(argc, argv);
    } catch (const ToolError& e) {
        report(e.line());
        return kExitFailure;
    } catch (const UsageError& e) {
        report(e.what());
        std::fputs("(qvtav --help lists the commands)\n", stderr);
        return kExitUsage;
    } catch (const std::bad_alloc&) {
        report("out of memory");
        return kExitFailure;
    } catch (const std::exception& e) {
        report(std::string("unexpected failure: ") + e.what());
        return kExitFailure;
    }
}
