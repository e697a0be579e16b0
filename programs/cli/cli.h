#pragma once
// kalosqm-cli: each command's source file adds its subcommands to the one
// CLI11 application at static-initialisation time, so adding a command is
// adding one source file. Exit codes: 0 success, 1 failure, 2 usage.
#include <CLI/CLI.hpp>

#include <functional>
#include <stdexcept>
#include <string>

#include "core/site/siterow.h"
#include "core/station/fbdb.h"

namespace cli {

using Adder = void (*)(CLI::App& root);
bool Register(const char* name, Adder add);

// The work of a subcommand: it runs once the whole command line has been
// parsed and checked, and what it returns is the exit code. A
// std::exception leaving it is a failure (1), a UsageError a usage error (2).
void SetAction(CLI::App* command, std::function<int()> work);

// A usage problem that only the work can see (two options that exclude
// each other, a date that does not exist).
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "--db FILE": the local database, by default Dati/KALOSQMDATA.FDB beside
// the program.
CLI::Option* AddDbOption(CLI::App* command, std::string& file);

// Attaches the local database. Throws std::runtime_error with a message an
// operator can act on: no such file, or "the local database is in use by
// another KALO-SQM program" when a running program holds it (the engine
// refuses at once, it never waits).
void OpenLocalDatabase(fb::Database& db, const std::string& file);

// The start of a command's work in the local database: the file attached
// (OpenLocalDatabase's refusals), then a transaction started on it, which
// rolls back unless committed.
struct TLocalWork {
    explicit TLocalWork(const std::string& file);
    fb::Database db;
    fb::Transaction tr;
};

// The site's row. A site that does not exist is a runtime_error in the
// words of missing; a database error keeps its own.
TSiteRow ReadExistingSite(fb::Database& db, int siteId, const std::string& missing);

// Checks shared by several commands.
// "HOST[:PORT]" or "[v6]:PORT"; the port defaults to the meter's 10001.
const CLI::Validator& HostPort();
// "YYYY-MM-DD" of a date that exists.
const CLI::Validator& IsoDate();
// A finite number: CLI::Range lets "nan" through (no comparison fails).
const CLI::Validator& Finite();

}  // namespace cli

#define KALO_CLI_CONCAT2(a, b) a##b
#define KALO_CLI_CONCAT(a, b) KALO_CLI_CONCAT2(a, b)
#define KALO_CLI_COMMAND(name, adder) \
    static const bool KALO_CLI_CONCAT(kalo_cli_reg_, __LINE__) = ::cli::Register(name, adder)

namespace cli {
// "YYYY-MM-DD" to a date; "YYYY-MM-DD[( |T)HH:MM[:SS]]" to a date-time.
// Throw UsageError naming the option when the text is not such a date.
double ParseDate(const std::string& option, const std::string& text);
double ParseDateTime(const std::string& option, const std::string& text);
}  // namespace cli

namespace cli {
// Splits a text that passed HostPort().
bool SplitAddress(const std::string& text, std::string& host, int& port);
}  // namespace cli
