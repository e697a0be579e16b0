#include "programs/desktop/welcomeform.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScreen>
#include <QVBoxLayout>

#include "core/station/i18n.h"
#include "core/station/version.h"

namespace {

QString T(const char* s) { return QString::fromStdString(Tr(s)); }

// The program's picture: a night sky over a horizon, drawn rather than shipped.
QPixmap NightSkyPicture() {
    QPixmap pm(360, 120);
    QPainter p(&pm);
    QLinearGradient sky(0, 0, 0, 120);
    sky.setColorAt(0, QColor(5, 10, 40));
    sky.setColorAt(1, QColor(40, 60, 120));
    p.fillRect(pm.rect(), sky);
    QRandomGenerator stars(1977);  // the same sky every time
    p.setPen(Qt::white);
    for (int i = 0; i < 120; ++i) p.drawPoint(stars.bounded(360), stars.bounded(95));
    p.setBrush(QColor(15, 20, 15));
    p.setPen(Qt::NoPen);
    p.drawRect(0, 100, 360, 20);
    p.setPen(Qt::white);
    QFont f = p.font();
    f.setPointSize(22);
    f.setBold(true);
    p.setFont(f);
    p.drawText(pm.rect().adjusted(0, 0, 0, -25), Qt::AlignCenter, QStringLiteral("KALO-SQM"));
    return pm;
}

}  // namespace

TWelcomeForm::TWelcomeForm(bool asAbout, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("WelcomeForm"));
    if (!asAbout) setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    setAttribute(Qt::WA_DeleteOnClose);

    auto* layout = new QVBoxLayout(this);
    auto* picture = new QLabel(this);
    picture->setPixmap(NightSkyPicture());
    picture->setAlignment(Qt::AlignCenter);
    layout->addWidget(picture);
    lblVersion = new QLabel(T("KALO ver. ") + QString::fromStdString(GetVersionText(2)), this);
    lblBuild = new QLabel(T("Build ") + QString::fromStdString(GetVersionText(4)), this);
    lblLoading = new QLabel(T("Loading ... Please wait"), this);
    lblCredits = new QLabel(T("KALO-SQM, station logger for Sky Quality Meters.\n"
                              "Made by the KALO project for the light pollution monitoring network."),
                            this);
    btnClose = new QPushButton(T("Close"), this);
    QFont big = lblVersion->font();
    big.setPointSize(big.pointSize() + 4);
    big.setBold(true);
    lblVersion->setFont(big);
    for (QLabel* l : {lblVersion, lblBuild, lblLoading, lblCredits}) {
        l->setAlignment(Qt::AlignCenter);
        layout->addWidget(l);
    }
    layout->addWidget(btnClose, 0, Qt::AlignCenter);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::close);

    lblLoading->setVisible(!asAbout);
    lblCredits->setVisible(asAbout);
    btnClose->setVisible(asAbout);
    adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
}
