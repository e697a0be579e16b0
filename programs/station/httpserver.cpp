#include "programs/station/httpserver.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/station/myutils.h"

namespace {

bool IsDigits(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

const char* ReasonOf(int status) {
    switch (status) {
        case 200: return "OK";
        case 400: return "Bad Request";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 413: return "Payload Too Large";
        case 500: return "Internal Server Error";
        case 503: return "Service Unavailable";
        default: return "";
    }
}

// The request's arguments; one given twice makes the request bad.
struct TArgs {
    std::map<std::string, std::string> Values;
    std::string Twice;
};

MHD_Result CollectArg(void* cls, MHD_ValueKind, const char* key, const char* value) {
    auto* args = static_cast<TArgs*>(cls);
    const std::string k = key ? key : "";
    if (!args->Values.emplace(k, value ? value : "").second && args->Twice.empty()) args->Twice = k;
    return MHD_YES;
}

std::string Chomped(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

void SayHttp(const std::string& text) { std::fprintf(stderr, "kalosqm-station: http: %s\n", Printable(text).c_str()); }

// A body made while it is sent, piece by piece.
struct TStreamState {
    TBodyStream Next;
    std::string Piece;
    size_t At = 0;
    std::function<void(const std::string&)> Cut;  // says why an answer ended unfinished
};

ssize_t ReadStream(void* cls, uint64_t, char* buf, size_t max) {
    auto* s = static_cast<TStreamState*>(cls);
    try {
        while (s->At >= s->Piece.size()) {
            s->Piece = s->Next();
            s->At = 0;
            if (s->Piece.empty()) return MHD_CONTENT_READER_END_OF_STREAM;
        }
    } catch (const std::exception& e) {
        s->Cut(e.what());
        return MHD_CONTENT_READER_END_WITH_ERROR;
    } catch (...) {
        s->Cut("unknown error");
        return MHD_CONTENT_READER_END_WITH_ERROR;
    }
    const size_t n = std::min(max, s->Piece.size() - s->At);
    std::memcpy(buf, s->Piece.data() + s->At, n);
    s->At += n;
    return static_cast<ssize_t>(n);
}

void FreeStream(void* cls) { delete static_cast<TStreamState*>(cls); }

}  // namespace

THttpEndpoint ParseHttpEndpoint(const std::string& text) {
    THttpEndpoint e;
    std::string port = text;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find("]:");
        if (close == std::string::npos) throw std::invalid_argument("an IPv6 address is written [ADDR]:PORT");
        e.Address = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else if (const auto colon = text.rfind(':'); colon != std::string::npos) {
        if (colon > 0) e.Address = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    int p = -1;
    if (IsDigits(port) && port.size() <= 5) std::from_chars(port.data(), port.data() + port.size(), p);
    if (p < 0 || p > 65535) throw std::invalid_argument("the port must be a number from 0 to 65535, not '" + Printable(port) + "'");
    unsigned char buf[sizeof(in6_addr)];
    if (inet_pton(AF_INET, e.Address.c_str(), buf) != 1 && inet_pton(AF_INET6, e.Address.c_str(), buf) != 1)
        throw std::invalid_argument("'" + Printable(e.Address) + "' is not a numeric IPv4 or IPv6 address");
    e.Port = p;
    return e;
}

THttpResponse TextResponse(int status, const std::string& text) {
    THttpResponse r;
    r.Status = status;
    r.Body = std::to_string(status) + " " + ReasonOf(status) + "\n" + text + "\n";
    return r;
}

struct THttpServer::TImpl {
    static void Logger(void* cls, const char* fmt, va_list ap) {
        char line[512];
        std::vsnprintf(line, sizeof line, fmt, ap);
        static_cast<THttpServer*>(cls)->Log(fmt ? fmt : "", Chomped(line));
    }

    // The answer's last byte went out (or the client went): the next request's time starts now.
    static void Completed(void* cls, MHD_Connection* connection, void**, MHD_RequestTerminationCode) {
        auto* server = static_cast<THttpServer*>(cls);
        std::lock_guard lock(server->openMutex_);
        if (auto it = server->open_.find(connection); it != server->open_.end()) {
            it->second.Answering = false;
            it->second.Since = std::chrono::steady_clock::now();
        }
    }

    static void Notify(void* cls, MHD_Connection* connection, void**, MHD_ConnectionNotificationCode code) {
        auto* server = static_cast<THttpServer*>(cls);
        std::lock_guard lock(server->openMutex_);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
            if (info) server->open_[connection] = {info->connect_fd, false, std::chrono::steady_clock::now()};
        } else {
            server->open_.erase(connection);
        }
    }

    static MHD_Result Answer(void* cls, MHD_Connection* connection, const char* url, const char* method, const char*,
                             const char*, size_t* uploadSize, void** state) {
        auto* server = static_cast<THttpServer*>(cls);
        THttpResponse r;
        const std::string m = method ? method : "";
        if (m != "GET" && m != "HEAD") {
            r = TextResponse(405, "this page is read-only: only GET and HEAD are answered");
        } else if (*uploadSize > 0 || *state != nullptr) {
            r = TextResponse(413, "a request to read a page carries no body");
        } else {
            THttpRequest req;
            req.Method = m;
            req.Path = url ? url : "";
            TArgs args;
            MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, &CollectArg, &args);
            if (!args.Twice.empty()) {
                r = TextResponse(400, "the parameter '" + Printable(args.Twice) + "' is given twice");
            } else {
                req.Query = std::move(args.Values);
                try {
                    r = server->handler_(req);
                } catch (const std::exception& e) {
                    r = TextResponse(500, Printable(e.what()));
                } catch (...) {
                    r = TextResponse(500, "unknown error");
                }
            }
        }
        *state = server;  // a body still coming is refused on the next call
        {
            std::lock_guard lock(server->openMutex_);
            if (auto it = server->open_.find(connection); it != server->open_.end())
                it->second.Answering = true;  // the silence timeout alone watches the answer
        }
        MHD_Response* resp = nullptr;
        if (r.Stream) {  // HEAD: the library reads none of it
            auto* body = new TStreamState{std::move(r.Stream), {}, 0,
                                          [server](const std::string& why) { server->Log("cut", "an answer was cut: " + why); }};
            resp = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 64 * 1024, &ReadStream, body, &FreeStream);
            if (!resp) delete body;
        } else {
            resp = MHD_create_response_from_buffer(r.Body.size(), r.Body.data(), MHD_RESPMEM_MUST_COPY);
        }
        if (!resp) return MHD_NO;
        MHD_add_response_header(resp, MHD_HTTP_HEADER_CONTENT_TYPE, r.ContentType.c_str());
        MHD_add_response_header(resp, "X-Content-Type-Options", "nosniff");
        MHD_add_response_header(resp, "Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'; img-src 'self' data:");
        MHD_add_response_header(resp, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
        if (r.Status == 405) MHD_add_response_header(resp, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
        const MHD_Result ok = MHD_queue_response(connection, static_cast<unsigned>(r.Status), resp);
        MHD_destroy_response(resp);
        return ok;
    }
};

THttpServer::THttpServer(const THttpEndpoint& at, Handler handler, const THttpLimits& limits)
    : handler_(std::move(handler)), at_(at), requestLimit_(limits.RequestSeconds), logPeriod_(limits.LogSeconds) {
    sockaddr_storage addr{};
    const bool v6 = at.Address.find(':') != std::string::npos;
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ERROR_LOG;
    if (v6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&addr);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(static_cast<uint16_t>(at.Port));
        inet_pton(AF_INET6, at.Address.c_str(), &a->sin6_addr);
        flags |= MHD_USE_IPv6;
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&addr);
        a->sin_family = AF_INET;
        a->sin_port = htons(static_cast<uint16_t>(at.Port));
        inet_pton(AF_INET, at.Address.c_str(), &a->sin_addr);
    }
    MHD_Daemon* d = MHD_start_daemon(
        flags, static_cast<uint16_t>(at.Port), nullptr, nullptr, &TImpl::Answer, this,
        MHD_OPTION_EXTERNAL_LOGGER, &TImpl::Logger, this,  // first, or the library's own logger is used before it
        MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&addr),
        MHD_OPTION_CONNECTION_LIMIT, limits.Connections,
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, limits.PerAddress,
        MHD_OPTION_CONNECTION_TIMEOUT, limits.TimeoutSeconds,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, limits.MemoryPerConnection,
        MHD_OPTION_THREAD_POOL_SIZE, limits.Threads,
        MHD_OPTION_NOTIFY_CONNECTION, &TImpl::Notify, this,
        MHD_OPTION_NOTIFY_COMPLETED, &TImpl::Completed, this,
        MHD_OPTION_END);
    if (!d)
        throw std::runtime_error("cannot listen on " + Url() + ": " + std::strerror(errno) +
                                 " (another program on that port, or an address this machine does not have)");
    daemon_ = d;
    const MHD_DaemonInfo* info = MHD_get_daemon_info(d, MHD_DAEMON_INFO_BIND_PORT);
    port_ = info ? info->port : at.Port;
    watchdog_ = std::thread([this] { Watch(); });
}

THttpServer::~THttpServer() {
    {
        std::lock_guard lock(openMutex_);
        stopping_ = true;
    }
    stopWatch_.notify_all();
    if (watchdog_.joinable()) watchdog_.join();
    if (daemon_) MHD_stop_daemon(static_cast<MHD_Daemon*>(daemon_));
    FlushLog(true);  // what was counted is said before the end
}

void THttpServer::Log(const std::string& kind, const std::string& text) {
    std::lock_guard lock(logMutex_);
    const auto now = std::chrono::steady_clock::now();
    auto [it, first] = logKinds_.try_emplace(kind);
    TLogKind& k = it->second;
    if (first || (k.More == 0 && now - k.SaidAt >= logPeriod_)) {
        SayHttp(text);
        k.SaidAt = now;
        return;
    }
    ++k.More;
    k.Last = text;
}

void THttpServer::FlushLog(bool all) {
    std::lock_guard lock(logMutex_);
    const auto now = std::chrono::steady_clock::now();
    for (auto& [kind, k] : logKinds_) {
        if (k.More == 0 || (!all && now - k.SaidAt < logPeriod_)) continue;
        SayHttp(std::to_string(k.More) + " more like this since the last such line, the last: " + k.Last);
        k.SaidAt = now;
        k.More = 0;
    }
}

void THttpServer::Watch() {
    std::unique_lock lock(openMutex_);
    while (!stopping_) {
        stopWatch_.wait_for(lock, std::chrono::milliseconds(500));
        const auto now = std::chrono::steady_clock::now();
        // The connection is closed by the library, which tells Notify: the fd is
        // still its own while it is listed here.
        for (auto& [connection, open] : open_)
            if (open.Fd >= 0 && !open.Answering && now - open.Since > requestLimit_) {
                ::shutdown(open.Fd, SHUT_RDWR);
                open.Fd = -1;
            }
        lock.unlock();
        FlushLog(false);
        lock.lock();
    }
}

std::string THttpServer::Url() const {
    const std::string host = at_.Address.find(':') != std::string::npos ? "[" + at_.Address + "]" : at_.Address;
    return host + ":" + std::to_string(port_ ? port_ : at_.Port);
}
