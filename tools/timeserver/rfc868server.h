#pragma once
// A Time protocol (RFC 868) server on 127.0.0.1 that misbehaves on request:
// it answers a fixed count of seconds or the current time, late, never, or
// closes the connection after half the answer.
#include <atomic>
#include <cstdint>
#include <optional>
#include <thread>
#include <vector>

namespace timeserver {

struct Reply {
    enum class Kind { Answer, Never, CloseEarly };
    Kind kind = Kind::Answer;
    std::optional<uint32_t> seconds;  // seconds since 1900-01-01 UTC; none: the current time
    int delayMs = 0;                  // wait this long after accepting before answering
};

// The current time as RFC 868 counts it (modulo 2^32).
uint32_t CurrentSeconds();

class Rfc868Server {
public:
    Rfc868Server() = default;
    ~Rfc868Server();
    Rfc868Server(const Rfc868Server&) = delete;
    Rfc868Server& operator=(const Rfc868Server&) = delete;

    // Listens on 127.0.0.1:port (0: a free port) and serves connections one
    // after another in a thread of its own. Connection i gets script[i]; the
    // last entry serves all later ones. Throws std::runtime_error.
    void Start(std::vector<Reply> script, int port = 0);
    // Closes every connection and the listening socket; waits for the thread.
    void Stop();

    int Port() const { return port_; }
    // Connections accepted / fully handled so far.
    int Accepted() const { return accepted_; }
    int Served() const { return served_; }

private:
    void Run();
    void Handle(int conn, const Reply& r);
    // Waits up to ms for the stop signal (or for conn to become readable or
    // closed when conn >= 0). True when stopping.
    bool WaitStop(int ms, int conn = -1);

    std::vector<Reply> script_;
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<int> accepted_{0};
    std::atomic<int> served_{0};
    std::thread thread_;
};

}  // namespace timeserver
