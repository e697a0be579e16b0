#include "programs/desktop/updateform.h"

#include <QDir>
#include <QEventLoop>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "core/station/i18n.h"
#include "core/station/myutils.h"
#include "core/site/updatecheck.h"
#include "core/station/version.h"
#include "core/station/lastresort.h"

#ifndef KALO_UPDATE_URL
#error "KALO_UPDATE_URL comes from the build (CMake cache variable)"
#endif

namespace {
QString T(const char* s) { return QString::fromStdString(Tr(s)); }

constexpr int kMaxRedirects = 3;

QLabel* ResultLabel(const char* text, const char* name, const char* color, QWidget* parent) {
    auto* label = new QLabel(T(text), parent);
    label->setObjectName(QLatin1String(name));
    label->setAlignment(Qt::AlignCenter);
    QFont f = label->font();
    f.setBold(true);
    label->setFont(f);
    label->setStyleSheet(QStringLiteral("color: %1;").arg(QLatin1String(color)));
    // Hidden, it keeps its room: the fixed-size dialog has space for any result.
    QSizePolicy p = label->sizePolicy();
    p.setRetainSizeWhenHidden(true);
    label->setSizePolicy(p);
    label->hide();
    return label;
}
}  // namespace

bool DownloadFile(const QString& url, const QString& file, int timeoutMs) {
    try {
        QNetworkAccessManager manager;
        QNetworkRequest request{QUrl(url)};
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
        request.setMaximumRedirectsAllowed(kMaxRedirects);
        request.setTransferTimeout(timeoutMs);  // no data for that long: given up

        // Into a temporary file beside the copy: the copy changes only when all arrived.
        QSaveFile out(file);
        if (!out.open(QIODevice::WriteOnly)) return false;

        QNetworkReply* reply = manager.get(request);
        bool writeFailed = false;
        qint64 received = 0;
        QObject::connect(reply, &QNetworkReply::readyRead, reply, [&] {
            const QByteArray chunk = reply->readAll();
            received += chunk.size();
            if (out.write(chunk) != chunk.size()) writeFailed = true;
        });
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        // A server trickling bytes would keep the transfer timeout away: a whole-check bound too.
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, reply, &QNetworkReply::abort);
        deadline.start(timeoutMs);
        // Clicks wait until the check is over: nothing can close the dialog under it.
        if (!reply->isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
        deadline.stop();

        if (reply->isOpen()) {  // an aborted reply has nothing left to read
            const QByteArray rest = reply->readAll();
            received += rest.size();
            if (out.write(rest) != rest.size()) writeFailed = true;
        }
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        const bool complete = reply->error() == QNetworkReply::NoError && status >= 200 && status < 300 &&
                              !writeFailed && (!length.isValid() || length.toLongLong() == received);
        reply->deleteLater();
        if (!complete) {
            out.cancelWriting();
            return false;
        }
        return out.commit();
    } catch (...) {
        // The caller says the download failed; the cause goes to stderr.
        LastResortLine("downloading the update");
        return false;
    }
}

TUpdateForm::TUpdateForm(QWidget* parent) : QDialog(parent), url_(QStringLiteral(KALO_UPDATE_URL)) {
    setObjectName(QStringLiteral("UpdateForm"));
    setWindowTitle(T("Check for updates"));

    edInstalled_ = new QLineEdit(this);
    edInstalled_->setObjectName(QStringLiteral("edInstalledVersion"));
    edInstalled_->setReadOnly(true);
    edCurrent_ = new QLineEdit(this);
    edCurrent_->setObjectName(QStringLiteral("edCurrentVersion"));
    edCurrent_->setReadOnly(true);
    auto* fields = new QGridLayout;
    fields->addWidget(new QLabel(T("Installed version"), this), 0, 0);
    fields->addWidget(edInstalled_, 0, 1);
    fields->addWidget(new QLabel(T("Current version"), this), 1, 0);
    fields->addWidget(edCurrent_, 1, 1);

    // The three results share one place; at most one shows.
    lbUpdate_ = ResultLabel(N_("Your installed version is different from the curren one: update the software"),
                            "lbUpdate", "#b00000", this);
    lbUpToDate_ = ResultLabel(N_("The software is up to date"), "lbUpToDate", "#006000", this);
    lbFailed_ = ResultLabel(N_("Check for updates failed: try later"), "lbFailed", "#b00000", this);
    auto* results = new QGridLayout;
    for (QLabel* l : {lbUpdate_, lbUpToDate_, lbFailed_}) results->addWidget(l, 0, 0);

    btnCheck_ = new QPushButton(T("Check for updates"), this);
    btnCheck_->setObjectName(QStringLiteral("btnCheck"));
    btnClose_ = new QPushButton(T("Close"), this);
    btnClose_->setObjectName(QStringLiteral("btnClose"));
    btnCheck_->setAutoDefault(false);
    btnClose_->setAutoDefault(false);
    connect(btnCheck_, &QPushButton::clicked, this, [this] { btnCheckClick(); });
    connect(btnClose_, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnCheck_);
    buttons->addWidget(btnClose_);
    buttons->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(12);
    layout->addLayout(fields);
    layout->addLayout(results);
    layout->addLayout(buttons);

    edInstalled_->setText(QString::fromStdString(GetVersionText(4)));

    setFixedSize(sizeHint());
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

bool TUpdateForm::CheckUpdates(std::string& currentVersion) {
    currentVersion.clear();
    const QString dir = QString::fromStdString(ProgramPath(kUpdateInfoDir));
    if (!QDir().mkpath(dir)) return false;
    const std::string file = ProgramPath(kUpdateInfoFile);
    if (!DownloadFile(url_, QString::fromStdString(file), timeoutMs_)) return false;
    currentVersion = ReadUpdateVersion(file);
    return true;
}

void TUpdateForm::btnCheckClick() {
    for (QLabel* l : {lbUpdate_, lbUpToDate_, lbFailed_}) l->hide();
    edCurrent_->clear();
    btnCheck_->setEnabled(false);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    std::string current;
    const bool checked = CheckUpdates(current);
    QGuiApplication::restoreOverrideCursor();
    btnCheck_->setEnabled(true);
    edCurrent_->setText(QString::fromStdString(current));
    switch (UpdateResult(checked, current, GetVersionText(4))) {
        case TUpdateResult::Failed: lbFailed_->show(); break;
        case TUpdateResult::UpToDate: lbUpToDate_->show(); break;
        case TUpdateResult::UpdateNeeded: lbUpdate_->show(); break;
    }
}
