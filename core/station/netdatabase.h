#pragma once
// Access to the network database (a MySQL/MariaDB server) through MariaDB
// Connector/C. Statements are plain text with their values written in, so
// every text value goes through Quote(), which uses the connection's own
// escaping (it knows the connection's character set and SQL mode).
// Each network operation opens its own Connection and lets it close.
#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct st_mysql;

namespace netdb {

// A failure of the client or the server, with the client library's message.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message, unsigned code = 0) : std::runtime_error(message), code_(code) {}
    // The client's or server's error number (0 when not from the library).
    unsigned Code() const { return code_; }

private:
    unsigned code_;
};

struct ConnectParams {
    std::string Host;
    int Port = 3306;
    std::string User;
    std::string Password;
    std::string Database;
    int ConnectTimeoutSeconds = 10;
    // Bound on waiting for the server once connected, so a server that
    // stops answering cannot hold the caller forever.
    int ReadWriteTimeoutSeconds = 30;
};

// The rows of one statement, all fetched. Values are text as the server
// sent them; SQL NULL is an empty optional.
class Result {
public:
    size_t RowCount() const { return rows_.size(); }
    size_t FieldCount() const { return names_.size(); }
    const std::vector<std::string>& FieldNames() const { return names_; }

    // Position of a column by name (case-insensitive, as in SQL); throws Error when absent.
    size_t FieldIndex(std::string_view name) const;

    // Throws Error when the row or the column does not exist.
    const std::optional<std::string>& Value(size_t row, size_t column) const;
    const std::optional<std::string>& Value(size_t row, std::string_view column) const;
    // As text; NULL reads as "".
    std::string Text(size_t row, size_t column) const { return Value(row, column).value_or(std::string()); }
    std::string Text(size_t row, std::string_view column) const { return Value(row, column).value_or(std::string()); }

    // The first field of the first row as text; "" when there is no row or it is NULL.
    std::string FirstText() const;

private:
    friend class Connection;
    std::vector<std::string> names_;
    std::vector<std::vector<std::optional<std::string>>> rows_;
};

class Connection {
public:
    Connection();
    ~Connection();  // closes
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Connects over TCP; false (and LastError()) when the server is
    // unreachable, does not answer within the timeout or refuses the login.
    // A connection that is already open is closed first. A connection that
    // never came has the client's words with its cause said, not numbered:
    // "Can't connect to server on '127.0.0.1' (Connection refused)".
    bool Connect(const ConnectParams& params);
    bool Connected() const { return mysql_ != nullptr; }
    void Close();

    // Runs one statement. True when the server executed it; then *result
    // holds its rows (none for statements without a result set). False
    // with LastError() otherwise. Throws Error when not connected.
    bool Execute(std::string_view sql, Result* result = nullptr);
    // Runs one statement that must succeed; throws Error with the server's message.
    Result Query(std::string_view sql);

    // The text escaped by the connection (quotes, backslashes, NUL, line
    // ends, ...). Throws Error when not connected.
    std::string Escape(std::string_view text) const;
    // Escape() between single quotes: a text value ready for a statement.
    std::string Quote(std::string_view text) const;

    const std::string& LastError() const { return lastError_; }
    unsigned LastErrorCode() const { return lastErrorCode_; }
    // Rows changed by the last statement (for tests and diagnostics).
    unsigned long long AffectedRows() const;

private:
    void RecordError();
    st_mysql* mysql_ = nullptr;
    std::string lastError_;
    unsigned lastErrorCode_ = 0;
};

// A floating-point value as statements carry it, whatever the locale:
// shortest general form with up to 15 significant digits and "." as
// decimal point; fixed notation from 0.00001 up to 15 digits before the
// point, otherwise mantissa, "E" and exponent ("1.5E-6", "2E15"); zero is
// "0". Infinities and NaN have no SQL form: they throw Error.
std::string FormatFloat(double value);

// Strict whole-number reading of a value sent by the server: optional
// sign and decimal digits only, within 32 bits. Throws Error with a
// message that names the text otherwise ("'' is not a valid integer value").
int ParseInteger(std::string_view text);

}  // namespace netdb
