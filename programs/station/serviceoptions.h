#pragma once
// kalosqm-station's command line: its options, their usage errors and the
// text of --help.
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/site/acquisition.h"
#include "programs/station/httpserver.h"

struct TServiceOptions {
    std::vector<int> Sites;  // --site; empty: every site with SIT_AUTOSTART = 1
    bool Wait = false;       // --wait: with no site to run, wait for SIGHUP
    bool Demo = false;       // --demo
    std::string Dir;         // --dir: the program folder (Dati, LOGS, crdfiles)
    std::string DemoDir;     // --demo-dir
    std::string DataSupplier;  // --data-supplier: "# Data supplier:" of the night files
    int TickMs = TAcquisition::kTickMs;  // --tick-ms, for tests
    std::optional<THttpEndpoint> Http;   // --http (or KALOSQM_HTTP): the read-only web page
    bool Help = false;
};

class TUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The value of --http or KALOSQM_HTTP; throws TUsageError.
THttpEndpoint ParseHttpOption(const std::string& text);
// Throws TUsageError with what is wrong.
TServiceOptions ParseServiceArgs(const std::vector<std::string>& args);
const char* ServiceUsage();
