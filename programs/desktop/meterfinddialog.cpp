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

#include "core/site/jobrunner.h"
#include "core/station/i18n.h"
#include "gui/guiports.h"

namespace {

QString T(const char* s) { return QString::fromStdString(Tr(s)); }

// A translated text with one or two "%d" in it.
QString Tf(const char* s, int a, int b = 0) {
    char text[512];
    std::snprintf(text, sizeof text, Tr(s).c_str(), a, b);
    return QString::fromStdString(text);
}

enum Column { ColAddress, ColMac, ColSerial, ColProtocol, ColModel, ColFeature, ColNote, ColumnCount };

// Each job waits this long at most for the network, so that a reply shows
// soon and a closed window's last job ends soon.
constexpr int kStepWaitMs = 200;

}  // namespace

// Touched by one job at a time, and by the window only between its jobs.
struct TMeterFindDialog::TSearch {
    explicit TSearch(const TFinderOptions& options) : finder(options) {}
    TMeterFinder finder;
    bool started = false;
    bool going = true;
    std::string failed;  // why it could not start
};

TMeterFindDialog::TMeterFindDialog(TFinderOptions options, TWorkers& workers, QWidget* parent)
    : QDialog(parent), options_(std::move(options)), jobs_(std::make_unique<TGuiJobs>(workers)) {
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

// A job under way ends on its own within a step, unheard.
TMeterFindDialog::~TMeterFindDialog() = default;

void TMeterFindDialog::btnFindClick() {
    gridDevices->setRowCount(0);
    btnUse->setEnabled(false);
    search_ = std::make_shared<TSearch>(options_);
    searched_ = true;
    searching_ = true;
    btnFind->setEnabled(false);
    pbSearch->show();
    lblStatus->setText(T("Searching the local network..."));
    StepSearch(search_);
}

void TMeterFindDialog::StepSearch(std::shared_ptr<TSearch> search) {
    jobs_->Run(
        TJobLane::Meter,
        [search] {
            try {
                if (!search->started) {
                    search->started = true;
                    search->finder.Start();
                }
                search->going = search->finder.Step(kStepWaitMs);
            } catch (const std::exception& e) {
                search->failed = e.what();
                search->going = false;
            }
        },
        [this, search] { SearchStepped(search); });
}

void TMeterFindDialog::SearchStepped(const std::shared_ptr<TSearch>& search) {
    if (search != search_) return;  // replaced by "Search again"
    if (!search->failed.empty()) {
        search_.reset();
        searching_ = false;
        pbSearch->hide();
        btnFind->setEnabled(true);
        lblStatus->setText(T("The search could not start: ") + QString::fromStdString(search->failed));
        return;
    }
    const std::vector<TFoundDevice> devices = search->finder.Devices();
    ShowDevices(devices, search->going);
    if (search->going) {
        StepSearch(search);
        return;
    }
    search_.reset();
    SearchEnded(devices);
}

void TMeterFindDialog::SearchEnded(const std::vector<TFoundDevice>& devices) {
    searching_ = false;
    pbSearch->hide();
    btnFind->setEnabled(true);
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
}

void TMeterFindDialog::ShowDevices(const std::vector<TFoundDevice>& devices, bool identifying) {
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
