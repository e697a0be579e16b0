#pragma once
// TSetSiteCodeForm, "Set Site code": a site code and the credentials file
// issued for it; "Activate credentials" copies the file to crdfiles and
// closes with OK. The checks and the copy are site/core/sitecode.h.
#include <QDialog>
#include <functional>
#include <string>

#include "core/site/sitecode.h"

class QLineEdit;
class QPushButton;

class TSetSiteCodeForm : public QDialog {
    Q_OBJECT
public:
    explicit TSetSiteCodeForm(QWidget* parent = nullptr);

    // The site's current code, before the dialog is shown (trimmed: SIT_CODE is CHAR(8)).
    void SetSiteCode(const QString& code);
    // The code after OK, trimmed.
    QString SiteCode() const;

    // Supplies the chosen file instead of the file dialog; an empty name
    // cancels. Used only when set.
    using TFileChooser = std::function<QString()>;
    void SetFileChooser(TFileChooser chooser);

    void BitBtn1Click();  // "Open credentials file"
    void BitBtn2Click();  // "Activate credentials"

    QLineEdit* edCodice;
    QPushButton* BitBtn1;
    QLineEdit* edCrdFile;
    QPushButton* BitBtn2;
    QPushButton* btnCancel;

protected:
    void showEvent(QShowEvent* e) override;

private:
    // Shows the box of a refusal; false when there is none.
    bool Refused(const std::string& text, TBoxKind kind);
    QString ChooseFile();

    TFileChooser fileChooser_;
};
