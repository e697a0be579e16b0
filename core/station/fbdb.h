#pragma once
// A small RAII layer over the Firebird C API, used with SQL dialect 1 in
// embedded mode. We need exact transaction parameters and retaining
// commit/rollback, which is why this is ours and not a generic wrapper.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include <ibase.h>

namespace fb {

// Every failure of the engine, with its own message text.
class Error : public std::runtime_error {
public:
    Error(const std::string& message, long gdsCode = 0, long sqlCode = 0)
        : std::runtime_error(message), gdsCode_(gdsCode), sqlCode_(sqlCode) {}
    long GdsCode() const { return gdsCode_; }
    long SqlCode() const { return sqlCode_; }
    // A write met a row locked by another transaction ("nowait" makes it fail at once).
    bool IsLockConflict() const;

private:
    long gdsCode_;
    long sqlCode_;
};

// A value as it travels to and from the database. Dates are date-times
// (days since 1899-12-30); DateTime keeps them apart from plain doubles.
struct DateTime {
    double value = 0;
};
using Value = std::variant<std::monostate, int64_t, double, std::string, DateTime>;

class Transaction;

class Database {
public:
    Database() = default;
    explicit Database(std::string file) : file_(std::move(file)) {}
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    void SetFile(std::string file) { file_ = std::move(file); }
    const std::string& File() const { return file_; }

    // Attaches as SYSDBA with dialect 1. Throws fb::Error.
    void Open();
    // Ends every transaction still open by its default action (rollback), then detaches.
    void Close();
    bool Connected() const { return handle_ != 0; }
    isc_db_handle* Handle() { return &handle_; }

    // Runs one statement in its own short transaction and commits.
    void ExecuteImmediate(const std::string& sql);

private:
    friend class Transaction;
    std::string file_;
    isc_db_handle handle_ = 0;
    std::set<Transaction*> transactions_;
};

enum class Isolation {
    ReadCommitted,  // "read_committed", "rec_version", "nowait"
    Concurrency,    // "concurrency", "nowait"
};

class Transaction {
public:
    explicit Transaction(Database& db, Isolation iso = Isolation::ReadCommitted);
    ~Transaction();  // rolls back what is still open
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void Start();
    bool Active() const { return handle_ != 0; }
    void Commit();
    void Rollback();
    // Keep the transaction open after making its work permanent / undoing it.
    void CommitRetaining();
    void RollbackRetaining();
    // Starts the transaction when it is not active.
    void EnsureActive();

    Database& Db() { return *db_; }
    isc_tr_handle* Handle() { return &handle_; }
    Isolation Iso() const { return iso_; }

private:
    friend class Database;
    void Detach() { db_ = nullptr; }
    Database* db_;
    Isolation iso_;
    isc_tr_handle handle_ = 0;
};

class Query;

// A read-only view of one column of the current row.
class Field {
public:
    Field(const Query* q, int index) : q_(q), index_(index) {}
    const std::string& Name() const;
    bool IsNull() const;
    const Value& AsValue() const;
    // Conversions fail with an error naming the column when the value does not fit.
    int64_t AsInteger() const;
    double AsDouble() const;
    std::string AsString() const;   // CHAR keeps its blank padding
    double AsDateTime() const;

private:
    const Query* q_;
    int index_;
};

// One statement with named parameters (":NAME") and, for selects, a cursor.
class Query {
public:
    explicit Query(Transaction& tr);
    ~Query();
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    void SetSQL(const std::string& sql);
    const std::string& SQL() const { return sql_; }

    // Parameters by name; the same name may appear several times.
    void SetParam(const std::string& name, Value v);
    void SetNull(const std::string& name) { SetParam(name, std::monostate{}); }
    void SetInteger(const std::string& name, int64_t v) { SetParam(name, v); }
    void SetDouble(const std::string& name, double v) { SetParam(name, v); }
    void SetString(const std::string& name, std::string v) { SetParam(name, std::move(v)); }
    void SetDateTime(const std::string& name, double v) { SetParam(name, DateTime{v}); }
    std::vector<std::string> ParamNames() const { return paramNames_; }

    // Executes a statement that returns no rows. Starts the transaction when needed.
    void ExecSQL();
    // Executes a select and positions on its first row.
    void Open();
    bool IsOpen() const { return open_; }
    bool Eof() const { return eof_; }
    void Next();
    void Close();
    // Rows changed by the last ExecSQL (insert, update, delete).
    int RowsAffected() const { return rowsAffected_; }
    // The engine's plan for the statement ("PLAN (READINGS INDEX (...))"),
    // prepared without running it: what an index is there for is checked.
    std::string Plan();

    int FieldCount() const { return static_cast<int>(columns_.size()); }
    Field Fields(int i) const;
    Field FieldByName(const std::string& name) const;
    std::optional<int> FieldIndex(const std::string& name) const;

private:
    friend class Field;
    struct Column {
        std::string name;
        short type = 0;
        short scale = 0;
        short subtype = 0;
        short length = 0;
    };
    void Prepare();
    void Unprepare();
    void BindParams();
    void Fetch();
    void ReadRow();
    int StatementType();

    Transaction* tr_;
    std::string sql_;
    std::string parsedSql_;
    std::vector<std::string> paramNames_;  // one per '?' in order
    std::map<std::string, Value> params_;
    isc_stmt_handle stmt_ = 0;
    int stmtType_ = 0;
    std::vector<char> inBuf_, outBuf_;
    std::unique_ptr<XSQLDA, void (*)(XSQLDA*)> inDa_{nullptr, [](XSQLDA* p) { std::free(p); }};
    std::unique_ptr<XSQLDA, void (*)(XSQLDA*)> outDa_{nullptr, [](XSQLDA* p) { std::free(p); }};
    std::vector<short> inNull_, outNull_;
    std::vector<Column> columns_;
    std::vector<Value> row_;
    bool open_ = false;
    bool eof_ = true;
    int rowsAffected_ = 0;
};

// Throws fb::Error built from a status vector when it reports a failure.
void Check(const ISC_STATUS* status);

// Splits SQL text with ":NAME" parameters into "?" text and the names in order.
// Quoted texts and quoted identifiers are left alone.
std::string ParseParams(const std::string& sql, std::vector<std::string>& names);

}  // namespace fb
