#pragma once
// The program's record of what went out of reach for a while: the network
// database (by server), a site code the network database does not know, and
// the time servers. An outage writes one line when it begins and one when it
// ends, never one per tick. The data module keeps the one of the program;
// every site's acquisition reports its contacts to it with the tick's time.
#include <functional>
#include <map>
#include <set>
#include <string>

// One check of the network database for a site, as the upload saw it.
struct TNetworkContact {
    // NoCredentials: the site's file went bad, which is no outage (the site page says it).
    enum class Result { Reached, Unreachable, SiteUnknown, NoCredentials };
    Result What = Result::Reached;
    std::string SiteCode;  // trimmed
    std::string Server;    // "host:port" of the site's credentials
    std::string Why;       // Unreachable: the check's text and the client's words
};

// Checks the connection of a site as TestNetworkConnection does, keeping
// the client's words. Errors of the check (a failing count statement) are thrown.
TNetworkContact CheckNetworkContact(const std::string& siteCode);

// "5 min 3 s", "2 h 10 min", "3 d 4 h": a span of days, to the second.
std::string OutageDuration(double days);

class TOutages {
public:
    // The log files of the lines: the network log and the general one.
    static constexpr const char* kNetworkLog = "NETWORK";
    static constexpr const char* kTimeLog = "";

    // Also told every line, without its time stamp (the service's journal).
    void SetEcho(std::function<void(const std::string&)> echo) { echo_ = std::move(echo); }

    // A check of the network database by a site at local time now.
    void Contact(double now, int siteId, const TNetworkContact& c);
    // One pass over a site's waiting readings: sent went up; drained when
    // the pass saw every reading that waited (fewer than its limit). The
    // end line of an outage waits until each site that met it has drained,
    // so that it can say how many waiting readings went up.
    void WaitingPass(double now, int siteId, int sent, bool drained);

    // A synchronisation found no time (why: each server and what it did) / found one.
    void TimeFailed(double now, const std::string& why);
    void TimeAnswered(double now);

    bool NetworkDown(const std::string& server) const;
    bool TimeDown() const { return timeDownSince_ != 0; }

private:
    struct TOutage {
        std::string Subject;     // the server, or "site code X"
        bool UnknownCode = false;
        double Since = 0;        // first failure
        double Back = 0;         // first success after it; 0 while out of reach
        std::set<int> Waiting;   // sites whose readings wait for it
        int Sent = 0;            // waiting readings sent since Back
    };
    static TOutage Outage(const std::string& subject, bool unknownCode) {
        TOutage o;
        o.Subject = subject;
        o.UnknownCode = unknownCode;
        return o;
    }
    void Fail(double now, const std::string& key, TOutage o, int siteId, const std::string& beginText);
    void Reached(double now, const std::string& key);
    void Finish(double now, const std::string& key);
    void Write(double now, const std::string& text, const char* log);

    std::map<std::string, TOutage> network_;  // by server, or "code:" + site code
    double timeDownSince_ = 0;
    std::function<void(const std::string&)> echo_;
};
