#pragma once
// A page of the site window. The window builds its pages, puts each in a
// tab and routes through these calls alone; what a page shows and does
// stays inside its own file, and a page reaches the window only through
// the context it is given, never another page.
#include <QPushButton>
#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/site/siteports.h"
#include "gui/querycontrols.h"
#include "gui/readingviews.h"

class QLabel;
class QLineEdit;
class QSettings;
class QWidget;
class TAcquisition;
class TDataSet;
class TFieldBinder;
class TSQM;
class TSitePage;
struct TFinderOptions;
struct TSiteCommons;
struct TSiteRow;
namespace fb {
class Transaction;
}

// The site's latest recorded readings, owned by the window: the readings
// page chooses how many and lists them, the chart page draws them; each
// is told when they were read again.
class TLatestReadings {
public:
    using TReader = std::function<std::vector<TReadingRow>(int count)>;
    explicit TLatestReadings(TReader read) : read_(std::move(read)) {}
    void SetCount(int count) { count_ = count; }
    int Count() const { return count_; }
    // Reads them again and tells every observer.
    void Refresh();
    const std::vector<TReadingRow>& Rows() const { return rows_; }
    void Observe(std::function<void()> changed) { observers_.push_back(std::move(changed)); }

private:
    TReader read_;
    int count_ = 10;
    std::vector<TReadingRow> rows_;
    std::vector<std::function<void()>> observers_;
};

// What the window gives its pages.
class ISitePageContext {
public:
    virtual ~ISitePageContext() = default;
    // The parent of a page's dialogs and the receiver of its connections.
    virtual QWidget* Window() = 0;
    // The site record being shown and edited, and its editors by field.
    virtual TDataSet& Site() = 0;
    virtual void AddEditor(const char* field, QWidget* editor) = 0;
    virtual QWidget* Editor(const char* field) = 0;
    // The button bar's save, which shows a refusal itself.
    virtual bool SaveSite() = 0;
    // SIT_ID of the record (a new site's once saved), its code and name.
    virtual int SiteId() = 0;
    virtual std::string SiteCode() = 0;
    virtual std::string SiteName() = 0;
    // Where the site is, to shade the nights of its charts; none without coordinates.
    virtual std::optional<TSitePosition> Position() = 0;
    virtual TAcquisition& Acquisition() = 0;
    virtual IPrompt& Prompt() = 0;
    virtual IWait& Wait() = 0;
    // The window's conversations, off its thread.
    virtual IJobRunner& Jobs() = 0;
    virtual TSiteCommons& Common() = 0;
    // The reading lists and their deletions, apart from the site record's edits.
    virtual fb::Transaction& Readings() = 0;
    virtual TLatestReadings& Latest() = 0;
    // The PC's local time.
    virtual double NowLocal() = 0;
    virtual bool IsCurrent(const TSitePage& page) = 0;
    // Where to write a file (filters in Qt form); empty when cancelled.
    virtual QString ChooseFile(const QString& filters, const QString& suffix) = 0;
    // "Save graph": asks for a file and writes the chart in its type.
    virtual void SaveChart(QWidget* chart) = 0;
    // The "Set Site code" dialog: the code chosen, nothing when cancelled.
    virtual std::optional<std::string> AskSiteCode(const std::string& current) = 0;
    // Where "Find..." searches.
    virtual const TFinderOptions& FinderOptions() = 0;
    // The site code was set: the window shows what its credentials allow.
    virtual void CredentialsChanged() = 0;
};

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
    // The station's latest reading (none before its first).
    virtual void ShowReading(const TSQM*) {}
    // A conversation of the page is under way: the window must not go now.
    virtual bool Working() const { return false; }
};

// What the latest reading shows: empty texts before the station's first.
struct TLatestReadingTexts {
    QString Time, Value, Nelm, Temperature, Shutter;
};
TLatestReadingTexts LatestReadingTexts(const TSQM* station);

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
