#pragma once
// An editable dataset over one table: the rows of a select held in memory,
// a current row, and edits posted back as statements that address the row
// by the former value of its key (so renaming a key is an update).
#include <exception>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/station/fbdb.h"

// A silent refusal: an event handler throws it to stop an edit or a post
// without any further message (the handler has said what it had to say).
class TAbort : public std::exception {
public:
    const char* what() const noexcept override { return "Operation aborted"; }
};

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
    // Replaces the select (its parameters are given with SetParam); takes
    // effect at the next Open.
    void SetSelect(std::string selectSql) { select_ = std::move(selectSql); }
    void SetParam(const std::string& name, fb::Value v) { params_[name] = std::move(v); }

    // Events, as the windows bound to the dataset need them. A handler that
    // throws stops the operation (TAbort silently); the row stays as it was.
    std::function<void()> BeforeEdit;   // before Browse -> Edit
    std::function<void()> OnNewRecord;  // after Insert made the empty row: defaults go here
    std::function<void()> BeforePost;   // before the row is written
    std::function<void()> AfterPost;    // after the row is written
    std::function<void()> OnStateChange;
    // A field changed by SetField (name of the field).
    std::function<void(const std::string&)> OnFieldChange;

private:
    int Index(const std::string& name) const;
    void SetState(State s);
    void Require(bool ok, const char* what) const;

    fb::Transaction* tr_;
    std::string select_, table_, key_;
    State state_ = State::Inactive;
    std::vector<std::string> names_;
    std::vector<std::vector<fb::Value>> rows_;
    std::vector<fb::Value> saved_;  // the row before Edit/Insert
    std::map<std::string, fb::Value> params_;
    int cur_ = 0;
};
