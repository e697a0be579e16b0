#pragma once
// Modal message boxes of the program. Every box goes through here and
// through the boxes in use (IMessageBoxes): the real ones, or those a test
// sets in-process, or a log file a test names to a program it starts.
#include <QString>
#include <exception>
#include <utility>

class QWidget;

namespace dialogs {

enum class TBoxKind { Information, Error, Warning, Confirm };

// Shows a box and waits for its answer: true for Yes (a question only).
class IMessageBoxes {
public:
    virtual ~IMessageBoxes() = default;
    virtual bool Show(TBoxKind kind, const QString& text, QWidget* parent) = 0;
};

// The boxes in use; nullptr puts the real ones back. Not owned.
void SetMessageBoxes(IMessageBoxes* boxes);

// Boxes that wait for nobody: each is appended to a file as "kind: text"
// (kind: information, error, warning, confirm), a question gets a fixed answer.
class TLoggedBoxes : public IMessageBoxes {
public:
    explicit TLoggedBoxes(QString path, bool yes = false) : path_(std::move(path)), yes_(yes) {}
    void SetAnswer(bool yes) { yes_ = yes; }
    bool Show(TBoxKind kind, const QString& text, QWidget* parent) override;

private:
    QString path_;
    bool yes_;
};

void Information(const QString& text, QWidget* parent = nullptr);
void Error(const QString& text, QWidget* parent = nullptr);
void Warning(const QString& text, QWidget* parent = nullptr);
// Yes/No question; true for Yes.
bool Confirm(const QString& text, QWidget* parent = nullptr);

// Runs a command of a window: an error it raises is shown in the error box
// (after prefix), never left to escape; a TAbort ends it quietly, its box
// was shown already. True when the command ran to its end.
template <typename F>
bool Guarded(QWidget* parent, F&& command, const QString& prefix = QString());

// Points the engine's information/error/beep hooks at these boxes.

// The error box of an exception caught by Guarded.
void ShowFailure(std::exception_ptr failure, QWidget* parent, const QString& prefix);

template <typename F>
bool Guarded(QWidget* parent, F&& command, const QString& prefix) {
    try {
        std::forward<F>(command)();
        return true;
    } catch (...) {
        ShowFailure(std::current_exception(), parent, prefix);
        return false;
    }
}

}  // namespace dialogs
