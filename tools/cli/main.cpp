#include "cli.h"

#include <algorithm>
#include <iostream>
#include <map>

namespace cli {

static std::map<std::string, Command>& Registry() {
    static std::map<std::string, Command> commands;
    return commands;
}

bool Register(Command cmd) {
    Registry()[cmd.name] = std::move(cmd);
    return true;
}

bool TakeOption(Args& args, const std::string& name, std::string& value) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == name) {
            if (i + 1 >= args.size()) return false;
            value = args[i + 1];
            args.erase(args.begin() + i, args.begin() + i + 2);
            return true;
        }
        if (args[i].rfind(name + "=", 0) == 0) {
            value = args[i].substr(name.size() + 1);
            args.erase(args.begin() + i);
            return true;
        }
    }
    return false;
}

bool TakeFlag(Args& args, const std::string& name) {
    auto it = std::find(args.begin(), args.end(), name);
    if (it == args.end()) return false;
    args.erase(it);
    return true;
}

int Usage(const std::string& command) {
    auto it = Registry().find(command);
    if (it != Registry().end()) std::cerr << "usage:\n" << it->second.usage << "\n";
    return 2;
}

static int Help(std::ostream& out) {
    out << "kalosqm-cli: command-line companion of KALO-SQM\n\nCommands:\n";
    for (const auto& [name, cmd] : Registry()) out << cmd.usage << "\n";
    return 0;
}

}  // namespace cli

int main(int argc, char** argv) {
    if (argc < 2 || std::string(argv[1]) == "help" || std::string(argv[1]) == "--help") {
        cli::Help(argc < 2 ? std::cerr : std::cout);
        return argc < 2 ? 2 : 0;
    }
    auto it = cli::Registry().find(argv[1]);
    if (it == cli::Registry().end()) {
        std::cerr << "kalosqm-cli: unknown command '" << argv[1] << "'\n";
        cli::Help(std::cerr);
        return 2;
    }
    cli::Args args(argv + 2, argv + argc);
    try {
        return it->second.run(args);
    } catch (const std::exception& e) {
        std::cerr << "kalosqm-cli: " << e.what() << "\n";
        return 1;
    }
}
