#pragma once
// Modal message boxes of the program. Every box goes through here so that
// the engine's hooks and the automatic tests reach the same code: with
// KALOSQM_MESSAGE_LOG set, boxes are appended to that file instead of
// waiting for a click (the answer to questions is then taken from
// KALOSQM_MESSAGE_ANSWER: "yes" or "no", default "no").
#include <QString>

class QWidget;

namespace dialogs {

void Information(const QString& text, QWidget* parent = nullptr);
void Error(const QString& text, QWidget* parent = nullptr);
void Warning(const QString& text, QWidget* parent = nullptr);
// Yes/No question; true for Yes.
bool Confirm(const QString& text, QWidget* parent = nullptr);

// Points the engine's information/error/beep hooks at these boxes.

}  // namespace dialogs
