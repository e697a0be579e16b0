// kalosqm-cli import FILE... --site ID [--db FILE]: community standard
// skyglow data files as readings of a site, one transaction per file.
#include <chrono>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "programs/cli/cli.h"
#include "programs/cli/cli_query.h"
#include "core/site/communityfile.h"
#include "core/station/fbdb.h"
#include "core/station/myutils.h"

namespace {

struct Options {
    std::vector<std::string> files;
    int site = 0;
    std::string db;
};

// Smaller files are done before anyone would look.
constexpr size_t kProgressFrom = 10000;
constexpr auto kProgressEvery = std::chrono::seconds(5);

TImportProgress ProgressOf(const std::string& file) {
    struct State {
        std::chrono::steady_clock::time_point last = std::chrono::steady_clock::now();
        size_t tenths = 0;
    };
    auto state = std::make_shared<State>();
    return [file, state](size_t done, size_t total) {
        if (total < kProgressFrom || done == total) return;
        const auto now = std::chrono::steady_clock::now();
        const size_t tenths = done * 10 / total;
        if (tenths == state->tenths && now - state->last < kProgressEvery) return;
        state->tenths = tenths;
        state->last = now;
        std::cerr << "import: " << Printable(file) << ": " << done << " of " << total << " lines ("
                  << done * 100 / total << "%)" << std::endl;
    };
}

int Import(const Options& o) {
    fb::Database db;
    cli::OpenLocalDatabase(db, o.db);
    const TSiteRow site = cli::LoadSite(db, o.site, o.db);
    bool clean = true;
    for (const std::string& file : o.files) {
        const std::string name = Printable(file);
        try {
            const TCommunityImport r = ImportCommunityFile(db, site, file, ProgressOf(file));
            for (const TCommunityLineError& e : r.Errors)
                std::cerr << name << ":" << e.Line << ": " << e.Message << " (line skipped)\n";
            std::cout << name << ": " << r.Read << " lines read, " << r.Inserted << " imported new, " << r.Updated
                      << " updated, " << r.AlreadyStored << " already stored, " << r.Skipped() << " skipped"
                      << std::endl;
            clean = clean && r.Skipped() == 0;
        } catch (const std::exception& e) {
            std::cerr << "import: " << name << ": not imported: " << Printable(e.what()) << std::endl;
            clean = false;
        }
    }
    db.Close();
    return clean ? 0 : 1;
}

void Add(CLI::App& root) {
    auto o = std::make_shared<Options>();
    CLI::App* c = root.add_subcommand(
        "import", "store community standard skyglow data files (format 1.0) as readings of a site");
    c->add_option("files", o->files, "the files, each in a transaction of its own")->required()->type_name("FILE");
    cli::AddSiteOption(c, o->site);
    cli::AddDbOption(c, o->db);
    c->footer(
        "Each reading is completed with the site's astronomy as a reading from the meter, marked 'I' "
        "(imported) and not uploaded; an imported reading already stored under the same key is updated, a "
        "reading from the meter is left as it is and counted as already stored. Anything but a regular file, "
        "a file over 128 MB or a line over 1024 characters is refused as a whole. "
        "A malformed line, or one with a value no meter can report, is named (FILE:LINE) and skipped. "
        "Exit status 1 when a file was not imported "
        "or a line was skipped.");
    cli::SetAction(c, [o] { return Import(*o); });
}

}  // namespace

KALO_CLI_COMMAND("import", &Add);
