// kalosqm-station: the acquisition of the site windows as a service, for
// stations without a screen; --demo shows it at work without a meter.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "programs/station/demo.h"
#include "core/station/i18n.h"
#include "core/site/languages.h"
#include "core/station/version.h"
#include "core/station/myutils.h"
#include "core/site/nightfile.h"
#include "programs/station/servicecore.h"

int main(int argc, char** argv) {
    TSignals::BlockInAllThreads();  // first: no thread exists yet
    std::signal(SIGPIPE, SIG_IGN);  // a meter or server hanging up must not end the run

    TServiceOptions options;
    try {
        options = ParseServiceArgs(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const TUsageError& e) {
        std::fprintf(stderr, "kalosqm-station: %s\n\n%s", e.what(), ServiceUsage());
        return 2;
    }
    // The unit's switch for the web page: KALOSQM_HTTP=ADDR:PORT in its environment.
    if (const char* http = std::getenv("KALOSQM_HTTP"); http && *http && !options.Http && !options.Demo && !options.Help) {
        try {
            options.Http = ParseHttpOption(http);
        } catch (const TUsageError& e) {
            std::fprintf(stderr, "kalosqm-station: KALOSQM_HTTP=%s: %s\n", Printable(http).c_str(), e.what());
            return 2;
        }
    }
    if (options.Help) {
        std::fputs(ServiceUsage(), stdout);
        return 0;
    }
    RegisterTranslation();
    // A night file whose lines wait while its log cannot say so is said here, as a failing log is.
    const TNightFileWatch nightFiles(
        [](const TNightFileNews& news) { Say("kalosqm-station: " + DescribeNightFileNews(news)); });
    TSignals signals;
    if (options.Demo) return RunDemo(options, signals);

    if (!options.Dir.empty()) {
        std::error_code ec;
        const auto dir = std::filesystem::absolute(options.Dir, ec);
        if (ec || !std::filesystem::is_directory(dir)) {
            Say("kalosqm-station: --dir " + Printable(options.Dir) + ": there is no such folder");
            return 1;
        }
        SetProgramDir(dir.lexically_normal().string());
    }
    return RunStationService(signals, options);
}
