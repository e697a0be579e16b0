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

struct THttpResponse {
    int Status = 200;
    std::string ContentType = "text/plain; charset=utf-8";
    std::string Body;
};
// A short plain-text answer: "404 Not Found\nno such page: /x".
THttpResponse TextResponse(int status, const std::string& text);

struct THttpLimits {
    unsigned Connections = 128;        // all clients together
    unsigned PerAddress = 64;          // from one address
    unsigned TimeoutSeconds = 10;      // a client silent this long is dropped
    unsigned RequestSeconds = 10;      // and one whose request is not whole by then (a trickle)
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
    struct TOpen {
        int Fd = -1;
        std::chrono::steady_clock::time_point Since;
    };
    void Watch();
    Handler handler_;
    THttpEndpoint at_;
    std::chrono::seconds requestLimit_;
    std::mutex openMutex_;
    std::map<void*, TOpen> open_;
    std::condition_variable stopWatch_;
    bool stopping_ = false;
    std::thread watchdog_;
    int port_ = 0;
    void* daemon_ = nullptr;
};
