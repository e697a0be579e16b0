#pragma once
// Unattended failures are appended to text logs in LOGS beside the program:
// ERROR-LOG.txt for an empty log name, ERROR-LOG-SITE-<name>.TXT otherwise.
// Writing a log never fails the caller: a line that cannot be written is lost,
// but not without a word: the program's log watcher is told (see below).
// Control characters and invalid UTF-8 in a line are written escaped (Printable).
#include <functional>
#include <string>

class TErrorLog {
public:
    // True when the whole line reached the file.
    bool WriteError(const std::string& Line, const std::string& LogName);

    // The file a log name writes to (no folder). A name too long for a file
    // name is cut and marked with a hash of the whole name (BoundedNamePart).
    static std::string FileNameFor(const std::string& LogName);
    static std::string Folder();
    // Why the last line meant for this log was lost; empty while it is written.
    static std::string Failing(const std::string& LogName);
};

// Convenience for the usual create / write once / free pattern.
inline void WriteErrorLog(const std::string& line, const std::string& logName) {
    TErrorLog().WriteError(line, logName);
}

// What the owner must hear about the logs themselves: the first line a log
// file could not take (with the reason), and the first it took again after.
// Not one word per lost line: one per outage of each file.
struct TErrorLogNews {
    bool Failing = false;  // true: lines are being lost; false: written again
    std::string Path;
    std::string Reason;    // strerror of the failure; empty when written again
};
using TErrorLogWatcher = std::function<void(const TErrorLogNews&)>;

// Installs a watcher for as long as it lives; of several alive, the latest
// hears the news (in whatever order they go). The logs are written from
// every part of the engine (time server, upload, acquisition, night files,
// import) through WriteErrorLog, with no object in common to hold a watcher:
// so the watchers are the process's, guarded by a lock. A watcher may be
// called from any thread that writes a log, and must not block.
class TErrorLogWatch {
public:
    explicit TErrorLogWatch(TErrorLogWatcher watcher);
    ~TErrorLogWatch();
    TErrorLogWatch(const TErrorLogWatch&) = delete;
    TErrorLogWatch& operator=(const TErrorLogWatch&) = delete;
};

// The sentence a watcher shows: "the error log <path> cannot be written (<reason>):
// its lines are lost until it can" / "the error log <path> is written again".
std::string DescribeErrorLogNews(const TErrorLogNews& news);
