#pragma once
// TButtonFrame: the bar that drives editing of one dataset row ("Edit data",
// "Save changes", "Cancel update") with the OK and Cancel of the window that
// holds it. Refusals of the dataset are shown here; the window only hears
// okClicked / cancelClicked when the row is settled.
#include <QWidget>
#include <memory>

class QHBoxLayout;
class QPushButton;
class TDataSet;

class TButtonFrame : public QWidget {
    Q_OBJECT
public:
    explicit TButtonFrame(QWidget* parent = nullptr);

    // Binds the bar to ds (the dataset must outlive the bar's use of it).
    // The dataset's OnStateChange keeps calling any handler it had before.
    void SetDataSet(TDataSet* ds);
    TDataSet* DataSet() const { return ds_; }

    // "Edit data" while open and browsing; "Save changes" and "Cancel update"
    // while editing or inserting.
    void SetButtons();

    // Post, then commit keeping the transaction open. False when the row was
    // refused (the error has been shown, a TAbort silently); the row then
    // stays in edit mode.
    bool Save();
    // Discards the row's changes, then rolls the transaction back keeping it open.
    void CancelUpdate();

    void SetOkCancelVisible(bool visible);

    QPushButton* btnEdit;
    QPushButton* btnSave;
    QPushButton* btnCancelUpdate;
    QPushButton* btnOK;
    QPushButton* btnCancel;

signals:
    void okClicked();
    void cancelClicked();

protected:
    void resizeEvent(QResizeEvent* e) override;
    bool event(QEvent* e) override;

private:
    // OK and Cancel go to a second row when one row would cut the texts (a
    // tiled window, a long language), and back when there is room.
    void Arrange();
    void btnEditClick();
    void btnSaveClick();
    void btnCancelUpdateClick();
    void btnOKClick();
    void btnCancelClick();
    bool Editing() const;

    TDataSet* ds_ = nullptr;
    std::shared_ptr<int> alive_;  // for the handler chained into the dataset
    bool isOpen_ = false, isEdit_ = false, isInsert_ = false;
    QHBoxLayout* top_ = nullptr;
    QHBoxLayout* bottom_ = nullptr;
    bool twoRows_ = false;
};
