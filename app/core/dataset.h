#pragma once
// An editable dataset over one table: the rows of a select held in memory,
// a current row, and edits posted back as statements that address the row
// by the former value of its key (so renaming a key is an update).
#include <map>
#include <string>
#include <vector>

#include "fbdb.h"

class TDataSet {
public:
    enum class State { Inactive, Browse, Edit, Insert };

    TDataSet(fb::Transaction& tr, std::string selectSql, std::string table, std::string keyField);

    void Open();   // runs the select and goes to the first row
    void Close();  // discards rows and any pending edit
    void Refresh() { Close(); Open(); }
    bool Active() const { return state_ != State::Inactive; }
    State GetState() const { return state_; }

    int RecordCount() const { return static_cast<int>(rows_.size()); }
    int RecNo() const { return cur_; }
    bool Eof() const { return cur_ >= RecordCount(); }
    void First();
    void Next();
    void MoveTo(int recNo);
    const std::vector<std::string>& FieldNames() const { return names_; }

    // The current row as edited so far.
    const fb::Value& FieldValue(const std::string& name) const;
    bool IsNull(const std::string& name) const;
    int64_t AsInteger(const std::string& name) const;
    double AsDouble(const std::string& name) const;
    std::string AsString(const std::string& name) const;

    void Edit();
    void Insert();  // appends an empty row and makes it current
    // Changing a field puts the row into edit mode by itself.
    void SetField(const std::string& name, fb::Value v);
    void Post();    // writes the row in the dataset's transaction
    void Cancel();  // discards the row's changes
    void Delete();  // deletes the current row at once

    fb::Transaction& Tr() { return *tr_; }

private:
    int Index(const std::string& name) const;
    void Require(bool ok, const char* what) const;

    fb::Transaction* tr_;
    std::string select_, table_, key_;
    State state_ = State::Inactive;
    std::vector<std::string> names_;
    std::vector<std::vector<fb::Value>> rows_;
    std::vector<fb::Value> saved_;  // the row before Edit/Insert
    int cur_ = 0;
};
