#include "programs/desktop/sitelistform.h"

#include <QApplication>
#include <QFont>
#include <algorithm>
#include <optional>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "gui/dialogs.h"
#include "core/station/fbdb.h"
#include "gui/guiports.h"
#include "core/station/i18n.h"
#include "core/site/siteactions.h"
#include "programs/desktop/siteform.h"

namespace {
QString T(const char* s) { return QString::fromStdString(Tr(s)); }
QString Q(const std::string& s) { return QString::fromStdString(s); }

// A busy cursor, and a progress box once the work lasts; its events run
// at each step, so the other sites' windows go on meanwhile.
class TBusy {
public:
    TBusy(QWidget* parent, const QString& text, bool mayStop)
        : box_(text, mayStop ? T("Cancel") : QString(), 0, kSteps, parent) {
        box_.setWindowModality(Qt::WindowModal);
        box_.setMinimumDuration(700);
        box_.setAutoReset(false);
        if (!mayStop) box_.setCancelButton(nullptr);
        QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~TBusy() { QApplication::restoreOverrideCursor(); }
    TSiteProgress Progress() {
        return [this](int64_t done, int64_t total) {
            box_.setValue(total > 0 ? static_cast<int>(std::min<int64_t>(done, total) * kSteps / total) : 0);
            QCoreApplication::processEvents();
            return !box_.wasCanceled();
        };
    }

private:
    static constexpr int kSteps = 1000;
    QProgressDialog box_;
};
}  // namespace

void TSiteListModel::SetRows(std::vector<TSiteListRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    current_ = -1;
    endResetModel();
}

void TSiteListModel::RemoveRow(int row) {
    if (row < 0 || row >= rowCount()) return;
    beginRemoveRows({}, row, row);
    rows_.erase(rows_.begin() + row);
    if (current_ == row) current_ = -1;
    else if (current_ > row) --current_;
    endRemoveRows();
}

const TSiteListRow* TSiteListModel::Row(int row) const {
    return row >= 0 && row < rowCount() ? &rows_[static_cast<size_t>(row)] : nullptr;
}

void TSiteListModel::SetCurrentRow(int row) {
    if (row == current_) return;
    const int old = current_;
    current_ = row;
    for (int r : {old, row})
        if (r >= 0 && r < rowCount()) emit dataChanged(index(r, 0), index(r, ColumnCount - 1), {Qt::FontRole});
}

int TSiteListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TSiteListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant TSiteListModel::data(const QModelIndex& index, int role) const {
    const TSiteListRow* r = Row(index.row());
    if (!r) return {};
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
            case Name: return Q(r->Name);
            case Code: return Q(r->Code);
            case Host: return Q(r->Host);
        }
    }
    if (role == Qt::FontRole) {
        QFont f;
        f.setBold(index.row() == current_);
        return f;
    }
    return {};
}

QVariant TSiteListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
        case Name: return T("Name");
        case Code: return T("Code");
        case Host: return T("Host");
    }
    return {};
}

TZSiteForm::TZSiteForm(fb::Database& db, QWidget* parent, fb::Transaction* retained)
    // Read committed, not a snapshot: readings a running site stores while
    // the list is open must go with the site, or the cascade fails on them.
    : QDialog(parent), tr_(std::make_unique<fb::Transaction>(db, fb::Isolation::ReadCommitted)), retained_(retained) {
    setObjectName(QStringLiteral("ZSiteForm"));
    setWindowTitle(T("Site list"));
    resize(560, 340);

    Model = new TSiteListModel(this);
    RxDBGrid1 = new QTableView(this);
    RxDBGrid1->setModel(Model);
    RxDBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    RxDBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    RxDBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    RxDBGrid1->verticalHeader()->hide();
    RxDBGrid1->horizontalHeader()->setStretchLastSection(true);
    RxDBGrid1->setColumnWidth(TSiteListModel::Name, 240);
    RxDBGrid1->setColumnWidth(TSiteListModel::Code, 90);
    connect(RxDBGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { Model->SetCurrentRow(current.isValid() ? current.row() : -1); });
    connect(RxDBGrid1, &QAbstractItemView::doubleClicked, this, [this] { RxDBGrid1DblClick(); });

    btnOK = new QPushButton(T("OK"), this);
    BitBtn2 = new QPushButton(T("Delete station"), this);
    btnCancel = new QPushButton(T("Cancel"), this);
    btnClose = new QPushButton(T("Close"), this);
    btnOK->setDefault(true);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(BitBtn2, &QPushButton::clicked, this, [this] { BitBtn2Click(); });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    for (QPushButton* b : {btnOK, BitBtn2, btnCancel, btnClose}) buttons->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(RxDBGrid1);
    layout->addLayout(buttons);

    SetMode(Mode::Choose);
    OpenList();
}

TZSiteForm::~TZSiteForm() = default;

void TZSiteForm::OpenList() {
    Model->SetRows(ReadSiteList(*tr_));
    if (Model->rowCount() > 0) RxDBGrid1->setCurrentIndex(Model->index(0, 0));
}

void TZSiteForm::SetMode(Mode mode) {
    const bool choose = mode == Mode::Choose;
    btnOK->setVisible(choose);
    btnCancel->setVisible(choose);
    BitBtn2->setVisible(!choose);
    btnClose->setVisible(!choose);
    (choose ? btnOK : btnClose)->setDefault(true);
}

int TZSiteForm::CurrentRow() const {
    const QModelIndex i = RxDBGrid1->currentIndex();
    return i.isValid() ? i.row() : -1;
}

void TZSiteForm::RxDBGrid1DblClick() { accept(); }

void TZSiteForm::FormClose(int result) {
    const TSiteListRow* row = Model->Row(CurrentRow());
    selectedSiteId_ = result == QDialog::Accepted && row ? row->Id : 0;
}

void TZSiteForm::done(int result) {
    FormClose(result);
    QDialog::done(result);
}

void TZSiteForm::BitBtn2Click() {
    const int current = CurrentRow();
    const TSiteListRow* row = Model->Row(current);
    if (!row) return;
    const int siteId = row->Id;
    // The busy boxes come and go with the steps: one while deleting, one
    // while clearing the file.
    std::optional<TBusy> busy;
    TSiteActions::TRemovalSteps steps;
    // A window may close by itself while the boxes are open.
    QList<QPointer<TSiteForm>> windows;
    if (siteWindows_)
        for (TSiteForm* w : siteWindows_(siteId)) windows.append(w);
    auto eachWindow = [&windows](void (TSiteForm::*act)()) {
        for (const QPointer<TSiteForm>& w : windows)
            if (w) (w->*act)();
    };
    steps.WindowOpen = !windows.isEmpty();
    steps.Holding = [&] { eachWindow(&TSiteForm::HoldForDeletion); };
    steps.Kept = [&] { eachWindow(&TSiteForm::ReleaseAfterDeletion); };
    steps.Deleting = [&](int64_t done, int64_t total) {
        if (!busy) busy.emplace(this, T("Deleting the site and its readings..."), true);
        return busy->Progress()(done, total);
    };
    steps.Deleted = [&] {
        eachWindow(&TSiteForm::CloseForDeletedSite);  // before anything else can let it tick
        busy.reset();
        Model->RemoveRow(current);
        if (Model->rowCount() > 0)
            RxDBGrid1->setCurrentIndex(Model->index(std::min(current, Model->rowCount() - 1), 0));
        // The data module's transaction, open (and only ever retained) since
        // the start, would keep every deleted version for itself. It holds no
        // pending work while this modal dialog runs; its datasets keep their rows.
        if (retained_ && retained_->Active()) {
            retained_->Commit();
            retained_->Start();
        }
        // The deleted readings' pages are cleared now, while the user waits
        // anyway, not by whoever reads those pages next.
        busy.emplace(this, T("Clearing the deleted readings from the database file..."), false);
    };
    steps.Collecting = [&](int64_t done, int64_t total) { return busy->Progress()(done, total); };
    TGuiPrompt prompt(this);
    dialogs::Guarded(this, [&] {
        try {
            TSiteActions::RemoveSite(*tr_, siteId, prompt, steps);
        } catch (...) {
            busy.reset();  // the error box must not sit under a progress box
            throw;
        }
    });
}
