#pragma once
// A page of the site window. The window builds its pages, puts each in a
// tab and routes through these calls alone; what a page shows and does
// stays inside its own file.
#include <QPushButton>

#include "gui/querycontrols.h"

class QLabel;
class QLineEdit;
class QSettings;
class QWidget;
class TFieldBinder;
struct TSiteRow;

class TSitePage {
public:
    virtual ~TSitePage() = default;
    // What the tab holds: the page, or the scroll area around it.
    virtual QWidget* Tab() const = 0;
    // Binds its editors to the site record.
    virtual void Bind(TFieldBinder&) {}
    // The tab became the current one, or stopped being it.
    virtual void Shown() {}
    virtual void Hidden() {}
    // The site row or the time changed (utc: the time the window shows).
    virtual void ShowSite(const TSiteRow&, double /*utc*/) {}
    // Texts made from data (chart titles) in the current language; the
    // captions follow the language by themselves.
    virtual void Retranslate() {}
    // Its controls in the window's settings file, under the keys the
    // file has always used ("Controls/...", "Grids/...").
    virtual void SaveSettings(QSettings&) const {}
    virtual void RestoreSettings(QSettings&) {}
};

// The pages' common pieces: a line edit and a value label with an object name.
QLineEdit* SitePageEdit(const char* name, int width = 0);
QLabel* SitePageValue(const char* name);
// A page in a scroll area: tiled windows get narrow, and a page then
// scrolls rather than clipping its labels.
QWidget* SitePageScrolled(QWidget* page);
// A button with an object name whose click runs handler while receiver lives.
template <class F>
QPushButton* SitePageButton(QObject* receiver, const char* caption, const char* name, F handler) {
    QPushButton* b = MakeButton(caption, name);
    QObject::connect(b, &QPushButton::clicked, receiver, handler);
    return b;
}
