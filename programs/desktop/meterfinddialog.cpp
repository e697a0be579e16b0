#include "programs/desktop/meterfinddialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>

#include "core/station/i18n.h"

namespace {

QString T(const char* s) { return QString::fromStdString(Tr(s)); }

// A translated text with one or two "%d" in it.
QString Tf(const char* s, int a, int b = 0) {
    char text[512];
    std::snprintf(text, sizeof text, Tr(s).c_str(), a, b);
    return QString::fromStdString(text);
}

enum Column { ColAddress, ColMac, ColSerial, ColProtocol, ColModel, ColFeature, ColNote, ColumnCount };

// Steps are short: the timer comes back often enough for a quick reply to
// show at once, and each step waits for nothing.
constexpr int kStepIntervalMs = 40;

}  // namespace

TMeterFindDialog::TMeterFindDialog(TFinderOptions options, QWidget* parent)
    : QDialog(parent), options_(std::move(options)) {
    setObjectName(QStringLiteral("MeterFindDialog"));
    setWindowTitle(T("Find SQM-LE"));

    auto* intro = new QLabel(T("The SQM-LE meters of this computer's local network answer a search sent to all of it. "
                               "Choose one and press \"Use\" to take its address."),
                             this);
    intro->setObjectName(QStringLiteral("lblIntro"));
    intro->setWordWrap(true);

    gridDevices = new QTableWidget(0, ColumnCount, this);
    gridDevices->setObjectName(QStringLiteral("gridDevices"));
    gridDevices->setHorizontalHeaderLabels({T("Address"), T("MAC address"), T("Serial number"), T("Protocol"),
                                            T("Model"), T("Feature"), T("Note")});
    gridDevices->setSelectionBehavior(QAbstractItemView::SelectRows);
    gridDevices->setSelectionMode(QAbstractItemView::SingleSelection);
    gridDevices->setEditTriggers(QAbstractItemView::NoEditTriggers);
    gridDevices->verticalHeader()->hide();
    for (int column = 0; column < ColNote; ++column)
        gridDevices->horizontalHeader()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    gridDevices->horizontalHeader()->setSectionResizeMode(ColNote, QHeaderView::Stretch);
    // A long reason why a device is no meter wraps instead of being cut.
    gridDevices->setWordWrap(true);
    gridDevices->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    gridDevices->setMinimumSize(760, 160);

    lblStatus = new QLabel(this);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setWordWrap(true);
    pbSearch = new QProgressBar(this);
    pbSearch->setObjectName(QStringLiteral("pbSearch"));
    pbSearch->setRange(0, 0);  // busy: how many devices will answer is unknown
    pbSearch->setTextVisible(false);
    pbSearch->setMaximumWidth(120);
    pbSearch->hide();

    btnFind = new QPushButton(T("Search again"), this);
    btnFind->setObjectName(QStringLiteral("btnFind"));
    btnFind->setAutoDefault(false);
    btnUse = new QPushButton(T("Use"), this);
    btnUse->setObjectName(QStringLiteral("btnUse"));
    btnUse->setDefault(true);
    btnUse->setEnabled(false);
    btnClose = new QPushButton(T("Close"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setAutoDefault(false);

    connect(btnFind, &QPushButton::clicked, this, [this] { btnFindClick(); });
    connect(btnUse, &QPushButton::clicked, this, [this] { btnUseClick(); });
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(gridDevices, &QTableWidget::itemSelectionChanged, this,
            [this] { btnUse->setEnabled(!gridDevices->selectedItems().isEmpty()); });
    connect(gridDevices, &QTableWidget::cellDoubleClicked, this, [this] { btnUseClick(); });
    connect(&stepTimer_, &QTimer::timeout, this, [this] { StepSearch(); });
    stepTimer_.setInterval(kStepIntervalMs);

    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(pbSearch);
    statusRow->addWidget(lblStatus, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnFind);
    buttons->addStretch();
    buttons->addWidget(btnUse);
    buttons->addWidget(btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addWidget(gridDevices, 1);
    layout->addLayout(statusRow);
    layout->addLayout(buttons);
}

TMeterFindDialog::~TMeterFindDialog() = default;

void TMeterFindDialog::btnFindClick() {
    stepTimer_.stop();
    gridDevices->setRowCount(0);
    btnUse->setEnabled(false);
    finder_ = std::make_unique<TMeterFinder>(options_);
    try {
        finder_->Start();
    } catch (const std::exception& e) {
        finder_.reset();
        lblStatus->setText(T("The search could not start: ") + QString::fromStdString(e.what()));
        return;
    }
    searched_ = true;
    btnFind->setEnabled(false);
    pbSearch->show();
    lblStatus->setText(T("Searching the local network..."));
    stepTimer_.start();
}

void TMeterFindDialog::StepSearch() {
    if (!finder_) return;
    const size_t before = finder_->Devices().size();
    const bool going = finder_->Step(0);
    if (finder_->Devices().size() != before || !going) ShowDevices();
    if (going) return;
    stepTimer_.stop();
    pbSearch->hide();
    btnFind->setEnabled(true);
    const auto& devices = finder_->Devices();
    const int meters = static_cast<int>(
        std::count_if(devices.begin(), devices.end(), [](const TFoundDevice& d) { return d.IsMeter; }));
    if (devices.empty())
        lblStatus->setText(Tf(N_("No device answered. Check that this computer is on the same local network (subnet) "
                              "as the meter, that the meter is switched on and cabled, and that no firewall blocks "
                              "UDP port %d."),
                              options_.DiscoveryPort));
    else
        lblStatus->setText(Tf(N_("Devices that answered: %d; SQM-LE meters among them: %d."),
                              static_cast<int>(devices.size()), meters));
    // The first meter is the likely choice.
    for (int row = 0; row < static_cast<int>(devices.size()); ++row) {
        if (devices[row].IsMeter) {
            gridDevices->selectRow(row);
            break;
        }
    }
    finder_.reset();
}

void TMeterFindDialog::ShowDevices() {
    const auto& devices = finder_->Devices();
    gridDevices->setRowCount(static_cast<int>(devices.size()));
    auto cell = [this](int row, int column, const QString& text) {
        auto* item = gridDevices->item(row, column);
        if (!item) {
            item = new QTableWidgetItem;
            gridDevices->setItem(row, column, item);
        }
        item->setText(text);
        return item;
    };
    const bool identifying = !finder_->Finished();
    for (int row = 0; row < static_cast<int>(devices.size()); ++row) {
        const TFoundDevice& d = devices[row];
        cell(row, ColAddress, QString::fromStdString(d.Address));
        auto* mac = cell(row, ColMac, QString::fromStdString(d.Mac));
        mac->setToolTip(d.VendorPrefix ? T("The maker of the SQM-LE's network module") : QString());
        const bool meter = d.IsMeter;
        auto number = [meter](int32_t v) { return meter ? QString::number(v) : QString(); };
        cell(row, ColSerial, number(d.Identity.Serial));
        cell(row, ColProtocol, number(d.Identity.Protocol));
        cell(row, ColModel, number(d.Identity.Model));
        cell(row, ColFeature, number(d.Identity.Feature));
        const QString note = meter || (identifying && d.NotMeter.empty())
                                 ? QString()
                                 : T("Not an SQM-LE: ") + QString::fromStdString(d.NotMeter);
        cell(row, ColNote, note)->setToolTip(note);
    }
}

void TMeterFindDialog::btnUseClick() {
    const auto rows = gridDevices->selectionModel()->selectedRows();
    if (rows.isEmpty()) return;
    host_ = gridDevices->item(rows.front().row(), ColAddress)->text();
    port_ = options_.MeterPort;
    accept();
}

// The search starts with the window; centred on the owner itself (a site
// window inside the main window, not the main window).
void TMeterFindDialog::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (e->spontaneous()) return;
    if (QWidget* owner = parentWidget()) {
        QRect r = frameGeometry();
        r.moveCenter(owner->mapToGlobal(owner->rect().center()));
        if (const QScreen* s = owner->screen()) {
            const QRect a = s->availableGeometry();
            r.moveLeft(std::max(a.left(), std::min(r.left(), a.right() + 1 - r.width())));
            r.moveTop(std::max(a.top(), std::min(r.top(), a.bottom() + 1 - r.height())));
        }
        move(r.topLeft());
    }
    if (!searched_) btnFindClick();
}
