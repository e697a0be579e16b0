#pragma once
// The main window: the frame that holds one child window per open site.
#include <QList>
#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <memory>

#include "core/site/nightfile.h"
#include "core/station/errorlog.h"
#include "gui/guiports.h"

class QAction;
class QActionGroup;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class TData;
class TSiteForm;
struct TSiteCommons;

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    // data, common: the program's, for as long as the window lives.
    TMainForm(TData& data, TSiteCommons& common, const QStringList& arguments, QWidget* parent = nullptr);
    ~TMainForm() override;

    bool AutoStartPending() const { return autoStartPending_; }
    QMdiArea* Area() const { return mdi_; }
    // 0: the version, 1: spare, 2: an error log that cannot be written.
    QLabel* StatusPanel(int i) const { return i == 0 ? panel0_ : i == 1 ? panel1_ : logPanel_; }
    QString PlacementFile() const { return placementFile_; }

    // A site window in its own child frame (siteId 0: a new site).
    TSiteForm* OpenSiteWindow(int siteId, bool autostart);
    // The open site windows, oldest first.
    QList<TSiteForm*> SiteWindows() const;
    // The frame of an open window of that site (a new site's once saved), or null.
    QMdiSubWindow* FindSiteWindow(int siteId) const;
    // One site, one window: brings up the site's open window, or opens one.
    void BringUpSiteWindow(int siteId);
    // A site window is inside a tick: it must not be deleted now.
    bool SiteWindowBusy() const;

    // The invitation to join the network shows while no site has a code.
    void RefreshInvitation();
    QWidget* Invitation() const { return invitation_; }

    QMenu* WindowMenu() const { return windowMenu_; }

    // "Languages": "Default", then one entry per folder of Locale (its
    // LangName.ini caption), the one of savedCode marked. Built once at start.
    void BuildLanguageMenu(const QString& savedCode);
    QMenu* LanguageMenu() const { return languageMenu_; }
    QList<QAction*> LanguageEntries() const;
    // Switches to the entry's language (English when its folder is gone),
    // retranslates this window and every site window, saves the entry's code.
    void ChangeLanguage(QAction* entry);
    void Retranslate();
    void TranslateMDI();

    // Ends the run at once (SIGTERM, SIGINT): every site stops, nothing asks.
    void ShutdownWithoutQuestions();

    // Menu commands.
    void mnuOpenClick();
    void mnuCreateNewClick();
    void mnuOpenAllClick();
    void mnuDeleteClick();
    void mnuShowInternetTimeClick();
    void mnuSyncClockClick();
    void mnuTimeZoneInfoClick();
    void mnuNTPServersClick();
    void mnuSettingsClick();
    void mnuCloseWindowClick();
    void mnuTileVerticallyClick();
    void CheckForUpdatesClick();  // the "Check for updates" dialog, modal
    void mnuAboutClick();

    // Opens the autostart sites the first time it runs; later calls do nothing.
    void FormPaint();

protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildMenus();
    void BuildInvitation();
    void ShowVersion();
    void RefreshWindowMenu();
    void ShowSiteWindow(QMdiSubWindow* sub);
    QList<QMdiSubWindow*> SiteSubWindows() const;
    void DestroySiteWindows();
    void RestorePlacement();
    void SavePlacement();
    void ShowLogNews(const TErrorLogNews& news);
    // The Internet time asked on the program's time lane; then shows it.
    void AskInternetTime(bool setClock, std::function<void(const TTimeAnswer&)> then);
    void ShowNightFileNews(const TNightFileNews& news);

    TData& data_;
    TSiteCommons& common_;
    QMdiArea* mdi_;
    QLabel* panel0_;
    QLabel* panel1_;
    QLabel* logPanel_;
    std::unique_ptr<TErrorLogWatch> logWatch_;
    std::unique_ptr<TGuiJobs> jobs_;  // the menu's talks with the time servers
    bool timeAsked_ = false;
    std::unique_ptr<TNightFileWatch> nightFileWatch_;  // a night file's waiting lines the log could not say
    QWidget* invitation_ = nullptr;
    QMenu* siteMenu_ = nullptr;
    QMenu* languageMenu_ = nullptr;
    QActionGroup* languageGroup_ = nullptr;
    QMenu* utilitiesMenu_ = nullptr;
    QMenu* configurationMenu_ = nullptr;
    QMenu* windowMenu_ = nullptr;
    QMenu* helpMenu_ = nullptr;
    QAction* actCloseWindow_ = nullptr;
    QAction* actTile_ = nullptr;
    QList<QAction*> windowListActions_;
    QString placementFile_;
    bool autoStartPending_ = true;
    bool painted_ = false;
    bool closeAgreed_ = false;  // the questions were answered: close without asking again
    bool fitWhenShown_ = false;  // a restored placement is fitted into the screen once more when shown
};
