// The subcommands of the qvtav tool. Each takes its arguments (after the
// subcommand's name), prints its results, and returns the exit status;
// failures are thrown as ToolError or UsageError, or reported and counted
// where a command goes on with further files.
#pragma once

#include <string>
#include <vector>

#include "document.h"

namespace qvtool {

using Args = std::vector<std::string>;

int cmd_info(const Location& where, const Args& args);
int cmd_dump(const Location& where, const Args& args);
int cmd_copy(const Location& where, const Args& args);
int cmd_delete(const Location& where, const Args& args);
int cmd_move(const Location& where, const Args& args);
int cmd_props(const Location& where, const Args& args);
int cmd_render(const Location& where, const Args& args);
int cmd_sheet(const Location& where, const Args& args);
int cmd_storage(const Location& where, const Args& args);
int cmd_errors(const Location& where, const Args& args);

// Prints an error line on standard error: "qvtav: LINE".
void report(const std::string& line);

}  // namespace qvtool
