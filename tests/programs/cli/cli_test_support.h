#pragma once
// kalosqm-cli as a child process: standard output and error apart with no
// terminal to read from, or on a pseudo-terminal that answers its questions.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>

#include "support/service_test_support.h"

namespace clitest {

using namespace servicetest;

inline const char* const kInUse = "the local database is in use by another KALO-SQM program";

struct CliResult {
    int code;
    std::string out, err;
    std::string all() const { return out + err; }
};

inline bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

// Runs whose output files go to one folder. Standard input is /dev/null,
// whatever runs the tests, so nothing is ever asked.
class TCli {
public:
    explicit TCli(fs::path folder) : folder_(std::move(folder)) {}
    CliResult Run(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                  std::chrono::milliseconds limit = 120s) {
        const int input = ::open("/dev/null", O_RDONLY);
        const int saved = ::dup(STDIN_FILENO);
        ::dup2(input, STDIN_FILENO);
        TChild cli;
        cli.Start(KALO_CLI_EXE, args, folder_ / ("cli-" + std::to_string(++runs_) + ".txt"), env);
        ::dup2(saved, STDIN_FILENO);
        ::close(saved);
        ::close(input);
        const int code = cli.WaitExit(limit);
        return {code, cli.Out(), cli.Err()};
    }

private:
    fs::path folder_;
    int runs_ = 0;
};

// On a pseudo-terminal for all three streams: each answer is typed once the
// text before it has been shown. The screen is in out, with the terminal's
// "\r\n" line ends and the echo of what was typed.
inline CliResult RunOnTerminal(const std::vector<std::string>& args,
                               const std::vector<std::pair<std::string, std::string>>& answers) {
    std::vector<std::string> store{KALO_CLI_EXE};
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : store) argv.push_back(a.data());
    argv.push_back(nullptr);
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        ::execv(argv[0], argv.data());
        _exit(127);
    }
    std::string screen;
    size_t next = 0, seen = 0;
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < end) {
        if (next < answers.size()) {
            const size_t at = screen.find(answers[next].first, seen);
            if (at != std::string::npos) {
                seen = at + answers[next].first.size();
                const std::string typed = answers[next].second + "\n";
                if (::write(master, typed.data(), typed.size()) < 0) break;
                ++next;
                continue;
            }
        }
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0) continue;
        char buf[4096];
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0) break;  // the program has ended: the terminal is gone
        screen.append(buf, static_cast<size_t>(n));
    }
    ::close(master);
    int status = 0;
    for (int i = 0; i < 100 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) std::this_thread::sleep_for(50ms);
    if (::waitpid(pid, &status, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, screen, ""};
}

// A copy of the delivered database in a folder of its own.
class CliDbTest : public ::testing::Test {
protected:
    CliResult Run(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
        return cli.Run(args, env);
    }
    int Count(const std::string& sql) { return std::stoi(ColumnOn(file, sql).at(0)); }

    testsupport::TempDir dir;
    std::string file = testsupport::CopyPristineDb(dir.Path());
    TCli cli{dir.Path()};
};

}  // namespace clitest
