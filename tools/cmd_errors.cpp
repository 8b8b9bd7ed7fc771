// qvtav errors: the library's error codes with their names and meanings,
// every code or the ones asked about.
#include <iomanip>
#include <iostream>
#include <optional>

#include "cli_args.h"
#include "commands.h"
#include "error_text.h"
#include "json_writer.h"
#include "tool_error.h"

namespace qvtool {
namespace {

const char kHelp[] =
    "usage: qvtav errors [--json] [CODE...]\n"
    "\n"
    "Lists the library's error codes with their names and meanings: every\n"
    "code, or each CODE given (decimal, or hexadecimal with 0x). An unknown\n"
    "CODE is listed as such and makes the exit status 1.\n"
    "\n"
    "  --json   one JSON array of {code, name, meaning}\n";

std::optional<uint32_t> parse_code(const std::string& text) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return std::nullopt;
    try {
        size_t used = 0;
        unsigned long long v = std::stoull(text, &used, 0);
        if (used != text.size() || v > 0xFFFFFFFFull) return std::nullopt;
        return static_cast<uint32_t>(v);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void print_text(const std::vector<ErrorText>& rows) {
    for (const ErrorText& t : rows)
        std::cout << std::left << std::setw(11) << error_code_text(t.code) << std::setw(29) << t.name << t.meaning
                  << "\n";
}

void print_json(const std::vector<ErrorText>& rows) {
    JsonWriter j;
    j.begin_array();
    for (const ErrorText& t : rows) {
        j.begin_object();
        j.member("code", t.code);
        j.key("name");
        if (t.name.empty())
            j.null();
        else
            j.value(t.name);
        j.member("meaning", t.meaning);
        j.end_object();
    }
    j.end_array();
    std::cout << j.text() << "\n";
}

}  // namespace

int cmd_errors(const Location&, const Args& args) {
    ParsedArgs a = parse_args(args, {"--help", "-h", "--json"}, {});
    if (a.has("--help") || a.has("-h")) {
        std::cout << kHelp;
        return kExitOk;
    }
    std::vector<ErrorText> rows;
    bool unknown = false;
    if (a.operands.empty()) rows.assign(error_texts().begin(), error_texts().end());
    for (const std::string& text : a.operands) {
        auto code = parse_code(text);
        if (!code) throw UsageError("errors: \"" + text + "\" is no code");
        const ErrorText* t = find_error_text(*code);
        unknown = unknown || t == nullptr;
        rows.push_back(t ? *t : ErrorText{*code, "", error_meaning(*code)});
    }
    if (a.has("--json"))
        print_json(rows);
    else
        print_text(rows);
    return unknown ? kExitFailure : kExitOk;
}

}  // namespace qvtool
