#pragma once
// Texts that follow the interface language: a widget keeps the English
// source of its text, so a language switch re-applies Tr(source) to a
// whole window at once (RetranslateTree). Sources come marked with N_().
#include <QString>

class QLabel;
class QObject;
class QTabWidget;
class QWidget;

// Sets the text of a label, a button, a group box's title or an action,
// and keeps its source.
void SetTrText(QObject* o, const char* source);
template <typename W>
W* Translatable(W* w, const char* source) {
    SetTrText(w, source);
    return w;
}
// A new label with a kept source, for form rows.
QLabel* TrLabel(const char* source);
// The window title; a title from data (nullptr) stays as it is set.
void SetTrWindowTitle(QWidget* w, const char* source);
// A tab whose title follows the language.
int AddTrTab(QTabWidget* tabs, QWidget* page, const char* source);
// A widget that paints texts of its own with Tr(): a switch repaints it.
void PaintsTranslatedTexts(QWidget* w);
// Re-applies every kept source under root (itself included); grid headers are asked again.
void RetranslateTree(QObject* root);
