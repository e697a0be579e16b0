#pragma once
// Modal message boxes of the program. Every box goes through here so that
// the engine's hooks and the automatic tests reach the same code: with
// KALOSQM_MESSAGE_LOG set, boxes are appended to that file instead of
// waiting for a click (the answer to questions is then taken from
// KALOSQM_MESSAGE_ANSWER: "yes" or "no", default "no").
#include <QString>
#include <exception>
#include <utility>

class QWidget;

namespace dialogs {

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
