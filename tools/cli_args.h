// Splitting a subcommand's arguments into options and operands.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace qvtool {

struct ParsedArgs {
    std::vector<std::string> operands;
    std::set<std::string> flags;                 // options without a value that were given
    std::map<std::string, std::string> values;   // options with a value that were given

    bool has(const std::string& flag) const { return flags.count(flag) != 0; }
    const std::string* value(const std::string& option) const {
        auto it = values.find(option);
        return it == values.end() ? nullptr : &it->second;
    }
};

// Options start with "-"; "--" ends them; a lone "-" is an operand.
// flagOptions take no value, valueOptions take the next argument (or
// "--name=value"). Throws UsageError on an unknown option or a missing value.
ParsedArgs parse_args(const std::vector<std::string>& args, const std::set<std::string>& flagOptions,
                      const std::set<std::string>& valueOptions);

}  // namespace qvtool
