#pragma once
// Helpers shared by the Internet-time tests.
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace timetest {

// Whether this process may send ICMP echoes: its group lies in the range
// of unprivileged ping sockets, or it holds CAP_NET_RAW for a raw socket.
inline bool PingSocketAllowed() {
    std::ifstream in("/proc/sys/net/ipv4/ping_group_range");
    long long lo = 1, hi = 0;
    if (!(in >> lo >> hi)) return false;
    const long long gid = static_cast<long long>(::getegid());
    return gid >= lo && gid <= hi;
}

inline bool HasEffectiveNetRaw() {
    __user_cap_header_struct h{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct d[2]{};
    if (::syscall(SYS_capget, &h, d) != 0) return false;
    return (d[0].effective & (1u << CAP_NET_RAW)) != 0;
}

inline bool IcmpPermitted() { return PingSocketAllowed() || HasEffectiveNetRaw(); }

// A fresh folder removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "kalotime-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

// Sets TZ for the test and puts the previous zone back afterwards.
class TzGuard {
public:
    explicit TzGuard(const char* tz) {
        const char* old = std::getenv("TZ");
        hadOld_ = old != nullptr;
        if (hadOld_) old_ = old;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~TzGuard() {
        if (hadOld_)
            ::setenv("TZ", old_.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    bool hadOld_ = false;
    std::string old_;
};

inline std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace timetest
