#pragma once
// The station's read-only web server: libmicrohttpd behind a small RAII
// class. Its own threads answer the clients, so the acquisition loop never
// waits for one; the bounds on connections, request size and slow clients
// are the library's own.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

// "ADDR:PORT", ":PORT" or "PORT" (then 127.0.0.1), "[IPv6]:PORT"; port 0
// takes a free port. Throws std::invalid_argument saying what is wrong.
struct THttpEndpoint {
    std::string Address = "127.0.0.1";
    int Port = 8080;
};
THttpEndpoint ParseHttpEndpoint(const std::string& text);

struct THttpRequest {
    std::string Method;
    std::string Path;  // already percent-decoded by the library
    std::map<std::string, std::string> Query;
};

// A body made while it is sent, so a long answer never lies whole in
// memory: each call gives the next piece, empty at the end. A throw ends the
// answer unfinished (no last chunk), so the client sees it cut.
using TBodyStream = std::function<std::string()>;

struct THttpResponse {
    int Status = 200;
    std::string ContentType = "text/plain; charset=utf-8";
    std::string Body;
    TBodyStream Stream;  // when set, the body instead of Body (chunked)
};
// A short plain-text answer: "404 Not Found\nno such page: /x".
THttpResponse TextResponse(int status, const std::string& text);

struct THttpLimits {
    unsigned Connections = 128;        // all clients together
    unsigned PerAddress = 64;          // from one address
    unsigned TimeoutSeconds = 10;      // a client silent this long is dropped (also one that stops reading)
    unsigned RequestSeconds = 10;      // and one whose request is not whole by then (a trickle)
    unsigned LogSeconds = 60;          // the library's messages: one line per kind this often, with a count
    size_t MemoryPerConnection = 32 * 1024;  // request line and headers must fit
    unsigned Threads = 2;
};

class THttpServer {
public:
    using Handler = std::function<THttpResponse(const THttpRequest&)>;
    // Listens at once; throws std::runtime_error naming the address when it cannot.
    THttpServer(const THttpEndpoint& at, Handler handler, const THttpLimits& limits = {});
    ~THttpServer();  // stops listening and waits for the answers under way
    THttpServer(const THttpServer&) = delete;
    THttpServer& operator=(const THttpServer&) = delete;

    // The port actually listened on (the free one chosen for port 0).
    int Port() const { return port_; }
    // "127.0.0.1:8080", "[::1]:8080".
    std::string Url() const;

private:
    struct TImpl;
    friend struct TImpl;
    // The watchdog of trickling clients: the library's timeout counts only
    // silence, so a client sending a byte a second would hold on for ever.
    // It times a request while it comes in, never an answer going out: a
    // client that keeps reading a long answer is served to its end.
    struct TOpen {
        int Fd = -1;
        bool Answering = false;  // from the queueing of an answer to its last byte
        std::chrono::steady_clock::time_point Since;  // when the request began to come
    };
    // The library's own messages, summarised: the first of a kind at once,
    // the rest counted and said at most once per period.
    struct TLogKind {
        std::chrono::steady_clock::time_point SaidAt;
        long long More = 0;
        std::string Last;
    };
    void Log(const std::string& kind, const std::string& text);
    void FlushLog(bool all);
    void Watch();
    Handler handler_;
    THttpEndpoint at_;
    std::chrono::seconds requestLimit_;
    std::chrono::seconds logPeriod_;
    std::mutex logMutex_;
    std::map<std::string, TLogKind> logKinds_;
    std::mutex openMutex_;
    std::map<void*, TOpen> open_;
    std::condition_variable stopWatch_;
    bool stopping_ = false;
    std::thread watchdog_;
    int port_ = 0;
    void* daemon_ = nullptr;
};
