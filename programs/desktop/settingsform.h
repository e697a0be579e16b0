#pragma once
// TSettingsForm: the global settings row (Internet time, upload) edited
// through the button bar. The caller has just reopened the data module's tbSettings.
#include <QDialog>
#include <memory>

class QFrame;
class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class TButtonFrame;
class TData;
class TFieldBinder;

class TSettingsForm : public QDialog {
    Q_OBJECT
public:
    explicit TSettingsForm(TData& data, QWidget* parent = nullptr);
    ~TSettingsForm() override;

    // The "Settings..." command: reopens the settings row, shows the dialog
    // modally; the row stays open afterwards for the settings readers.
    static void ShowSettings(TData& data, QWidget* parent);

    QLabel* lblDBVersion;
    QLabel* txtDBVersion;
    QCheckBox* cbUseInternetTime;
    QCheckBox* cbSyncClock;
    QLabel* lblSyncFreq;
    QLineEdit* edSyncFreq;
    QCheckBox* cbUploadData;
    QGroupBox* rgUploadMode;
    QRadioButton* rbAutomatic;
    QRadioButton* rbManual;
    QButtonGroup* UploadModeGroup;
    TButtonFrame* ButtonFrame;

public slots:
    // Window close button and Escape discard like Cancel does.
    void reject() override;

private:
    QFrame* BuildTimePanel();
    QFrame* BuildUploadPanel();
    void cbUseInternetTimeToggled(bool checked);
    void cbUploadDataToggled(bool checked);

    TData& data_;
    std::unique_ptr<TFieldBinder> binder_;
};
