#include "core/station/netdatabase.h"

#include <errmsg.h>
#include <mysql.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <mutex>

#include "core/station/myutils.h"
#include "core/station/tcpclient.h"

namespace netdb {

namespace {

void LibraryInit() {
    // mysql_init() would do this lazily, but not safely from two threads at once.
    static std::once_flag once;
    std::call_once(once, [] { mysql_library_init(0, nullptr, nullptr); });
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

// A value quoted into a message stays one short, printable line.
std::string ShortPrintable(std::string_view text) {
    constexpr size_t kMax = 64;
    if (text.size() <= kMax) return Printable(std::string(text));
    return Printable(std::string(text.substr(0, kMax))) + "...";
}

// The client's text for a connection that failed ends in the system's
// error number, "(115)". A number says nothing to a person, and 115 (a
// connection still in progress, from the client's own timed connect) is not
// even the cause: the number is put in words, the cause of 115 found by a
// plain connection to the same port.
std::string ConnectFailureText(std::string text, const ConnectParams& p) {
    const size_t open = text.rfind(" (");
    if (open == std::string::npos || text.back() != ')') return text;
    const std::string digits = text.substr(open + 2, text.size() - open - 3);
    int number = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) return text;
    std::string cause = std::strerror(number);
    if (number == EINPROGRESS) {
        TcpClient probe;
        probe.Host = p.Host;
        probe.Port = p.Port;
        try {
            probe.Connect(std::max(p.ConnectTimeoutSeconds, 1) * 1000);
            return text;  // it answers now: nothing better to say
        } catch (const TcpError& e) {
            cause = e.what();
            if (const size_t colon = cause.find(": "); cause.rfind("Socket error", 0) == 0 && colon != std::string::npos)
                cause.erase(0, colon + 2);
        }
    }
    return text.substr(0, open + 2) + cause + ")";
}

}  // namespace

size_t Result::FieldIndex(std::string_view name) const {
    for (size_t i = 0; i < names_.size(); ++i)
        if (SameName(names_[i], name)) return i;
    throw Error("Field '" + std::string(name) + "' not found");
}

const std::optional<std::string>& Result::Value(size_t row, size_t column) const {
    if (row >= rows_.size()) throw Error("Row " + std::to_string(row) + " out of range");
    if (column >= names_.size()) throw Error("Field " + std::to_string(column) + " out of range");
    return rows_[row][column];
}

const std::optional<std::string>& Result::Value(size_t row, std::string_view column) const {
    return Value(row, FieldIndex(column));
}

std::string Result::FirstText() const {
    if (rows_.empty() || names_.empty()) return std::string();
    return rows_[0][0].value_or(std::string());
}

Connection::Connection() { LibraryInit(); }

Connection::~Connection() { Close(); }

void Connection::Close() {
    if (mysql_ != nullptr) {
        mysql_close(mysql_);
        mysql_ = nullptr;
    }
}

void Connection::RecordError() {
    if (mysql_ == nullptr) return;
    lastErrorCode_ = mysql_errno(mysql_);
    lastError_ = Printable(mysql_error(mysql_));  // the server's words, possibly echoing its data
    if (lastError_.empty()) lastError_ = "Unknown network database error";
}

bool Connection::Connect(const ConnectParams& p) {
    Close();
    lastError_.clear();
    lastErrorCode_ = 0;
    if (p.Port < 0 || p.Port > 65535) {
        lastError_ = "Invalid port " + std::to_string(p.Port);
        return false;
    }
    MYSQL* m = mysql_init(nullptr);
    if (m == nullptr) {
        lastError_ = "Out of memory for the network database client";
        return false;
    }
    const unsigned connectTimeout = p.ConnectTimeoutSeconds > 0 ? static_cast<unsigned>(p.ConnectTimeoutSeconds) : 0;
    const unsigned ioTimeout = p.ReadWriteTimeoutSeconds > 0 ? static_cast<unsigned>(p.ReadWriteTimeoutSeconds) : 0;
    const unsigned protocol = MYSQL_PROTOCOL_TCP;  // the credentials name a host and port, never a socket
    mysql_options(m, MYSQL_OPT_CONNECT_TIMEOUT, &connectTimeout);
    mysql_options(m, MYSQL_OPT_READ_TIMEOUT, &ioTimeout);
    mysql_options(m, MYSQL_OPT_WRITE_TIMEOUT, &ioTimeout);
    mysql_options(m, MYSQL_OPT_PROTOCOL, &protocol);
    mysql_options(m, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    // No CLIENT_MULTI_STATEMENTS: one call runs exactly one statement.
    if (mysql_real_connect(m, p.Host.c_str(), p.User.c_str(), p.Password.c_str(),
                           p.Database.empty() ? nullptr : p.Database.c_str(), static_cast<unsigned>(p.Port),
                           nullptr, 0) == nullptr) {
        lastErrorCode_ = mysql_errno(m);
        lastError_ = Printable(mysql_error(m));
        if (lastError_.empty()) lastError_ = "Unable to connect to the network database";
        if (lastErrorCode_ == CR_CONNECTION_ERROR || lastErrorCode_ == CR_CONN_HOST_ERROR)
            lastError_ = ConnectFailureText(lastError_, p);
        mysql_close(m);
        return false;
    }
    mysql_ = m;
    return true;
}

bool Connection::Execute(std::string_view sql, Result* result) {
    if (mysql_ == nullptr) throw Error("Not connected to the network database");
    if (result != nullptr) *result = Result();
    lastError_.clear();
    lastErrorCode_ = 0;
    if (mysql_real_query(mysql_, sql.data(), static_cast<unsigned long>(sql.size())) != 0) {
        RecordError();
        return false;
    }
    MYSQL_RES* res = mysql_store_result(mysql_);
    if (res == nullptr) {
        if (mysql_field_count(mysql_) != 0) {  // there were rows, but they did not arrive
            RecordError();
            return false;
        }
        return true;
    }
    if (result != nullptr) {
        const unsigned nFields = mysql_num_fields(res);
        MYSQL_FIELD* fields = mysql_fetch_fields(res);
        result->names_.reserve(nFields);
        for (unsigned i = 0; i < nFields; ++i) result->names_.emplace_back(fields[i].name, fields[i].name_length);
        while (MYSQL_ROW row = mysql_fetch_row(res)) {
            const unsigned long* lengths = mysql_fetch_lengths(res);
            std::vector<std::optional<std::string>> values(nFields);
            for (unsigned i = 0; i < nFields; ++i)
                if (row[i] != nullptr) values[i].emplace(row[i], lengths[i]);
            result->rows_.push_back(std::move(values));
        }
    }
    mysql_free_result(res);
    return true;
}

Result Connection::Query(std::string_view sql) {
    Result r;
    if (!Execute(sql, &r)) throw Error(lastError_, lastErrorCode_);
    return r;
}

std::string Connection::Escape(std::string_view text) const {
    if (mysql_ == nullptr) throw Error("Not connected to the network database");
    std::string out(text.size() * 2 + 1, '\0');
    const unsigned long n =
        mysql_real_escape_string(mysql_, out.data(), text.data(), static_cast<unsigned long>(text.size()));
    if (n == static_cast<unsigned long>(-1)) throw Error("Text cannot be escaped for the network database");
    out.resize(n);
    return out;
}

std::string Connection::Quote(std::string_view text) const { return "'" + Escape(text) + "'"; }

unsigned long long Connection::AffectedRows() const {
    if (mysql_ == nullptr) return 0;
    return mysql_affected_rows(mysql_);
}

std::string FormatFloat(double value) {
    if (!std::isfinite(value)) throw Error("A number that is not finite cannot be sent to the network database");
    if (value == 0) return "0";
    // 15 significant digits, correctly rounded, in the C++ library's own
    // locale-independent form: "-d.ddddddddddddddde-XX".
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
    const std::string_view sci(buf, static_cast<size_t>(res.ptr - buf));
    const bool negative = sci.front() == '-';
    const std::string_view body = negative ? sci.substr(1) : sci;
    const size_t e = body.find('e');
    std::string digits(1, body[0]);
    digits.append(body.substr(2, e - 2));
    int exponent = 0;
    std::from_chars(body.data() + e + (body[e + 1] == '+' ? 2 : 1), body.data() + body.size(), exponent);
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    std::string out = negative ? "-" : "";
    if (exponent >= -5 && exponent <= 14) {
        if (exponent >= 0) {
            const size_t intDigits = static_cast<size_t>(exponent) + 1;
            if (digits.size() <= intDigits) {
                out += digits;
                out.append(intDigits - digits.size(), '0');
            } else {
                out += digits.substr(0, intDigits);
                out += '.';
                out += digits.substr(intDigits);
            }
        } else {
            out += "0.";
            out.append(static_cast<size_t>(-exponent - 1), '0');
            out += digits;
        }
    } else {
        out += digits[0];
        if (digits.size() > 1) {
            out += '.';
            out += digits.substr(1);
        }
        out += 'E';
        out += std::to_string(exponent);
    }
    return out;
}

int ParseInteger(std::string_view text) {
    int value = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    bool plus = false;
    if (first != last && *first == '+') {  // from_chars takes '-' but not '+'
        ++first;
        plus = true;
    }
    const auto [ptr, ec] = std::from_chars(first, last, value);
    if (first == last || (plus && *first == '-') || ec != std::errc() || ptr != last)
        throw Error("'" + ShortPrintable(text) + "' is not a valid integer value");
    return value;
}

}  // namespace netdb
