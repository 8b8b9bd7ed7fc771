// Splitting a subcommand's arguments.
#include "cli_args.h"

#include "tool_error.h"

namespace qvtool {

ParsedArgs parse_args(const std::vector<std::string>& args, const std::set<std::string>& flagOptions,
                      const std::set<std::string>& valueOptions) {
    ParsedArgs out;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            out.operands.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = a;
        std::string inlineValue;
        bool hasInline = false;
        size_t eq = a.find('=');
        if (a.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = a.substr(0, eq);
            inlineValue = a.substr(eq + 1);
            hasInline = true;
        }
        if (flagOptions.count(name) != 0 && !hasInline) {
            out.flags.insert(name);
        } else if (valueOptions.count(name) != 0) {
            if (hasInline) {
                out.values[name] = inlineValue;
            } else {
                if (i + 1 >= args.size()) throw UsageError("option " + name + " needs a value");
                out.values[name] = args[++i];
            }
        } else {
            throw UsageError("unknown option " + a);
        }
    }
    return out;
}

}  // namespace qvtool
