#include "core/station/clocksetter.h"

#include "core/station/myutils.h"

#include <cmath>
#include <ctime>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Makes one capability effective while it lives, when the process is
// allowed to; leaves everything as found otherwise.
class ScopedCapability {
public:
    explicit ScopedCapability(int cap) {
        header_.version = _LINUX_CAPABILITY_VERSION_3;
        header_.pid = 0;
        if (::syscall(SYS_capget, &header_, data_) != 0) return;
        const unsigned idx = static_cast<unsigned>(cap) / 32;
        const __u32 bit = 1u << (static_cast<unsigned>(cap) % 32);
        if ((data_[idx].permitted & bit) == 0 || (data_[idx].effective & bit) != 0) return;
        __user_cap_data_struct raised[2] = {data_[0], data_[1]};
        raised[idx].effective |= bit;
        raised_ = ::syscall(SYS_capset, &header_, raised) == 0;
    }
    ~ScopedCapability() {
        if (raised_) ::syscall(SYS_capset, &header_, data_);
    }
    ScopedCapability(const ScopedCapability&) = delete;
    ScopedCapability& operator=(const ScopedCapability&) = delete;

private:
    __user_cap_header_struct header_{};
    __user_cap_data_struct data_[2]{};
    bool raised_ = false;
};

}  // namespace

bool TClockSetter::SetClockUtc(double utc) {
    if (!std::isfinite(utc)) return false;
    const double unixSeconds = DateTimeToUnix(utc);
    if (unixSeconds < 0 || unixSeconds > 253402300799.0) return false;  // 1970 .. 9999
    const double whole = std::floor(unixSeconds);
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(whole);
    ts.tv_nsec = static_cast<long>(std::fmin((unixSeconds - whole) * 1e9, 999999999.0));
    ScopedCapability privilege(CAP_SYS_TIME);
    return ::clock_settime(CLOCK_REALTIME, &ts) == 0;
}
