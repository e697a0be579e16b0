#pragma once
// kalosqm-station --demo: the program's main job on a machine that has never
// seen a meter. A demo program folder with its own copy of the delivered
// database, one site "Demo roof" reading an sqmle-sim on 127.0.0.1, shown by
// the desktop program when there is a display, by the service otherwise.
#include <string>

#include "core/station/programlayout.h"
#include "programs/station/servicecore.h"

struct TDemoLayout {
    std::string ExeDir;      // where kalosqm-station, kalosqm and sqmle-sim are
    std::string DemoDir;     // the demo program folder
    std::string Delivered;   // the delivered (pristine) database
    std::string Catalogues;  // the language folders the desktop program is given
};
// A build tree: bin/ with the executables, db/KALOSQMDATA.FDB and demo/
// beside it. An installed program cannot write beside itself: the demo
// folder is kalosqm-demo beside the user's program folder
// (~/.local/share/kalosqm-demo). demoDir, when given, wins.
TDemoLayout DemoLayout(const TProgramLayout& program, const std::string& demoDir);

// The exit code of the demo.
int RunDemo(const TServiceOptions& options, TSignals& signals);
