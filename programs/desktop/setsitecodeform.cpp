#include "programs/desktop/setsitecodeform.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QValidator>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/dialogs.h"
#include "core/station/i18n.h"
#include "core/station/myutils.h"

namespace {
QString T(const char* s) { return QString::fromStdString(Tr(s)); }

// Upper-cases typed letters and refuses any other typed character. Only
// what an edit inserts is judged, so a stored code holding digits can
// still be shortened or extended.
class TSiteCodeValidator : public QValidator {
public:
    explicit TSiteCodeValidator(QLineEdit* edit) : QValidator(edit) {
        connect(edit, &QLineEdit::textChanged, this, [this](const QString& t) { last_ = t; });
    }
    State validate(QString& input, int&) const override {
        const qsizetype common = std::min(input.size(), last_.size());
        qsizetype head = 0;
        while (head < common && input[head] == last_[head]) ++head;
        qsizetype tail = 0;
        while (tail < common - head && input[input.size() - 1 - tail] == last_[last_.size() - 1 - tail]) ++tail;
        for (qsizetype i = head; i < input.size() - tail; ++i) {
            const char16_t c = input[i].unicode();
            if (c >= u'a' && c <= u'z')
                input[i] = QChar(c - u'a' + u'A');
            else if (c < u'A' || c > u'Z')
                return Invalid;
        }
        return Acceptable;
    }

private:
    QString last_;
};
}  // namespace

TSetSiteCodeForm::TSetSiteCodeForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("SetSiteCodeForm"));
    setWindowTitle(T("Set Site code"));

    auto* Label1 = new QLabel(T("Site code"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    edCodice = new QLineEdit(this);
    edCodice->setObjectName(QStringLiteral("edCodice"));
    edCodice->setMaxLength(10);  // what a credentials record holds; the 8 of SIT_CODE is a refusal with a box
    edCodice->setValidator(new TSiteCodeValidator(edCodice));
    edCodice->setMinimumWidth(edCodice->fontMetrics().horizontalAdvance(QString(12, QLatin1Char('W'))));
    Label1->setBuddy(edCodice);

    BitBtn1 = new QPushButton(T("Open credentials file"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setAutoDefault(false);

    auto* Label2 = new QLabel(T("Credentials file"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    edCrdFile = new QLineEdit(this);
    edCrdFile->setObjectName(QStringLiteral("edCrdFile"));
    edCrdFile->setReadOnly(true);
    edCrdFile->setEnabled(false);
    edCrdFile->setMinimumWidth(edCrdFile->fontMetrics().horizontalAdvance(QString(52, QLatin1Char('x'))));

    BitBtn2 = new QPushButton(T("Activate credentials"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setDefault(true);
    btnCancel = new QPushButton(T("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setAutoDefault(false);

    connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
    connect(BitBtn2, &QPushButton::clicked, this, [this] { BitBtn2Click(); });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* grid = new QGridLayout;
    grid->addWidget(Label1, 0, 0);
    auto* codeRow = new QHBoxLayout;
    codeRow->addWidget(edCodice);
    codeRow->addStretch();
    codeRow->addWidget(BitBtn1);
    grid->addLayout(codeRow, 0, 1);
    grid->addWidget(Label2, 1, 0);
    grid->addWidget(edCrdFile, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(BitBtn2);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TSetSiteCodeForm::SetSiteCode(const QString& code) {
    edCodice->setText(QString::fromStdString(Trim(code.toStdString())));
}

QString TSetSiteCodeForm::SiteCode() const { return QString::fromStdString(Trim(edCodice->text().toStdString())); }

void TSetSiteCodeForm::SetFileChooser(TFileChooser chooser) { fileChooser_ = std::move(chooser); }

void TSetSiteCodeForm::BitBtn1Click() {
    const std::string code = SiteCode().toStdString();
    TBoxKind kind;
    // Separate statements: kind is read only after the check has set it.
    const std::string refusal = CheckCodeForChoosing(code, kind);
    if (Refused(refusal, kind)) return;
    const QString chosen = ChooseFile();
    if (chosen.isEmpty()) return;
    const QString path = QFileInfo(chosen).absoluteFilePath();
    const std::string misfit = CheckChosenCredentials(code, QFile::encodeName(path).toStdString(), kind);
    if (Refused(misfit, kind)) return;
    edCrdFile->setText(path);  // the cursor at the end keeps the file name in sight
    edCrdFile->setToolTip(path);
}

void TSetSiteCodeForm::BitBtn2Click() {
    const std::string code = SiteCode().toStdString();
    const std::string file = QFile::encodeName(edCrdFile->text()).toStdString();
    TBoxKind kind;
    const std::string refusal = CheckActivation(code, file, kind);
    if (Refused(refusal, kind)) return;
    if (dialogs::Guarded(this, [&] { ActivateCredentials(code, file); }, T("The credentials were not activated: ")))
        accept();
}

bool TSetSiteCodeForm::Refused(const std::string& text, TBoxKind kind) {
    if (text.empty()) return false;
    const QString t = QString::fromStdString(text);
    switch (kind) {
        case TBoxKind::Information: dialogs::Information(t, this); break;
        case TBoxKind::Warning: dialogs::Warning(t, this); break;
        case TBoxKind::Error: dialogs::Error(t, this); break;
    }
    return true;
}

QString TSetSiteCodeForm::ChooseFile() {
    if (fileChooser_) return fileChooser_();
    QFileDialog dialog(this, T("Open credentials file"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(T("Credentials File") + QStringLiteral(" (*.CRD *.crd)"));
    dialog.setDefaultSuffix(QStringLiteral("crd"));
    return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty() ? dialog.selectedFiles().front()
                                                                                   : QString();
}

// Centred on the owner itself: QDialog would centre on the owner's top
// window, the main window rather than the site window inside it.
void TSetSiteCodeForm::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    QWidget* owner = parentWidget();
    if (!owner || e->spontaneous()) return;
    QRect r = frameGeometry();
    r.moveCenter(owner->mapToGlobal(owner->rect().center()));
    if (const QScreen* s = owner->screen()) {
        const QRect a = s->availableGeometry();
        r.moveLeft(std::max(a.left(), std::min(r.left(), a.right() + 1 - r.width())));
        r.moveTop(std::max(a.top(), std::min(r.top(), a.bottom() + 1 - r.height())));
    }
    move(r.topLeft());
}
