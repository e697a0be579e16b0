#include "programs/cli/cli_query.h"

#include <unistd.h>

#include <cctype>
#include <cmath>
#include <iostream>
#include <limits>

#include "core/station/fbdb.h"
#include "core/station/i18n.h"
#include "core/site/siterow.h"

namespace cli {

namespace {

const CLI::Validator& IsoDateTime() {
    static const CLI::Validator v(
        [](std::string& text) -> std::string {
            try {
                ParseDateTime("", text);
                return {};
            } catch (const UsageError&) {
                return "'" + text + "' is not a time YYYY-MM-DD[ HH:MM[:SS]]";
            }
        },
        "\"YYYY-MM-DD[ HH:MM[:SS]]\"");
    return v;
}

}  // namespace

void AddSelectionOptions(CLI::App* command, TSelectionOptions& o, bool withOrder) {
    CLI::Option* night =
        command->add_option("--night", o.Night, "the night that begins on this date (UTC noon to the next noon)")
            ->check(IsoDate());
    CLI::Option* from =
        command->add_option("--from", o.From, "start of an interval (UTC, included)")->check(IsoDateTime());
    CLI::Option* to = command->add_option("--to", o.To, "end of the interval (UTC, included)")->check(IsoDateTime());
    night->excludes(from)->excludes(to);
    from->needs(to);
    to->needs(from);
    if (withOrder) command->add_flag("--desc", o.Descending, "newest reading first (default: oldest first)");
}

TQuerySelection SelectionOf(const TSelectionOptions& o) {
    const TSortOrder order = o.Descending ? TSortOrder::Descending : TSortOrder::Ascending;
    if (!o.Night.empty()) return NightSelection(ParseDate("--night", o.Night), order);
    if (o.From.empty() || o.To.empty()) throw UsageError("choose the readings with --night DATE or --from T --to T");
    const double from = ParseDateTime("--from", o.From);
    const double to = ParseDateTime("--to", o.To);
    if (to < from) throw UsageError("--to " + o.To + " is before --from " + o.From);
    return IntervalSelection(from, to, order);
}

CLI::Option* AddSiteOption(CLI::App* command, int& siteId) {
    return command->add_option("--site", siteId, "the site's ID (SIT_ID)")
        ->required()
        ->type_name("ID")
        ->check(CLI::Range(1, std::numeric_limits<int>::max()));
}

TSiteRow LoadSite(fb::Database& db, int siteId, const std::string& file) {
    return ReadExistingSite(db, siteId, "there is no site with ID " + std::to_string(siteId) + " in " + file);
}

const TFormatSettings& ScriptFormat() {
    static const TFormatSettings fs{".", "", "-", "UTF-8"};
    return fs;
}

std::string Cell(const std::optional<double>& v, int decimals) {
    return v ? FormatNumber(*v, decimals, ScriptFormat()) : std::string();
}

void PrintTabSeparated(std::ostream& out, const std::vector<std::string>& header,
                const std::vector<std::vector<std::string>>& rows) {
    auto line = [&out](const std::vector<std::string>& fields) {
        for (size_t i = 0; i < fields.size(); ++i) out << (i ? "\t" : "") << fields[i];
        out << '\n';
    };
    line(header);
    for (const auto& r : rows) line(r);
}

void PrintStatistics(std::ostream& out, const std::vector<const char*>& captions,
                     const std::vector<std::string>& texts) {
    out << '\n';
    for (size_t i = 0; i < captions.size() && i < texts.size(); ++i) out << Tr(captions[i]) << ": " << texts[i] << '\n';
}

std::string AsLines(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (c == '\r') c = '\n';
    while (!out.empty() && std::isspace(static_cast<unsigned char>(out.back()))) out.pop_back();
    return out;
}

void TTerminalPrompt::Inform(const std::string& text) { std::cout << AsLines(text) << std::endl; }

void TTerminalPrompt::Error(const std::string& text) {
    std::cerr << "kalosqm-cli: " << command_ << ": " << AsLines(text) << std::endl;
}

bool TTerminalPrompt::Confirm(const std::string& text) {
    if (yes_) return true;
    if (!::isatty(STDIN_FILENO)) {
        needsYes_ = true;
        return false;
    }
    std::cerr << AsLines(text) << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        std::cerr << '\n';
        return false;
    }
    for (char& c : answer) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return answer == "y" || answer == "yes";
}

}  // namespace cli
