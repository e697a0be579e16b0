#include "core/station/dataset.h"

#include <algorithm>
#include <cmath>

TDataSet::TDataSet(fb::Transaction& tr, std::string selectSql, std::string table, std::string keyField)
    : tr_(&tr), select_(std::move(selectSql)), table_(std::move(table)), key_(std::move(keyField)) {}

void TDataSet::Require(bool ok, const char* what) const {
    if (!ok) throw fb::Error(std::string(what) + " (" + table_ + ")");
}

void TDataSet::Open() {
    if (Active()) return;
    tr_->EnsureActive();
    fb::Query q(*tr_);
    q.SetSQL(select_);
    for (const auto& [name, value] : params_) q.SetParam(name, value);
    q.Open();
    names_.clear();
    for (int i = 0; i < q.FieldCount(); ++i) names_.push_back(q.Fields(i).Name());
    rows_.clear();
    while (!q.Eof()) {
        std::vector<fb::Value> row;
        for (int i = 0; i < q.FieldCount(); ++i) row.push_back(q.Fields(i).AsValue());
        rows_.push_back(std::move(row));
        q.Next();
    }
    q.Close();
    cur_ = 0;
    SetState(State::Browse);
}

void TDataSet::SetState(State s) {
    if (state_ == s) return;
    state_ = s;
    if (OnStateChange) OnStateChange();
}

void TDataSet::Close() {
    rows_.clear();
    saved_.clear();
    cur_ = 0;
    SetState(State::Inactive);
}

void TDataSet::First() {
    Require(Active(), "Dataset closed");
    if (state_ != State::Browse) Post();
    cur_ = 0;
}

void TDataSet::Next() {
    Require(Active(), "Dataset closed");
    if (state_ != State::Browse) Post();
    if (cur_ < RecordCount()) ++cur_;
}

void TDataSet::MoveTo(int recNo) {
    Require(Active(), "Dataset closed");
    if (state_ != State::Browse) Post();
    cur_ = std::clamp(recNo, 0, RecordCount());
}

int TDataSet::Index(const std::string& name) const {
    for (size_t i = 0; i < names_.size(); ++i)
        if (names_[i] == name) return static_cast<int>(i);
    throw fb::Error("Field '" + name + "' not found in " + table_);
}

const fb::Value& TDataSet::FieldValue(const std::string& name) const {
    Require(Active(), "Dataset closed");
    Require(!Eof(), "No current record");
    return rows_[cur_][Index(name)];
}

bool TDataSet::IsNull(const std::string& name) const {
    return std::holds_alternative<std::monostate>(FieldValue(name));
}

int64_t TDataSet::AsInteger(const std::string& name) const {
    const fb::Value& v = FieldValue(name);
    if (auto* i = std::get_if<int64_t>(&v)) return *i;
    if (auto* d = std::get_if<double>(&v)) return std::llround(*d);
    if (std::holds_alternative<std::monostate>(v)) return 0;
    throw fb::Error("Field '" + name + "' is not a number");
}

double TDataSet::AsDouble(const std::string& name) const {
    const fb::Value& v = FieldValue(name);
    if (auto* d = std::get_if<double>(&v)) return *d;
    if (auto* i = std::get_if<int64_t>(&v)) return static_cast<double>(*i);
    if (auto* t = std::get_if<fb::DateTime>(&v)) return t->value;
    if (std::holds_alternative<std::monostate>(v)) return 0;
    throw fb::Error("Field '" + name + "' is not a number");
}

std::string TDataSet::AsString(const std::string& name) const {
    const fb::Value& v = FieldValue(name);
    if (auto* s = std::get_if<std::string>(&v)) return *s;
    if (auto* i = std::get_if<int64_t>(&v)) return std::to_string(*i);
    if (auto* d = std::get_if<double>(&v)) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.15g", *d);
        return buf;
    }
    return std::string();
}

void TDataSet::Edit() {
    Require(Active(), "Dataset closed");
    if (state_ != State::Browse) return;
    Require(!Eof(), "No current record");
    if (BeforeEdit) BeforeEdit();
    saved_ = rows_[cur_];
    SetState(State::Edit);
}

void TDataSet::Insert() {
    Require(Active(), "Dataset closed");
    if (state_ != State::Browse) Post();
    rows_.emplace_back(names_.size());
    cur_ = RecordCount() - 1;
    saved_.clear();
    SetState(State::Insert);
    if (OnNewRecord) {
        try {
            OnNewRecord();
        } catch (...) {
            Cancel();
            throw;
        }
    }
}

void TDataSet::SetField(const std::string& name, fb::Value v) {
    if (state_ == State::Browse) Edit();
    Require(state_ == State::Edit || state_ == State::Insert, "Dataset not in edit mode");
    rows_[cur_][Index(name)] = std::move(v);
    if (OnFieldChange) OnFieldChange(name);
}

void TDataSet::Post() {
    if (state_ != State::Edit && state_ != State::Insert) return;
    if (BeforePost) BeforePost();
    tr_->EnsureActive();
    fb::Query q(*tr_);
    const auto& row = rows_[cur_];
    std::string sql;
    if (state_ == State::Edit) {
        sql = "UPDATE " + table_ + " SET ";
        for (size_t i = 0; i < names_.size(); ++i) sql += (i ? ", " : "") + names_[i] + "=:" + names_[i];
        sql += " WHERE " + key_ + "=:OLD_" + key_;
        q.SetSQL(sql);
        q.SetParam("OLD_" + key_, saved_[Index(key_)]);
    } else {
        std::string cols, vals;
        for (size_t i = 0; i < names_.size(); ++i) {
            cols += (i ? ", " : "") + names_[i];
            vals += (i ? ", :" : ":") + names_[i];
        }
        q.SetSQL("INSERT INTO " + table_ + " (" + cols + ") VALUES (" + vals + ")");
    }
    for (size_t i = 0; i < names_.size(); ++i) q.SetParam(names_[i], row[i]);
    q.ExecSQL();
    saved_.clear();
    SetState(State::Browse);
    if (AfterPost) AfterPost();
}

void TDataSet::Cancel() {
    if (state_ == State::Edit) {
        rows_[cur_] = saved_;
    } else if (state_ == State::Insert) {
        rows_.erase(rows_.begin() + cur_);
        cur_ = std::min(cur_, std::max(RecordCount() - 1, 0));
    } else {
        return;
    }
    saved_.clear();
    SetState(State::Browse);
}

void TDataSet::Delete() {
    Require(Active(), "Dataset closed");
    if (state_ == State::Insert) {
        Cancel();
        return;
    }
    if (state_ == State::Edit) Cancel();
    Require(!Eof(), "No current record");
    fb::Query q(*tr_);
    q.SetSQL("DELETE FROM " + table_ + " WHERE " + key_ + "=:OLD_" + key_);
    q.SetParam("OLD_" + key_, rows_[cur_][Index(key_)]);
    q.ExecSQL();
    rows_.erase(rows_.begin() + cur_);
    if (cur_ > 0 && cur_ >= RecordCount()) cur_ = RecordCount() - 1;
}
