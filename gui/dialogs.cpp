#include "gui/dialogs.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QTextStream>

#include "core/station/dataset.h"

namespace dialogs {

namespace {

// The engine's texts break lines with a lone carriage return.
QString Lines(QString text) { return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n')); }

QString Title() { return QApplication::applicationName().isEmpty() ? QStringLiteral("KALO - SQM") : QApplication::applicationName(); }

// The real boxes, waiting for a click.
class TQtBoxes : public IMessageBoxes {
public:
    bool Show(TBoxKind kind, const QString& text, QWidget* parent) override {
        switch (kind) {
            case TBoxKind::Information: QMessageBox::information(parent, Title(), Lines(text)); return false;
            case TBoxKind::Error: QMessageBox::critical(parent, Title(), Lines(text)); return false;
            case TBoxKind::Warning: QMessageBox::warning(parent, Title(), Lines(text)); return false;
            case TBoxKind::Confirm:
                return QMessageBox::question(parent, Title(), Lines(text), QMessageBox::Yes | QMessageBox::No) ==
                       QMessageBox::Yes;
        }
        return false;
    }
};

TQtBoxes qtBoxes;
IMessageBoxes* boxes = &qtBoxes;

}  // namespace

void SetMessageBoxes(IMessageBoxes* b) { boxes = b ? b : &qtBoxes; }

bool TLoggedBoxes::Show(TBoxKind kind, const QString& text, QWidget*) {
    static const char* const names[] = {"information", "error", "warning", "confirm"};
    QFile f(path_);
    if (f.open(QIODevice::Append | QIODevice::Text)) {
        QTextStream out(&f);
        out << names[static_cast<int>(kind)] << ": " << text << "\n";
    }
    return kind == TBoxKind::Confirm && yes_;
}

void Information(const QString& text, QWidget* parent) { boxes->Show(TBoxKind::Information, text, parent); }

void Error(const QString& text, QWidget* parent) { boxes->Show(TBoxKind::Error, text, parent); }

void Warning(const QString& text, QWidget* parent) { boxes->Show(TBoxKind::Warning, text, parent); }

bool Confirm(const QString& text, QWidget* parent) { return boxes->Show(TBoxKind::Confirm, text, parent); }

void ShowFailure(std::exception_ptr failure, QWidget* parent, const QString& prefix) {
    try {
        std::rethrow_exception(failure);
    } catch (const TAbort&) {
    } catch (const std::exception& e) {
        Error(prefix + QString::fromStdString(e.what()), parent);
    }
}

}  // namespace dialogs
