#include "core/station/errorlog.h"

#include "core/station/lastresort.h"
#include "core/station/myutils.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// "ERROR-LOG-SITE-" + name + ".TXT" within the 255 bytes of a file name.
constexpr size_t kMaxLogNamePart = 255 - 19;

// The watchers (the latest one alive hears the news) and the files that are
// losing lines now, with why.
struct TWatchState {
    std::mutex lock;
    std::vector<std::pair<const TErrorLogWatch*, TErrorLogWatcher>> watchers;
    std::map<std::string, std::string> failing;  // path -> reason
};

TWatchState& State() {
    static TWatchState state;
    return state;
}

// Tells the watcher when a file's fortune changes; only then.
void Record(const std::string& path, bool ok, const std::string& reason) {
    TWatchState& s = State();
    TErrorLogWatcher watcher;
    TErrorLogNews news;
    {
        std::lock_guard<std::mutex> hold(s.lock);
        const auto it = s.failing.find(path);
        if (ok) {
            if (it == s.failing.end()) return;
            s.failing.erase(it);
        } else {
            if (it != s.failing.end()) return;
            s.failing.emplace(path, reason);
            news.Failing = true;
            news.Reason = reason;
        }
        news.Path = path;
        if (!s.watchers.empty()) watcher = s.watchers.back().second;
    }
    // Outside the lock: a watcher may well write a log of its own.
    if (watcher) watcher(news);
}

}  // namespace

std::string TErrorLog::Folder() { return ProgramPath("LOGS"); }

std::string TErrorLog::FileNameFor(const std::string& LogName) {
    if (LogName.empty()) return "ERROR-LOG.txt";
    return "ERROR-LOG-SITE-" + BoundedNamePart(LogName, kMaxLogNamePart) + ".TXT";
}

std::string TErrorLog::Failing(const std::string& LogName) {
    const std::string path = Folder() + "/" + FileNameFor(LogName);
    TWatchState& s = State();
    std::lock_guard<std::mutex> hold(s.lock);
    const auto it = s.failing.find(path);
    return it == s.failing.end() ? std::string() : it->second;
}

bool TErrorLog::WriteError(const std::string& Line, const std::string& LogName) {
    std::string path;
    try {
        const std::string folder = Folder();
        ::mkdir(folder.c_str(), 0775);  // may exist already; other failures show up at open
        const std::string name = FileNameFor(LogName);
        if (name.find('/') != std::string::npos || name.find('\0') != std::string::npos) return false;
        path = folder + "/" + name;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0664);
        if (fd < 0) {
            Record(path, false, std::strerror(errno));
            return false;
        }
        // One write of the whole line: appends from other writers never land inside it.
        // Escaped, so that an entry stays one line and a meter's or a server's
        // bytes quoted in it never reach whoever reads the log raw.
        const std::string data = Printable(Line) + "\r\n";
        const off_t start = ::lseek(fd, 0, SEEK_END);
        const char* p = data.data();
        size_t left = data.size();
        int error = 0;
        while (left > 0) {
            const ssize_t n = ::write(fd, p, left);
            if (n < 0) {
                if (errno == EINTR) continue;
                error = errno;
                break;
            }
            p += n;
            left -= static_cast<size_t>(n);
        }
        // A torn line would glue the next one to it: take it back unless
        // another writer has appended since.
        struct stat st {};
        if (error != 0 && left < data.size() && start >= 0 && ::fstat(fd, &st) == 0 &&
            st.st_size == start + static_cast<off_t>(data.size() - left))
            (void)::ftruncate(fd, start);
        if (::close(fd) != 0 && error == 0) error = errno;
        Record(path, error == 0, error == 0 ? std::string() : std::strerror(error));
        return error == 0;
    } catch (...) {
        // A log must never take the caller down with it.
        std::string why = "Unknown error";  // no std::exception: no text
        try {
            throw;
        } catch (const std::exception& e) {
            why = e.what();
        } catch (...) {
        }
        if (!path.empty()) {
            try {
                Record(path, false, why);
            } catch (...) {
                LastResortLine("the log " + path + " (" + why + ")");
            }
        }
        return false;
    }
}

TErrorLogWatch::TErrorLogWatch(TErrorLogWatcher watcher) {
    TWatchState& s = State();
    std::lock_guard<std::mutex> hold(s.lock);
    s.watchers.emplace_back(this, std::move(watcher));
}

TErrorLogWatch::~TErrorLogWatch() {
    TWatchState& s = State();
    std::lock_guard<std::mutex> hold(s.lock);
    std::erase_if(s.watchers, [this](const auto& w) { return w.first == this; });
}

std::string DescribeErrorLogNews(const TErrorLogNews& news) {
    if (news.Failing)
        return "the error log " + Printable(news.Path) + " cannot be written (" + Printable(news.Reason) +
               "): its lines are lost until it can";
    return "the error log " + Printable(news.Path) + " is written again";
}
