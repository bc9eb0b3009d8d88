// SPDX-License-Identifier: MIT
// The tool's options, as every command parses and explains them: one catalog
// of names, and the help and usage line of a command built from its entry.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "command.hpp"

namespace tuvello::cli {

// Parses the arguments after the command name (argv[0] is the command name)
// into `o`. Returns an error message, or nullopt; sets *exit_now after
// printing the help or the version.
std::optional<std::string> parse_options(int argc, char** argv, const Command& command, Options& o,
                                         std::optional<int>* exit_now);

// "Usage: tuvello NAME [TEXT | -f FILE] [-o FILE] ...", wrapped to 79 columns.
std::string usage_line(const Command& command);

// The command's whole help: usage, description, options, exit status.
std::string command_help(const Command& command);

// "tuvello COMMAND: MESSAGE" and the "Try" line on standard error; kUsage.
int usage_error(std::string_view command, const std::string& message);

// Prints text that needs no check of its own (help, version) and reports a
// write error; `context` is the command's name or "".
int print_and_finish(std::string_view text, const char* context);
int print_version(const char* context);

// Reports that standard output could not be written (errno); kFailed.
int write_failed(const char* context);

}  // namespace tuvello::cli
