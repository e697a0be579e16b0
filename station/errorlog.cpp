#include "errorlog.h"

#include "myutils.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string TErrorLog::Folder() { return ProgramPath("LOGS"); }

std::string TErrorLog::FileNameFor(const std::string& LogName) {
    if (LogName.empty()) return "ERROR-LOG.txt";
    return "ERROR-LOG-SITE-" + LogName + ".TXT";
}

void TErrorLog::WriteError(const std::string& Line, const std::string& LogName) {
    try {
        const std::string folder = Folder();
        ::mkdir(folder.c_str(), 0775);  // may exist already; other failures show up at open
        const std::string name = FileNameFor(LogName);
        if (name.find('/') != std::string::npos || name.find('\0') != std::string::npos) return;
        const std::string path = folder + "/" + name;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0664);
        if (fd < 0) return;
        // One write of the whole line: appends from other writers never land inside it.
        // Escaped, so that an entry stays one line and a meter's or a server's
        // bytes quoted in it never reach whoever reads the log raw.
        const std::string data = Printable(Line) + "\r\n";
        const char* p = data.data();
        size_t left = data.size();
        while (left > 0) {
            const ssize_t n = ::write(fd, p, left);
            if (n < 0) {
                if (errno == EINTR) continue;
                break;
            }
            p += n;
            left -= static_cast<size_t>(n);
        }
        ::close(fd);
    } catch (...) {
        // A log must never take the caller down with it.
    }
}
