#pragma once
// Unattended failures are appended to text logs in LOGS beside the program:
// ERROR-LOG.txt for an empty log name, ERROR-LOG-SITE-<name>.TXT otherwise.
// Writing a log never fails the caller: a line that cannot be written is lost.
// Control characters and invalid UTF-8 in a line are written escaped (Printable).
#include <string>

class TErrorLog {
public:
    void WriteError(const std::string& Line, const std::string& LogName);

    // The file a log name writes to (no folder).
    static std::string FileNameFor(const std::string& LogName);
    static std::string Folder();
};

// Convenience for the usual create / write once / free pattern.
inline void WriteErrorLog(const std::string& line, const std::string& logName) {
    TErrorLog().WriteError(line, logName);
}
