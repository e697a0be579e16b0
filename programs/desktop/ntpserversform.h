#pragma once
// TNTPServersForm: the list of time servers (the data module's tbNTPServers) edited in
// a grid, with a reachability check. Changes stay in the data module's
// transaction until OK commits them or Cancel rolls them back.
#include <QAbstractTableModel>
#include <QDialog>
#include <memory>
#include <vector>

#include "core/station/dataset.h"
#include "gui/guiports.h"

class QPushButton;
class TData;
class QTableView;

// The grid's rows over the dataset, which can only read its current row:
// the other rows are kept here as they were last read. Like a data grid,
// leaving a row posts it, and a new row nobody typed into is dropped.
class TNTPServersModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Host, Timeout, Order, ColumnCount };

    explicit TNTPServersModel(TDataSet& ds, QObject* parent = nullptr);

    static const char* FieldName(int column);

    // Reads every row again (only the current one while it is being edited).
    void Reload();
    // Makes row the dataset's current row, posting the row being left.
    // Throws the refusal of that post.
    void MoveTo(int row);
    // Posts the row being edited or inserted; drops an untouched new row.
    void PostPending();
    void CancelPending();
    // Appends an empty row and makes it current; returns its number.
    int Append();
    void Remove(int row);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Errors (a refused post of the row being left, a field the dataset
    // rejects) are reported by errorRaised and give false.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

signals:
    void errorRaised(const QString& message);
    // The dataset's current row changed (the grid's current cell follows it).
    void currentMoved();

private:
    struct Row {
        fb::Value Host, Timeout, Order;
    };
    void ReadCurrent();
    void Reset();

    TDataSet& ds_;
    std::vector<Row> rows_;
    bool touched_ = false;  // the new row got a value
};

class TNTPServersForm : public QDialog {
    Q_OBJECT
public:
    explicit TNTPServersForm(TData& data, QWidget* parent = nullptr);
    ~TNTPServersForm() override;

    // The "NTP Servers" command: the dialog, modally; it frees itself.
    static void ShowNTPServers(TData& data, QWidget* parent);

    TNTPServersModel* Model() const { return model_; }
    QString PlacementFile() const { return placementFile_; }

    void btnAddClick();
    void btnDeleteClick();
    void btnCheckConnectionClick();
    void btnOKClick();

    QTableView* Grid;
    QPushButton* btnAdd;
    QPushButton* btnDelete;
    QPushButton* btnCheckConnection;
    QPushButton* btnOK;
    QPushButton* btnCancel;

public slots:
    // Cancel, Escape and the window's close button: asks "Cancel any changes?".
    void reject() override;
    void done(int result) override;

    bool Pinging() const { return pinging_; }

private:
    void GridRowChanged(const QModelIndex& current);
    void SyncGrid();
    void CloseEditor();
    void RestorePlacement();
    void SavePlacement();

    TData& data_;
    // The check's echo off the window's thread; joined when the dialog goes.
    std::unique_ptr<TWorkers> workers_;
    std::unique_ptr<TGuiJobs> jobs_;
    bool pinging_ = false;
    TNTPServersModel* model_;
    QString placementFile_;
    bool syncing_ = false;
};
