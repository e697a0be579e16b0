#include "gui/dialogs.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QTextStream>

#include "core/station/dataset.h"

namespace dialogs {

namespace {

bool Logged(const char* kind, const QString& text, bool* answer = nullptr) {
    const QByteArray path = qgetenv("KALOSQM_MESSAGE_LOG");
    if (path.isEmpty()) return false;
    QFile f(QString::fromLocal8Bit(path));
    if (f.open(QIODevice::Append | QIODevice::Text)) {
        QTextStream out(&f);
        out << kind << ": " << text << "\n";
    }
    if (answer) *answer = qgetenv("KALOSQM_MESSAGE_ANSWER").toLower() == "yes";
    return true;
}

// The engine's texts break lines with a lone carriage return.
QString Lines(QString text) { return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n')); }

QString Title() { return QApplication::applicationName().isEmpty() ? QStringLiteral("KALO - SQM") : QApplication::applicationName(); }

}  // namespace

void Information(const QString& text, QWidget* parent) {
    if (!Logged("information", text)) QMessageBox::information(parent, Title(), Lines(text));
}

void Error(const QString& text, QWidget* parent) {
    if (!Logged("error", text)) QMessageBox::critical(parent, Title(), Lines(text));
}

void Warning(const QString& text, QWidget* parent) {
    if (!Logged("warning", text)) QMessageBox::warning(parent, Title(), Lines(text));
}

bool Confirm(const QString& text, QWidget* parent) {
    bool answer = false;
    if (Logged("confirm", text, &answer)) return answer;
    return QMessageBox::question(parent, Title(), Lines(text), QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void ShowFailure(std::exception_ptr failure, QWidget* parent, const QString& prefix) {
    try {
        std::rethrow_exception(failure);
    } catch (const TAbort&) {
    } catch (const std::exception& e) {
        Error(prefix + QString::fromStdString(e.what()), parent);
    }
}

}  // namespace dialogs
