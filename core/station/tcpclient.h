#pragma once
// A blocking TCP client with a connect timeout, a read timeout and line
// reading, as the meter and the time servers need. Connection errors
// (refused, unreachable, closed by the peer) are thrown as TcpError.
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>

class TcpError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A wait as people read it: "3 s", or "300 ms" when not whole seconds.
std::string WaitText(int ms);

class TcpClient {
public:
    TcpClient() = default;
    ~TcpClient();
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;

    std::string Host;
    int Port = 0;
    int ReadTimeoutMs = 5000;
    // Longest line ReadLn accepts; a longer one is an error, never a hang.
    size_t MaxLineLength = 4096;

    void Connect(int connectTimeoutMs);
    bool Connected() const { return fd_ >= 0; }
    void Disconnect();

    void Write(const std::string& data);
    // Bytes up to the first line feed (removed, with a carriage return before
    // it). An empty string when the read timeout passes first.
    std::string ReadLn();
    // Whether the last ReadLn ended because its timeout passed (an empty line
    // is no timeout).
    bool TimedOut() const { return timedOut_; }
    // Exactly n bytes; false when the timeout passes first.
    bool ReadBytes(void* buf, size_t n, int timeoutMs);
    // Throws away whatever already waits in the socket (a late reply).
    void DiscardPending();

private:
    // Appends what arrives before the deadline to pending_; false on timeout.
    // A closed or failed connection is disconnected and thrown.
    bool ReceiveMore(std::chrono::steady_clock::time_point deadline);

    int fd_ = -1;
    std::string pending_;
    bool timedOut_ = false;
};
