#pragma once
// Subcommands of kalosqm-cli register themselves at static-initialisation
// time, so adding one is adding one source file.
#include <string>
#include <vector>

namespace cli {

using Args = std::vector<std::string>;

struct Command {
    std::string name;   // first word after the program name, e.g. "meter"
    std::string usage;  // one or more lines shown by "kalosqm-cli help"
    int (*run)(const Args& args);  // args exclude the program and command name
};

bool Register(Command cmd);

// Helpers shared by subcommands.
// Finds "--name value" in args, removes both and returns the value.
bool TakeOption(Args& args, const std::string& name, std::string& value);
// Finds a bare "--flag" in args and removes it.
bool TakeFlag(Args& args, const std::string& name);
// Prints the command's usage to stderr and returns 2.
int Usage(const std::string& command);

}  // namespace cli

#define KALO_CLI_CONCAT2(a, b) a##b
#define KALO_CLI_CONCAT(a, b) KALO_CLI_CONCAT2(a, b)
#define KALO_CLI_COMMAND(...) \
    static const bool KALO_CLI_CONCAT(kalo_cli_reg_, __LINE__) = ::cli::Register(::cli::Command{__VA_ARGS__})
