#pragma once
// TZSiteForm, "Site list": picks a site to open, or deletes sites. The list
// runs in a transaction of its own so a deletion commits only itself.
#include <QAbstractTableModel>
#include <QDialog>
#include <QList>
#include <functional>
#include <memory>
#include <vector>

#include "core/site/sitelist.h"

class QPushButton;
class QTableView;
class TSiteForm;
namespace fb {
class Database;
class Transaction;
}

// The grid's rows; the current row is drawn bold.
class TSiteListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Name, Code, Host, ColumnCount };
    using QAbstractTableModel::QAbstractTableModel;

    void SetRows(std::vector<TSiteListRow> rows);
    void RemoveRow(int row);
    const TSiteListRow* Row(int row) const;
    void SetCurrentRow(int row);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<TSiteListRow> rows_;
    int current_ = -1;
};

class TZSiteForm : public QDialog {
    Q_OBJECT
public:
    enum class Mode { Choose, Delete };

    // retained: the program's long-lived transaction on db, committed before
    // the deleted readings are cleared (none: nothing to let go of).
    explicit TZSiteForm(fb::Database& db, QWidget* parent = nullptr, fb::Transaction* retained = nullptr);
    ~TZSiteForm() override;

    // Choose: OK and "Cancel"; Delete: "Delete station" and "Close".
    void SetMode(Mode mode);
    // The site chosen with OK (or a double click); 0 otherwise.
    int SelectedSiteId() const { return selectedSiteId_; }
    // The row under the cursor, -1 when the list is empty.
    int CurrentRow() const;
    // The program's open windows of a site. Deleting a site says that they
    // will stop and close, holds them while it deletes and closes them once
    // the site is gone; a deletion that does not happen leaves them as they were.
    using TSiteWindows = std::function<QList<TSiteForm*>(int siteId)>;
    void SetSiteWindows(TSiteWindows windows) { siteWindows_ = std::move(windows); }

    void RxDBGrid1DblClick();
    void FormClose(int result);
    void BitBtn2Click();

    QTableView* RxDBGrid1;
    TSiteListModel* Model;
    QPushButton* btnOK;
    QPushButton* BitBtn2;  // "Delete station"
    QPushButton* btnCancel;
    QPushButton* btnClose;

    void done(int result) override;

private:
    void OpenList();

    std::unique_ptr<fb::Transaction> tr_;
    fb::Transaction* retained_;
    TSiteWindows siteWindows_;
    int selectedSiteId_ = 0;
};
