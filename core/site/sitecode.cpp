#include "core/site/sitecode.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "core/station/credentials.h"
#include "core/station/i18n.h"
#include "core/station/myutils.h"

namespace {

static_assert(kMaxSiteCodeLength == 8, "the refusal text names the limit");

std::string Reason(int e) { return std::strerror(e); }

class TFd {
public:
    explicit TFd(int fd) : fd_(fd) {}
    ~TFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return fd_; }
    // The close result matters for a file written: a full disk may show only here.
    int Close() {
        const int r = ::close(fd_);
        fd_ = -1;
        return r;
    }

private:
    int fd_;
};

void MakeFolder(const std::string& folder) {
    if (::mkdir(folder.c_str(), 0755) == 0) return;
    const int e = errno;
    struct stat st {};
    if (e == EEXIST && ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return;
    throw std::runtime_error(Tr("Cannot create the folder") + " " + folder + ": " +
                             (e == EEXIST ? Tr("a file of that name is in the way") : Reason(e)));
}

// A name of our own beside the target: O_EXCL, so two copies never share it.
int CreateTemporary(const std::string& target, std::string& tmp) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        tmp = target + "." + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
        const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

void CopyThroughTemporary(const std::string& source, const std::string& target) {
    // Checked by what was opened, not by the name: a FIFO put in its place
    // since the check must not hold the window.
    TFd in(::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (in.Get() < 0) throw std::runtime_error(Tr("Cannot read") + " " + source + ": " + Reason(errno));
    struct stat st {};
    if (::fstat(in.Get(), &st) != 0) throw std::runtime_error(Tr("Cannot read") + " " + source + ": " + Reason(errno));
    if (!S_ISREG(st.st_mode)) throw std::runtime_error(Tr("The credentials file is not in the expected format"));
    std::string tmp;
    TFd out(CreateTemporary(target, tmp));
    if (out.Get() < 0) throw std::runtime_error(Tr("Cannot write") + " " + target + ": " + Reason(errno));
    const auto fail = [&](const std::string& what, const std::string& file, int e) {
        out.Close();
        ::unlink(tmp.c_str());
        throw std::runtime_error(what + " " + file + ": " + Reason(e));
    };
    char buf[8192];
    for (;;) {
        const ssize_t n = ::read(in.Get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail(Tr("Cannot read"), source, errno);
        if (n == 0) break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out.Get(), buf + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w < 0) fail(Tr("Cannot write"), target, errno);
            done += w;
        }
    }
    if (::fsync(out.Get()) != 0) fail(Tr("Cannot write"), target, errno);
    if (out.Close() != 0) {
        const int e = errno;
        ::unlink(tmp.c_str());
        throw std::runtime_error(Tr("Cannot write") + " " + target + ": " + Reason(e));
    }
    if (::rename(tmp.c_str(), target.c_str()) != 0) {
        const int e = errno;
        ::unlink(tmp.c_str());
        throw std::runtime_error(Tr("Cannot write") + " " + target + ": " + Reason(e));
    }
}

}  // namespace

std::string CheckCodeForChoosing(const std::string& code, TBoxKind& kind) {
    const std::string c = Trim(code);
    kind = TBoxKind::Information;
    if (c.empty()) return Tr("First insert the Site code");
    kind = TBoxKind::Warning;
    if (c.size() > kMaxSiteCodeLength) return Tr("The Site code can have at most 8 characters");
    return {};
}

std::string CheckChosenCredentials(const std::string& code, const std::string& path, TBoxKind& kind) {
    if (std::string refusal = CheckCodeForChoosing(code, kind); !refusal.empty()) return refusal;
    try {
        const TCredentialsRecord rec = ReadCredentialsRecord(path);
        kind = TBoxKind::Warning;
        if (!rec.Consistent()) return Tr("Credentials file seems corrupted");
        if (Trim(code) != UnscrambleText(rec.Code)) return Tr("The site code does not match with the credential file");
        return {};
    } catch (const std::exception&) {
        kind = TBoxKind::Error;
        return Tr("The credentials file is not in the expected format");
    }
}

std::string CheckActivation(const std::string& code, const std::string& sourcePath, TBoxKind& kind) {
    const std::string c = Trim(code);
    kind = TBoxKind::Warning;
    if (c.empty()) return Tr("Insert the Site code");
    if (c.size() > kMaxSiteCodeLength) return Tr("The Site code can have at most 8 characters");
    std::error_code ec;
    if (sourcePath.empty() || !std::filesystem::exists(sourcePath, ec)) return Tr("Select a credentials file");
    return CheckChosenCredentials(c, sourcePath, kind);
}

void ActivateCredentials(const std::string& code, const std::string& sourcePath) {
    TBoxKind kind;
    if (const std::string refusal = CheckActivation(code, sourcePath, kind); !refusal.empty())
        throw std::runtime_error(refusal);
    const std::string c = Trim(code);
    // The code becomes part of a file name in crdfiles.
    if (c.find('/') != std::string::npos || c.find('\0') != std::string::npos)
        throw std::runtime_error(Tr("The Site code cannot name a credentials file") + ": " + c);
    MakeFolder(ProgramPath("crdfiles"));
    CopyThroughTemporary(sourcePath, CredentialsFileName(c));
}
