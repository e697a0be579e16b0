#pragma once
// A plain HTTP/1.1 client for the station's web page (raw sockets on
// 127.0.0.1, nothing between), and the station started with --http on a free port.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <regex>
#include <string>

#include "support/service_test_support.h"

namespace webtest {

using namespace std::chrono_literals;

struct TReply {
    int Status = 0;  // 0: no answer (the connection failed or was closed)
    std::string Headers, Body;  // Body: a chunked body decoded
    bool Whole = false;  // the body as long as announced, or a chunked one with its last chunk
};

inline int Connect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads until the server closes, for at most limit.
inline std::string ReadAll(int fd, std::chrono::milliseconds limit) {
    std::string out;
    const auto end = std::chrono::steady_clock::now() + limit;
    char buf[65536];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

// A header's value, the name in any case; empty when absent.
inline std::string Header(const std::string& headers, const std::string& name) {
    std::string lower = headers, key = "\r\n" + name + ":";
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (auto& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto at = lower.find(key);
    if (at == std::string::npos) return {};
    const auto from = headers.find_first_not_of(' ', at + key.size());
    return headers.substr(from, headers.find("\r\n", from) - from);
}

inline TReply Parse(const std::string& raw) {
    TReply r;
    const auto end = raw.find("\r\n\r\n");
    if (raw.rfind("HTTP/1.", 0) != 0 || end == std::string::npos) return r;
    r.Status = std::stoi(raw.substr(9, 3));
    r.Headers = raw.substr(0, end);
    const std::string body = raw.substr(end + 4);
    if (Header(r.Headers, "Transfer-Encoding").find("chunked") == std::string::npos) {
        r.Body = body;
        const std::string length = Header(r.Headers, "Content-Length");
        r.Whole = !length.empty() && std::stoull(length) == body.size();
        return r;
    }
    for (size_t at = 0;;) {
        const auto line = body.find("\r\n", at);
        if (line == std::string::npos) break;
        const std::string sizeText = body.substr(at, line - at);
        if (sizeText.empty() || !std::isxdigit(static_cast<unsigned char>(sizeText[0]))) break;
        const size_t size = std::stoull(sizeText, nullptr, 16);
        if (size == 0) {
            r.Whole = true;
            break;
        }
        if (line + 2 + size > body.size()) {
            r.Body += body.substr(line + 2);
            break;
        }
        r.Body += body.substr(line + 2, size);
        at = line + 2 + size + 2;
    }
    return r;
}

// The request line as written (no normalisation of the path).
inline TReply Request(int port, const std::string& target, const std::string& method = "GET") {
    const int fd = Connect(port);
    if (fd < 0) return {};
    const std::string req = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    ::send(fd, req.data(), req.size(), MSG_NOSIGNAL);
    const std::string raw = ReadAll(fd, 60s);
    ::close(fd);
    return Parse(raw);
}

// The port from the station's "web page at http://127.0.0.1:PORT/" line; 0 until it is said.
inline int WebPort(const servicetest::TChild& station) {
    static const std::regex line(R"(^kalosqm-station: web page at http://127\.0\.0\.1:(\d+)/.*$)");
    std::smatch m;
    for (const auto& l : station.ErrLines())
        if (std::regex_match(l, m, line)) return std::stoi(m[1]);
    return 0;
}

// Every match of a regex's first group in a text.
inline std::vector<std::string> All(const std::string& text, const std::string& pattern) {
    std::vector<std::string> out;
    const std::regex re(pattern);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator(); ++it)
        out.push_back((*it)[1]);
    return out;
}

}  // namespace webtest
