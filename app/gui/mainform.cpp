#include "mainform.h"

#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QMdiArea>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>

#include "i18n.h"
#include "myutils.h"
#include "version.h"

TMainForm::TMainForm(const QStringList& arguments, QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("KALO-SQM"));
    resize(977, 621);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(977 / 2, 621 / 2));
    }
    mdi_ = new QMdiArea(this);
    setCentralWidget(mdi_);

    const QString setupDir = QString::fromStdString(ProgramPath("WinSetup"));
    QDir().mkpath(setupDir);
    placementFile_ = setupDir + QStringLiteral("/MainForm.ini");

    panel0_ = new QLabel(this);
    panel1_ = new QLabel(this);
    panel0_->setFixedWidth(400);
    panel1_->setFixedWidth(50);
    statusBar()->addWidget(panel0_);
    statusBar()->addWidget(panel1_);
    panel0_->setText(QString::fromStdString(Tr("Ver. ") + GetVersionText(2) + "        "));

    // The first argument "noautoplay" (exactly so) keeps autostart sites closed.
    autoStartPending_ = !(arguments.size() > 1 && arguments.at(1) == QStringLiteral("noautoplay"));
    RestorePlacement();
}

TMainForm::~TMainForm() = default;

void TMainForm::RestorePlacement() {
    QSettings ini(placementFile_, QSettings::IniFormat);
    const QByteArray geometry = ini.value(QStringLiteral("Placement/Geometry")).toByteArray();
    if (!geometry.isEmpty()) restoreGeometry(geometry);
}

void TMainForm::SavePlacement() {
    QSettings ini(placementFile_, QSettings::IniFormat);
    ini.setValue(QStringLiteral("Placement/Geometry"), saveGeometry());
    ini.setValue(QStringLiteral("Placement/Maximized"), isMaximized());
}

void TMainForm::closeEvent(QCloseEvent* e) {
    SavePlacement();
    e->accept();
}
