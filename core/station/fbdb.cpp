#include "core/station/fbdb.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/station/lastresort.h"

namespace fb {

namespace {

constexpr const char* kUser = "SYSDBA";
constexpr const char* kPassword = "nightsky9";
constexpr unsigned short kDialect = 1;
constexpr int kCharsetUtf8 = 4;
constexpr int kCharsetUnicodeFss = 3;
// 1858-11-17 (the engine's day 0) is day -15018 on the date-time scale.
constexpr int kEngineDayOffset = 15018;
constexpr double kTicksPerDay = 864000000.0;  // 1/10000 s

XSQLDA* AllocDa(int n) {
    auto* da = static_cast<XSQLDA*>(std::calloc(1, XSQLDA_LENGTH(std::max(n, 1))));
    da->version = SQLDA_VERSION1;
    da->sqln = static_cast<short>(std::max(n, 1));
    return da;
}

std::string ToUpper(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

int BytesPerChar(short subtype) {
    switch (subtype & 0xFF) {
        case kCharsetUtf8: return 4;
        case kCharsetUnicodeFss: return 3;
        default: return 1;
    }
}

size_t Utf8Length(const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

ISC_TIMESTAMP ToTimestamp(double dt) {
    if (!std::isfinite(dt)) throw Error("Invalid date-time value");
    long long ticks = std::llround(dt * kTicksPerDay);
    long long day = ticks / 864000000LL;
    long long rest = ticks % 864000000LL;
    if (rest < 0) {
        rest += 864000000LL;
        day -= 1;
    }
    ISC_TIMESTAMP ts;
    ts.timestamp_date = static_cast<ISC_DATE>(day + kEngineDayOffset);
    ts.timestamp_time = static_cast<ISC_TIME>(rest);
    return ts;
}

double FromTimestamp(const ISC_TIMESTAMP& ts) {
    return static_cast<double>(ts.timestamp_date - kEngineDayOffset) + ts.timestamp_time / kTicksPerDay;
}

}  // namespace

bool Error::IsLockConflict() const {
    return gdsCode_ == isc_lock_conflict || gdsCode_ == isc_deadlock || gdsCode_ == isc_update_conflict;
}

void Check(const ISC_STATUS* status) {
    if (!(status[0] == 1 && status[1] > 0)) return;
    const long code = static_cast<long>(status[1]);
    const long sqlCode = isc_sqlcode(status);
    std::string message;
    const ISC_STATUS* p = status;
    char buf[1024];
    while (fb_interpret(buf, sizeof buf, &p) > 0) {
        if (!message.empty()) message += "\n";
        message += buf;
    }
    if (message.empty()) message = "Database error " + std::to_string(code);
    throw Error(message, code, sqlCode);
}

std::string ParseParams(const std::string& sql, std::vector<std::string>& names) {
    names.clear();
    std::string out;
    out.reserve(sql.size());
    size_t i = 0;
    const size_t n = sql.size();
    while (i < n) {
        const char c = sql[i];
        if (c == '\'' || c == '"') {
            const size_t end = sql.find(c, i + 1);
            const size_t stop = end == std::string::npos ? n : end + 1;
            out.append(sql, i, stop - i);
            i = stop;
        } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
            const size_t end = sql.find('\n', i);
            const size_t stop = end == std::string::npos ? n : end;
            out.append(sql, i, stop - i);
            i = stop;
        } else if (c == ':' && i + 1 < n && (std::isalpha(static_cast<unsigned char>(sql[i + 1])) || sql[i + 1] == '_')) {
            size_t j = i + 1;
            while (j < n && (std::isalnum(static_cast<unsigned char>(sql[j])) || sql[j] == '_' || sql[j] == '$')) ++j;
            names.push_back(ToUpper(sql.substr(i + 1, j - i - 1)));
            out += '?';
            i = j;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

// ---------------------------------------------------------------- Database

Database::~Database() {
    try {
        Close();
    } catch (...) {
        LastResortLine("closing " + file_);  // a destructor has no caller to tell
    }
    for (auto* t : transactions_) t->Detach();
}

void Database::Open() {
    if (Connected()) return;
    if (file_.empty()) throw Error("No database file given");
    std::vector<char> dpb;
    dpb.push_back(isc_dpb_version1);
    auto add = [&](char tag, const std::string& v) {
        dpb.push_back(tag);
        dpb.push_back(static_cast<char>(v.size()));
        dpb.insert(dpb.end(), v.begin(), v.end());
    };
    add(isc_dpb_user_name, kUser);
    add(isc_dpb_password, kPassword);
    add(isc_dpb_lc_ctype, "UTF8");
    dpb.push_back(isc_dpb_sql_dialect);
    dpb.push_back(1);
    dpb.push_back(static_cast<char>(kDialect));
    ISC_STATUS_ARRAY status;
    isc_db_handle h = 0;
    isc_attach_database(status, 0, file_.c_str(), &h, static_cast<short>(dpb.size()), dpb.data());
    Check(status);
    handle_ = h;
}

void Database::Close() {
    if (!Connected()) return;
    for (auto* t : transactions_) {
        if (t->Active()) {
            try {
                t->Rollback();
            } catch (...) {
                // The detach goes on: the engine drops the transaction with the attachment.
                LastResortLine("rolling back on close");
                t->handle_ = 0;
            }
        }
    }
    ISC_STATUS_ARRAY status;
    isc_detach_database(status, &handle_);
    handle_ = 0;
    Check(status);
}

void Database::ExecuteImmediate(const std::string& sql) {
    Transaction tr(*this);
    tr.Start();
    ISC_STATUS_ARRAY status;
    isc_dsql_execute_immediate(status, &handle_, tr.Handle(), 0, sql.c_str(), kDialect, nullptr);
    Check(status);
    tr.Commit();
}

// ------------------------------------------------------------- Transaction

Transaction::Transaction(Database& db, Isolation iso) : db_(&db), iso_(iso) { db_->transactions_.insert(this); }

Transaction::~Transaction() {
    if (Active()) {
        ISC_STATUS_ARRAY status;
        isc_rollback_transaction(status, &handle_);
    }
    if (db_) db_->transactions_.erase(this);
}

void Transaction::Start() {
    if (!db_) throw Error("The database of this transaction is gone");
    if (Active()) throw Error("Transaction is already active");
    if (!db_->Connected()) throw Error("Database not connected");
    std::vector<char> tpb{isc_tpb_version3, isc_tpb_write};
    if (iso_ == Isolation::ReadCommitted) {
        tpb.insert(tpb.end(), {isc_tpb_read_committed, isc_tpb_rec_version, isc_tpb_nowait});
    } else {
        tpb.insert(tpb.end(), {isc_tpb_concurrency, isc_tpb_nowait});
    }
    ISC_STATUS_ARRAY status;
    isc_start_transaction(status, &handle_, 1, db_->Handle(), static_cast<unsigned short>(tpb.size()), tpb.data());
    Check(status);
}

void Transaction::EnsureActive() {
    if (!Active()) Start();
}

void Transaction::Commit() {
    if (!Active()) throw Error("Transaction is not active");
    ISC_STATUS_ARRAY status;
    isc_commit_transaction(status, &handle_);
    Check(status);
}

void Transaction::Rollback() {
    if (!Active()) throw Error("Transaction is not active");
    ISC_STATUS_ARRAY status;
    isc_rollback_transaction(status, &handle_);
    // A failed rollback still leaves nothing usable behind.
    if (status[0] == 1 && status[1] > 0) handle_ = 0;
    Check(status);
}

void Transaction::CommitRetaining() {
    if (!Active()) throw Error("Transaction is not active");
    ISC_STATUS_ARRAY status;
    isc_commit_retaining(status, &handle_);
    Check(status);
}

void Transaction::RollbackRetaining() {
    if (!Active()) throw Error("Transaction is not active");
    ISC_STATUS_ARRAY status;
    isc_rollback_retaining(status, &handle_);
    Check(status);
}

// ------------------------------------------------------------------- Query

Query::Query(Transaction& tr) : tr_(&tr) {}

Query::~Query() {
    try {
        Unprepare();
    } catch (...) {
        LastResortLine("freeing a statement");  // a destructor has no caller to tell
    }
}

void Query::SetSQL(const std::string& sql) {
    Unprepare();
    sql_ = sql;
    parsedSql_ = ParseParams(sql, paramNames_);
    params_.clear();
}

void Query::SetParam(const std::string& name, Value v) {
    const std::string key = ToUpper(name);
    if (std::find(paramNames_.begin(), paramNames_.end(), key) == paramNames_.end())
        throw Error("Parameter \"" + name + "\" not found");
    params_[key] = std::move(v);
}

void Query::Unprepare() {
    if (open_) Close();
    if (stmt_) {
        ISC_STATUS_ARRAY status;
        isc_dsql_free_statement(status, &stmt_, DSQL_drop);
        stmt_ = 0;
    }
    columns_.clear();
    row_.clear();
}

void Query::Prepare() {
    if (stmt_) return;
    tr_->EnsureActive();
    ISC_STATUS_ARRAY status;
    isc_stmt_handle h = 0;
    isc_dsql_allocate_statement(status, tr_->Db().Handle(), &h);
    Check(status);
    stmt_ = h;
    outDa_.reset(AllocDa(1));
    isc_dsql_prepare(status, tr_->Handle(), &stmt_, 0, parsedSql_.c_str(), kDialect, outDa_.get());
    if (status[0] == 1 && status[1] > 0) {
        ISC_STATUS_ARRAY s2;
        isc_dsql_free_statement(s2, &stmt_, DSQL_drop);
        stmt_ = 0;
        Check(status);
    }
    if (outDa_->sqld > outDa_->sqln) {
        outDa_.reset(AllocDa(outDa_->sqld));
        isc_dsql_describe(status, &stmt_, 1, outDa_.get());
        Check(status);
    }
    // Output buffers, 8-byte aligned per column.
    const int nOut = outDa_->sqld;
    columns_.assign(nOut, {});
    size_t size = 0;
    std::vector<size_t> offsets(nOut);
    for (int i = 0; i < nOut; ++i) {
        XSQLVAR& v = outDa_->sqlvar[i];
        columns_[i].name = std::string(v.aliasname, v.aliasname_length);
        if (columns_[i].name.empty()) columns_[i].name = std::string(v.sqlname, v.sqlname_length);
        columns_[i].type = static_cast<short>(v.sqltype & ~1);
        columns_[i].scale = v.sqlscale;
        columns_[i].subtype = v.sqlsubtype;
        columns_[i].length = v.sqllen;
        offsets[i] = size;
        size += (static_cast<size_t>(v.sqllen) + 2 + 7) & ~size_t{7};
    }
    outBuf_.assign(size + 8, 0);
    outNull_.assign(nOut, 0);
    for (int i = 0; i < nOut; ++i) {
        outDa_->sqlvar[i].sqldata = outBuf_.data() + offsets[i];
        outDa_->sqlvar[i].sqlind = &outNull_[i];
        outDa_->sqlvar[i].sqltype |= 1;
    }
    // Input description.
    const int nIn = static_cast<int>(paramNames_.size());
    inDa_.reset(AllocDa(nIn));
    isc_dsql_describe_bind(status, &stmt_, 1, inDa_.get());
    Check(status);
    if (inDa_->sqld > inDa_->sqln) {
        inDa_.reset(AllocDa(inDa_->sqld));
        isc_dsql_describe_bind(status, &stmt_, 1, inDa_.get());
        Check(status);
    }
    if (inDa_->sqld != nIn) throw Error("Parameter count mismatch in statement: " + sql_);
    stmtType_ = StatementType();
}

void Query::BindParams() {
    const int n = inDa_->sqld;
    inNull_.assign(n, 0);
    // Sizes first so that pointers into the buffer stay valid.
    std::vector<std::string> texts(n);
    size_t size = 0;
    for (int i = 0; i < n; ++i) {
        auto it = params_.find(paramNames_[i]);
        const Value& v = it == params_.end() ? Value{} : it->second;
        if (auto* s = std::get_if<std::string>(&v)) texts[i] = *s;
        size += (std::max<size_t>(texts[i].size(), 8) + 7) & ~size_t{7};
    }
    inBuf_.assign(size + 8, 0);
    char* p = inBuf_.data();
    for (int i = 0; i < n; ++i) {
        XSQLVAR& var = inDa_->sqlvar[i];
        auto it = params_.find(paramNames_[i]);
        const Value& v = it == params_.end() ? Value{} : it->second;
        var.sqldata = p;
        var.sqlind = &inNull_[i];
        const short described = static_cast<short>(var.sqltype & ~1);
        if (std::holds_alternative<std::monostate>(v)) {
            var.sqltype = static_cast<short>(described | 1);
            inNull_[i] = -1;
        } else if (auto* iv = std::get_if<int64_t>(&v)) {
            if (*iv >= INT32_MIN && *iv <= INT32_MAX) {
                var.sqltype = SQL_LONG | 1;
                var.sqllen = 4;
                const ISC_LONG x = static_cast<ISC_LONG>(*iv);
                std::memcpy(p, &x, 4);
            } else {
                var.sqltype = SQL_INT64 | 1;
                var.sqllen = 8;
                const ISC_INT64 x = *iv;
                std::memcpy(p, &x, 8);
            }
            var.sqlscale = 0;
        } else if (auto* dv = std::get_if<double>(&v)) {
            var.sqltype = SQL_DOUBLE | 1;
            var.sqllen = 8;
            var.sqlscale = 0;
            std::memcpy(p, dv, 8);
        } else if (auto* tv = std::get_if<DateTime>(&v)) {
            var.sqltype = SQL_TIMESTAMP | 1;
            var.sqllen = sizeof(ISC_TIMESTAMP);
            var.sqlscale = 0;
            const ISC_TIMESTAMP ts = ToTimestamp(tv->value);
            std::memcpy(p, &ts, sizeof ts);
        } else {
            const std::string& s = texts[i];
            if (s.size() > 32765) throw Error("Text parameter too long: " + paramNames_[i]);
            if (described != SQL_TEXT && described != SQL_VARYING) var.sqlsubtype = kCharsetUtf8;
            var.sqltype = SQL_TEXT | 1;
            var.sqllen = static_cast<short>(s.size());
            var.sqlscale = 0;
            std::memcpy(p, s.data(), s.size());
        }
        p += (std::max<size_t>(texts[i].size(), 8) + 7) & ~size_t{7};
    }
}

int Query::StatementType() {
    const char items[] = {isc_info_sql_stmt_type};
    char buf[16] = {};
    ISC_STATUS_ARRAY status;
    isc_dsql_sql_info(status, &stmt_, sizeof items, items, sizeof buf, buf);
    Check(status);
    if (buf[0] != isc_info_sql_stmt_type) return 0;
    const short len = static_cast<short>(isc_vax_integer(buf + 1, 2));
    return static_cast<int>(isc_vax_integer(buf + 3, len));
}

std::string Query::Plan() {
    Prepare();
    const char items[] = {isc_info_sql_get_plan};
    std::vector<char> buf(4096);
    ISC_STATUS_ARRAY status;
    isc_dsql_sql_info(status, &stmt_, sizeof items, items, static_cast<short>(buf.size()), buf.data());
    Check(status);
    if (buf[0] != isc_info_sql_get_plan) return {};
    const auto len = static_cast<size_t>(isc_vax_integer(buf.data() + 1, 2));
    std::string plan(buf.data() + 3, std::min(len, buf.size() - 3));
    const size_t first = plan.find_first_not_of(" \n");
    return first == std::string::npos ? std::string() : plan.substr(first);
}

void Query::ExecSQL() {
    if (open_) Close();
    Prepare();
    BindParams();
    tr_->EnsureActive();
    ISC_STATUS_ARRAY status;
    const bool singleton = stmtType_ == isc_info_sql_stmt_exec_procedure && outDa_->sqld > 0;
    isc_dsql_execute2(status, tr_->Handle(), &stmt_, kDialect, inDa_.get(), singleton ? outDa_.get() : nullptr);
    Check(status);
    rowsAffected_ = 0;
    const char items[] = {isc_info_sql_records};
    char buf[64] = {};
    isc_dsql_sql_info(status, &stmt_, sizeof items, items, sizeof buf, buf);
    if (!(status[0] == 1 && status[1] > 0) && buf[0] == isc_info_sql_records) {
        const char* q = buf + 3;
        while (*q != isc_info_end && q < buf + sizeof buf - 3) {
            const char item = *q++;
            const short len = static_cast<short>(isc_vax_integer(q, 2));
            q += 2;
            const long count = isc_vax_integer(q, len);
            q += len;
            if (item == isc_info_req_insert_count || item == isc_info_req_update_count ||
                item == isc_info_req_delete_count)
                rowsAffected_ += static_cast<int>(count);
        }
    }
}

void Query::Open() {
    if (open_) Close();
    Prepare();
    if (outDa_->sqld == 0) throw Error("The statement returns no rows: " + sql_);
    BindParams();
    tr_->EnsureActive();
    ISC_STATUS_ARRAY status;
    isc_dsql_execute(status, tr_->Handle(), &stmt_, kDialect, inDa_.get());
    Check(status);
    open_ = true;
    eof_ = false;
    Fetch();
}

void Query::Fetch() {
    ISC_STATUS_ARRAY status;
    const ISC_STATUS rc = isc_dsql_fetch(status, &stmt_, kDialect, outDa_.get());
    if (rc == 100) {
        eof_ = true;
        row_.assign(columns_.size(), Value{});
        return;
    }
    Check(status);
    ReadRow();
}

void Query::Next() {
    if (!open_ || eof_) return;
    Fetch();
}

void Query::Close() {
    if (!open_) return;
    open_ = false;
    eof_ = true;
    ISC_STATUS_ARRAY status;
    isc_dsql_free_statement(status, &stmt_, DSQL_close);
    // A cursor already closed by a commit is not an error worth raising.
}

void Query::ReadRow() {
    row_.assign(columns_.size(), Value{});
    for (size_t i = 0; i < columns_.size(); ++i) {
        if (outNull_[i] < 0) continue;
        const XSQLVAR& v = outDa_->sqlvar[i];
        const Column& c = columns_[i];
        const char* d = v.sqldata;
        auto scaled = [&](int64_t raw) -> Value {
            if (c.scale == 0) return raw;
            return static_cast<double>(raw) / std::pow(10.0, -c.scale);
        };
        switch (c.type) {
            case SQL_SHORT: { short x; std::memcpy(&x, d, 2); row_[i] = scaled(x); break; }
            case SQL_LONG: { ISC_LONG x; std::memcpy(&x, d, 4); row_[i] = scaled(x); break; }
            case SQL_INT64: { ISC_INT64 x; std::memcpy(&x, d, 8); row_[i] = scaled(x); break; }
            case SQL_FLOAT: { float x; std::memcpy(&x, d, 4); row_[i] = static_cast<double>(x); break; }
            case SQL_DOUBLE:
            case SQL_D_FLOAT: { double x; std::memcpy(&x, d, 8); row_[i] = x; break; }
            case SQL_TIMESTAMP: { ISC_TIMESTAMP ts; std::memcpy(&ts, d, sizeof ts); row_[i] = DateTime{FromTimestamp(ts)}; break; }
            case SQL_TYPE_DATE: { ISC_DATE x; std::memcpy(&x, d, 4); row_[i] = DateTime{static_cast<double>(x - kEngineDayOffset)}; break; }
            case SQL_TYPE_TIME: { ISC_TIME x; std::memcpy(&x, d, 4); row_[i] = DateTime{x / kTicksPerDay}; break; }
            case SQL_TEXT: {
                std::string s(d, static_cast<size_t>(c.length));
                const int bpc = BytesPerChar(c.subtype);
                if (bpc > 1) {
                    // Multi-byte CHAR(n) arrives as n*bpc bytes; keep n characters of padding.
                    const size_t chars = static_cast<size_t>(c.length) / bpc;
                    while (!s.empty() && s.back() == ' ') s.pop_back();
                    const size_t len = Utf8Length(s);
                    if (len < chars) s.append(chars - len, ' ');
                }
                row_[i] = std::move(s);
                break;
            }
            case SQL_VARYING: {
                unsigned short len;
                std::memcpy(&len, d, 2);
                row_[i] = std::string(d + 2, len);
                break;
            }
            default:
                throw Error("Unsupported column type in " + c.name);
        }
    }
}

Field Query::Fields(int i) const {
    if (i < 0 || i >= FieldCount()) throw Error("Field index out of range: " + std::to_string(i));
    return Field(this, i);
}

std::optional<int> Query::FieldIndex(const std::string& name) const {
    const std::string key = ToUpper(name);
    for (size_t i = 0; i < columns_.size(); ++i)
        if (ToUpper(columns_[i].name) == key) return static_cast<int>(i);
    return std::nullopt;
}

Field Query::FieldByName(const std::string& name) const {
    auto idx = FieldIndex(name);
    if (!idx) throw Error("Field '" + name + "' not found");
    return Field(this, *idx);
}

// ------------------------------------------------------------------- Field

const std::string& Field::Name() const { return q_->columns_[index_].name; }

const Value& Field::AsValue() const {
    // Before the first fetch there is no row: every column reads as null.
    static const Value none;
    return static_cast<size_t>(index_) < q_->row_.size() ? q_->row_[index_] : none;
}

bool Field::IsNull() const { return std::holds_alternative<std::monostate>(AsValue()); }

int64_t Field::AsInteger() const {
    const Value& v = AsValue();
    if (auto* i = std::get_if<int64_t>(&v)) return *i;
    if (auto* d = std::get_if<double>(&v)) return std::llround(*d);
    if (auto* s = std::get_if<std::string>(&v)) {
        char* end = nullptr;
        const std::string t = s->c_str();
        const long long x = std::strtoll(t.c_str(), &end, 10);
        if (end != t.c_str() && *end == '\0') return x;
        throw Error("'" + *s + "' is not a valid integer value (" + Name() + ")");
    }
    if (std::holds_alternative<std::monostate>(v)) throw Error("Field " + Name() + " is null: no integer value");
    throw Error("Field " + Name() + " is not an integer");
}

double Field::AsDouble() const {
    const Value& v = AsValue();
    if (auto* d = std::get_if<double>(&v)) return *d;
    if (auto* i = std::get_if<int64_t>(&v)) return static_cast<double>(*i);
    if (auto* t = std::get_if<DateTime>(&v)) return t->value;
    if (std::holds_alternative<std::monostate>(v)) throw Error("Field " + Name() + " is null: no floating-point value");
    throw Error("Field " + Name() + " is not a number");
}

std::string Field::AsString() const {
    const Value& v = AsValue();
    if (auto* s = std::get_if<std::string>(&v)) return *s;
    if (auto* i = std::get_if<int64_t>(&v)) return std::to_string(*i);
    if (auto* d = std::get_if<double>(&v)) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.15g", *d);
        return buf;
    }
    if (auto* t = std::get_if<DateTime>(&v)) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.10f", t->value);
        return buf;
    }
    return std::string();
}

double Field::AsDateTime() const {
    const Value& v = AsValue();
    if (auto* t = std::get_if<DateTime>(&v)) return t->value;
    if (auto* d = std::get_if<double>(&v)) return *d;
    if (std::holds_alternative<std::monostate>(v)) throw Error("Field " + Name() + " is null: no date-time value");
    throw Error("Field " + Name() + " is not a date-time");
}

}  // namespace fb
