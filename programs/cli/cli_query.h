#pragma once
// What the reading commands share: the selection of a night or an
// interval as the query pages make it, the site they name, the output of
// rows and statistics, and the questions they ask before changing data.
#include <iosfwd>
#include <string>
#include <vector>

#include "programs/cli/cli.h"
#include "core/site/localquery.h"
#include "core/site/siteports.h"

namespace cli {

// --night DATE | --from T --to T, and --desc when the command has an order.
struct TSelectionOptions {
    std::string Night, From, To;
    bool Descending = false;
};
void AddSelectionOptions(CLI::App* command, TSelectionOptions& o, bool withOrder);
// The query page's selection for those options: a night is noon to noon,
// an interval joins each date with its time. Throws UsageError when
// nothing is selected or the interval ends before it starts.
TQuerySelection SelectionOf(const TSelectionOptions& o);

// "--site ID", required.
CLI::Option* AddSiteOption(CLI::App* command, int& siteId);
// The site's row; a site that does not exist is a runtime_error naming
// the database.
TSiteRow LoadSite(fb::Database& db, int siteId, const std::string& file);

// Output meant for scripts as much as for people: numbers always with "."
// and without grouping, times as "yyyy-mm-dd hh:mm:ss" (UTC), whatever the
// locale. The export file, made for the user's spreadsheet, is the one
// output that follows the locale, as it does in the site window.
const TFormatSettings& ScriptFormat();
std::string Cell(const std::optional<double>& v, int decimals);
// A header line and one line per row, fields separated by a tab.
void PrintTabSeparated(std::ostream& out, const std::vector<std::string>& header,
                const std::vector<std::vector<std::string>>& rows);
// "Caption: text" lines after an empty line.
void PrintStatistics(std::ostream& out, const std::vector<const char*>& captions,
                     const std::vector<std::string>& texts);

// A message of the system as one or more terminal lines (boxes break
// their lines with \r).
std::string AsLines(const std::string& text);

// The boxes of the site window on a terminal: information on standard
// output, errors on standard error, and questions asked there. With --yes
// every question is answered Yes without asking; without it a question
// needs a terminal on standard input, and is refused otherwise
// (NeedsYes() then tells why).
class TTerminalPrompt : public IPrompt {
public:
    TTerminalPrompt(std::string command, bool yes) : command_(std::move(command)), yes_(yes) {}
    void Inform(const std::string& text) override;
    void Error(const std::string& text) override;
    bool Confirm(const std::string& text) override;
    bool NeedsYes() const { return needsYes_; }

private:
    std::string command_;
    bool yes_;
    bool needsYes_ = false;
};

}  // namespace cli
