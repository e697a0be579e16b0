#pragma once
// Where the program keeps its folders. A build tree or a portable copy keeps
// them beside the executable; an installed program (<prefix>/bin beside
// <prefix>/share/kalosqm) cannot write there and keeps them in the user's
// data folder instead, reading the delivered database and the catalogues
// from the read-only share folder.
#include <string>

struct TProgramLayout {
    std::string ExeDir;
    // Dati, LOGS, WinSetup, crdfiles, NightFiles, Locale/LangSettings.ini.
    std::string ProgramDir;
    // <prefix>/share/kalosqm when installed; empty for a build tree or a copy.
    std::string ShareDir;
    bool Installed() const { return !ShareDir.empty(); }
    // The language folders (Locale/<code>/...).
    std::string CataloguesDir() const;
    // The delivered database, the template of every new program folder.
    std::string DeliveredDatabase() const;
};

// The rule, in order: a Dati folder beside the executable makes it the
// program folder (build tree, portable copy, even inside a prefix); else
// <exeDir>/../share/kalosqm/KALOSQMDATA.FDB marks an installed program, whose
// folder is $XDG_DATA_HOME/kalosqm (when absolute) or $HOME/.local/share/kalosqm;
// else the executable's folder. Writability is no sign: root may write /usr.
// xdgDataHome and home may be null (unset); an empty home falls back to the
// password database.
TProgramLayout FindProgramLayout(const std::string& exeDir, const char* xdgDataHome, const char* home);

// The layout of this process (its executable and environment), found once.
const TProgramLayout& ThisProgramLayout();

// An installed program's first start: makes its folder and
// Dati/KALOSQMDATA.FDB from the delivered database when there is none yet
// (an existing file is never touched). Empty on success or when there is
// nothing to do, otherwise why not.
std::string MakeHomeDatabase(const TProgramLayout& layout);
