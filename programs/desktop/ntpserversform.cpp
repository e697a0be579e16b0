#include "programs/desktop/ntpserversform.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>
#include <optional>

#include "core/site/datamodule.h"
#include "gui/dialogs.h"
#include "core/station/i18n.h"
#include "core/station/myutils.h"
#include "core/station/lastresort.h"

namespace {
QString T(const char* s) { return QString::fromStdString(Tr(s)); }

QString Text(const fb::Value& v) {
    if (auto* s = std::get_if<std::string>(&v)) return QString::fromStdString(*s);
    if (auto* i = std::get_if<int64_t>(&v)) return QString::number(*i);
    if (auto* d = std::get_if<double>(&v)) return QString::number(*d, 'g', 15);
    return QString();
}

bool Same(const fb::Value& a, const fb::Value& b) {
    if (a.index() != b.index()) return false;
    if (auto* s = std::get_if<std::string>(&a)) return *s == std::get<std::string>(b);
    if (auto* i = std::get_if<int64_t>(&a)) return *i == std::get<int64_t>(b);
    if (auto* d = std::get_if<double>(&a)) return *d == std::get<double>(b);
    return std::holds_alternative<std::monostate>(a);
}

// Plain line editors: host names keep to the column's 100 characters,
// the two numbers to digits.
class TCellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const override {
        auto* e = new QLineEdit(parent);
        e->setFrame(false);
        if (index.column() == TNTPServersModel::Host) {
            e->setMaxLength(100);
        } else {
            e->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            e->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("\\d{0,9}")), e));
        }
        return e;
    }
    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        static_cast<QLineEdit*>(editor)->setText(index.data(Qt::EditRole).toString());
    }
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override {
        model->setData(index, static_cast<QLineEdit*>(editor)->text(), Qt::EditRole);
    }
};

class TWaitCursor {
public:
    TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
};
}  // namespace

// ---------------------------------------------------------------- model

TNTPServersModel::TNTPServersModel(TDataSet& ds, QObject* parent) : QAbstractTableModel(parent), ds_(ds) { Reload(); }

const char* TNTPServersModel::FieldName(int column) {
    switch (column) {
        case Host: return "NTP_HOST";
        case Timeout: return "NTP_TIMEOUT";
        default: return "NTP_ORDER";
    }
}

void TNTPServersModel::ReadCurrent() {
    if (!ds_.Active() || ds_.Eof()) return;
    const int r = ds_.RecNo();
    if (r >= static_cast<int>(rows_.size())) rows_.resize(r + 1);
    rows_[r] = Row{ds_.FieldValue("NTP_HOST"), ds_.FieldValue("NTP_TIMEOUT"), ds_.FieldValue("NTP_ORDER")};
}

void TNTPServersModel::Reset() {
    beginResetModel();
    if (!ds_.Active()) {
        rows_.clear();
    } else if (ds_.GetState() == TDataSet::State::Browse) {
        // Moving while browsing posts nothing.
        rows_.clear();
        const int current = ds_.RecNo();
        for (int i = 0; i < ds_.RecordCount(); ++i) {
            ds_.MoveTo(i);
            ReadCurrent();
        }
        ds_.MoveTo(current);
    } else {
        // Moving now would post the row: the others stay as last read.
        rows_.resize(ds_.RecordCount());
        ReadCurrent();
    }
    endResetModel();
}

void TNTPServersModel::Reload() {
    touched_ = false;
    Reset();
}

void TNTPServersModel::MoveTo(int row) {
    if (row == ds_.RecNo() && !ds_.Eof()) return;
    PostPending();
    ds_.MoveTo(row);
    emit headerDataChanged(Qt::Vertical, 0, std::max(rowCount() - 1, 0));
    emit currentMoved();
}

void TNTPServersModel::PostPending() {
    switch (ds_.GetState()) {
        case TDataSet::State::Insert:
            if (!touched_) {
                CancelPending();
                return;
            }
            [[fallthrough]];
        case TDataSet::State::Edit:
            ds_.Post();
            touched_ = false;
            ReadCurrent();
            emit headerDataChanged(Qt::Vertical, 0, std::max(rowCount() - 1, 0));
            break;
        default:
            break;
    }
}

void TNTPServersModel::CancelPending() {
    const auto state = ds_.GetState();
    if (state != TDataSet::State::Edit && state != TDataSet::State::Insert) return;
    ds_.Cancel();
    touched_ = false;
    Reset();
}

int TNTPServersModel::Append() {
    PostPending();
    ds_.Insert();
    touched_ = false;
    Reset();
    return ds_.RecNo();
}

void TNTPServersModel::Remove(int row) {
    if (row < 0 || row >= rowCount()) return;
    if (row != ds_.RecNo()) MoveTo(row);
    if (ds_.GetState() == TDataSet::State::Insert) {
        CancelPending();  // a new row is only dropped
        return;
    }
    ds_.Delete();
    touched_ = false;
    Reset();
}

int TNTPServersModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TNTPServersModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant TNTPServersModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const Row& r = rows_[index.row()];
    const fb::Value& v = index.column() == Host ? r.Host : index.column() == Timeout ? r.Timeout : r.Order;
    switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            return Text(v);
        case Qt::TextAlignmentRole:
            return index.column() == Host ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                                          : QVariant(Qt::AlignRight | Qt::AlignVCenter);
        default:
            return {};
    }
}

QVariant TNTPServersModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal) {
        switch (section) {
            case Host: return T("Host");
            case Timeout: return T("Connection timeout ms");
            case Order: return T("Order of preference");
            default: return {};
        }
    }
    // The row marker of a data grid: current, being edited, new.
    if (!ds_.Active() || section != ds_.RecNo()) return QString();
    switch (ds_.GetState()) {
        case TDataSet::State::Edit: return QStringLiteral("\u270E");
        case TDataSet::State::Insert: return QStringLiteral("*");
        default: return QStringLiteral("\u25B6");
    }
}

Qt::ItemFlags TNTPServersModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable;
}

bool TNTPServersModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !index.isValid() || index.row() >= rowCount()) return false;
    try {
        const QString text = value.toString().trimmed();
        fb::Value v;
        if (!text.isEmpty()) {
            if (index.column() == Host) {
                v = text.toStdString();
            } else {
                bool ok = false;
                const qlonglong n = text.toLongLong(&ok);
                if (!ok) return false;
                v = int64_t{n};
            }
        }
        MoveTo(index.row());
        const char* field = FieldName(index.column());
        // A cell left without a change leaves the row as it is.
        if (Same(ds_.FieldValue(field), v)) return true;
        ds_.SetField(field, std::move(v));
        touched_ = true;
        ReadCurrent();
        emit dataChanged(this->index(index.row(), 0), this->index(index.row(), ColumnCount - 1));
        emit headerDataChanged(Qt::Vertical, index.row(), index.row());
        return true;
    } catch (const TAbort&) {
        return false;
    } catch (const std::exception& e) {
        emit errorRaised(QString::fromStdString(e.what()));
        return false;
    }
}

// ---------------------------------------------------------------- dialog

TNTPServersForm::TNTPServersForm(TData& data, QWidget* parent)
    : QDialog(parent),
      data_(data),
      workers_(std::make_unique<TWorkers>()),
      jobs_(std::make_unique<TGuiJobs>(*workers_)) {
    setObjectName(QStringLiteral("NTPServersForm"));
    setWindowTitle(T("NTP Servers"));
    setSizeGripEnabled(true);

    placementFile_ = QString::fromStdString(ProgramPath("WinSetup/NTPServers.ini"));

    TDataSet& ds = data_.tbNTPServers;
    if (!data_.trKALO.Active()) ds.Close();
    ds.Open();
    model_ = new TNTPServersModel(ds, this);

    Grid = new QTableView(this);
    Grid->setObjectName(QStringLiteral("DBGrid1"));
    Grid->setModel(model_);
    Grid->setItemDelegate(new TCellDelegate(Grid));
    Grid->setSelectionMode(QAbstractItemView::SingleSelection);
    Grid->setSelectionBehavior(QAbstractItemView::SelectItems);
    Grid->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                          QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
    Grid->setAlternatingRowColors(true);
    Grid->horizontalHeader()->setStretchLastSection(true);
    Grid->horizontalHeader()->setHighlightSections(false);
    Grid->verticalHeader()->setDefaultSectionSize(Grid->fontMetrics().height() + 8);
    Grid->verticalHeader()->setMinimumWidth(Grid->fontMetrics().horizontalAdvance(QStringLiteral("WW")));
    Grid->verticalHeader()->setDefaultAlignment(Qt::AlignCenter);
    Grid->setColumnWidth(TNTPServersModel::Host, 250);
    Grid->setColumnWidth(TNTPServersModel::Timeout, Grid->horizontalHeader()->sectionSizeHint(TNTPServersModel::Timeout) + 16);

    btnAdd = new QPushButton(T("Add"), this);
    btnAdd->setObjectName(QStringLiteral("btnAdd"));
    btnAdd->setToolTip(QStringLiteral("Ins"));
    btnDelete = new QPushButton(T("Delete"), this);
    btnDelete->setObjectName(QStringLiteral("btnDelete"));
    btnDelete->setToolTip(QStringLiteral("Del"));
    btnCheckConnection =
        new QPushButton(style()->standardIcon(QStyle::SP_DriveNetIcon), T("Check connection"), this);
    btnCheckConnection->setObjectName(QStringLiteral("btnCheckConnection"));
    btnOK = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), T("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnCancel = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), T("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    // Return belongs to the grid's cell editor, not to a button.
    for (QPushButton* b : {btnAdd, btnDelete, btnCheckConnection, btnOK, btnCancel}) b->setAutoDefault(false);

    auto* rowButtons = new QHBoxLayout;
    rowButtons->addWidget(btnAdd);
    rowButtons->addWidget(btnDelete);
    rowButtons->addStretch(1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(btnCheckConnection);
    bottom->addStretch(1);
    bottom->addWidget(btnOK);
    bottom->addWidget(btnCancel);
    auto* main = new QVBoxLayout(this);
    main->addLayout(rowButtons);
    main->addWidget(Grid, 1);
    main->addLayout(bottom);

    connect(btnAdd, &QPushButton::clicked, this, &TNTPServersForm::btnAddClick);
    connect(btnDelete, &QPushButton::clicked, this, &TNTPServersForm::btnDeleteClick);
    connect(btnCheckConnection, &QPushButton::clicked, this, &TNTPServersForm::btnCheckConnectionClick);
    connect(btnOK, &QPushButton::clicked, this, &TNTPServersForm::btnOKClick);
    connect(btnCancel, &QPushButton::clicked, this, &TNTPServersForm::reject);
    auto* ins = new QShortcut(QKeySequence(Qt::Key_Insert), Grid, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
    connect(ins, &QShortcut::activated, this, &TNTPServersForm::btnAddClick);
    auto* del = new QShortcut(QKeySequence(Qt::Key_Delete), Grid, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
    connect(del, &QShortcut::activated, this, &TNTPServersForm::btnDeleteClick);
    connect(Grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current, const QModelIndex&) { GridRowChanged(current); });
    connect(model_, &QAbstractItemModel::modelReset, this, &TNTPServersForm::SyncGrid);
    connect(model_, &TNTPServersModel::currentMoved, this, &TNTPServersForm::SyncGrid);
    connect(model_, &TNTPServersModel::errorRaised, this, [this](const QString& m) { dialogs::Error(m, this); });

    resize(620, 340);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    RestorePlacement();
    SyncGrid();
}

TNTPServersForm::~TNTPServersForm() = default;

void TNTPServersForm::ShowNTPServers(TData& data, QWidget* parent) {
    dialogs::Guarded(
        parent,
        [&data, parent] {
            auto* form = new TNTPServersForm(data, parent);
            form->setAttribute(Qt::WA_DeleteOnClose);
            form->exec();
        },
        T("An error occurred: "));
}

void TNTPServersForm::SyncGrid() {
    // The grid's current cell follows the dataset's current row.
    const TDataSet& ds = data_.tbNTPServers;
    if (!ds.Active() || ds.Eof()) return;
    syncing_ = true;
    const int column = Grid->currentIndex().isValid() ? Grid->currentIndex().column() : 0;
    Grid->setCurrentIndex(model_->index(ds.RecNo(), column));
    syncing_ = false;
}

void TNTPServersForm::GridRowChanged(const QModelIndex& current) {
    if (syncing_ || !current.isValid()) return;
    // The refused row stays current, as in a data grid.
    if (!dialogs::Guarded(this, [&] { model_->MoveTo(current.row()); }))
        QMetaObject::invokeMethod(this, [this] { SyncGrid(); }, Qt::QueuedConnection);
}

void TNTPServersForm::CloseEditor() {
    // Taking the focus from an open cell editor makes it hand its text to the model.
    if (QWidget* f = QApplication::focusWidget(); f && f != Grid && Grid->isAncestorOf(f)) Grid->setFocus();
}

void TNTPServersForm::btnAddClick() {
    CloseEditor();
    dialogs::Guarded(this, [this] {
        const int row = model_->Append();
        Grid->setFocus();
        syncing_ = true;
        Grid->setCurrentIndex(model_->index(row, TNTPServersModel::Host));
        syncing_ = false;
        Grid->edit(model_->index(row, TNTPServersModel::Host));
    });
}

void TNTPServersForm::btnDeleteClick() {
    CloseEditor();
    const QModelIndex current = Grid->currentIndex();
    if (!current.isValid()) return;
    if (!dialogs::Confirm(T("Delete record?"), this)) return;
    dialogs::Guarded(this, [&] { model_->Remove(current.row()); });
}

void TNTPServersForm::btnCheckConnectionClick() {
    CloseEditor();
    if (pinging_) return;  // the one under way answers first
    dialogs::Guarded(this, [this] {
        TDataSet& ds = data_.tbNTPServers;
        if (!ds.Active() || ds.Eof()) return;
        const QString host = QString::fromStdString(Trim(ds.AsString("NTP_HOST")));
        const int timeout = static_cast<int>(ds.AsInteger("NTP_TIMEOUT"));
        struct TEcho {
            int bytes = 0;
            std::optional<std::string> error;
        };
        auto echo = std::make_shared<TEcho>();
        IPinger* pinger = &data_.Pinger();
        pinging_ = true;
        QApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
        // The echo waits out its timeout on the program's time lane, not here.
        jobs_->Run(
            TJobLane::Time,
            [echo, pinger, h = host.toStdString(), timeout] {
                try {
                    echo->bytes = pinger->Ping(h, timeout);
                } catch (const std::exception& e) {
                    echo->error = e.what();
                }
            },
            [this, echo, host] {
                pinging_ = false;
                QApplication::restoreOverrideCursor();
                if (echo->error)
                    dialogs::Error(QString::fromStdString(*echo->error), this);
                else if (echo->bytes == 0)
                    dialogs::Error(T("Host #host#  unreachable").replace(QStringLiteral("#host#"), host), this);
                else
                    dialogs::Information(
                        T("Connection with the server #host# done").replace(QStringLiteral("#host#"), host), this);
            });
    });
}

void TNTPServersForm::btnOKClick() {
    CloseEditor();
    try {
        if (data_.trKALO.Active()) {
            model_->PostPending();
            data_.trKALO.CommitRetaining();
        }
    } catch (const std::exception& e) {
        // The refused row is not stored; what was posted before it waits
        // in the transaction for the next OK or Cancel.
        try {
            model_->CancelPending();
        } catch (...) {
            LastResortLine("dropping the refused time server");  // the refusal's box comes next
        }
        dialogs::Error(T("An error occurred: ") + QString::fromStdString(e.what()), this);
        done(QDialog::Rejected);
        return;
    }
    accept();
}

void TNTPServersForm::reject() {
    CloseEditor();
    if (data_.trKALO.Active()) {
        if (!dialogs::Confirm(T("Cancel any changes?"), this)) return;
        TDataSet& ds = data_.tbNTPServers;
        dialogs::Guarded(this, [&] {
            model_->CancelPending();
            data_.trKALO.RollbackRetaining();
            // The dataset still holds the rows posted in the dialog.
            ds.Close();
            ds.Open();
        });
    }
    QDialog::reject();
}

void TNTPServersForm::done(int result) {
    SavePlacement();
    QDialog::done(result);
}

void TNTPServersForm::RestorePlacement() {
    if (!QFileInfo::exists(placementFile_)) return;
    QSettings ini(placementFile_, QSettings::IniFormat);
    ini.beginGroup(QStringLiteral("Placement"));
    const QRect saved(ini.value(QStringLiteral("Left"), x()).toInt(), ini.value(QStringLiteral("Top"), y()).toInt(),
                      ini.value(QStringLiteral("Width"), width()).toInt(),
                      ini.value(QStringLiteral("Height"), height()).toInt());
    ini.endGroup();
    QRect r = saved;
    r.setSize(r.size().expandedTo(minimumSizeHint()));
    // A window saved on a screen that is gone comes back where it can be seen.
    if (QScreen* screen = QGuiApplication::screenAt(r.center()); !screen) {
        if (QScreen* primary = QGuiApplication::primaryScreen()) r.moveCenter(primary->availableGeometry().center());
    }
    resize(r.size());
    move(r.topLeft());
    ini.beginGroup(QStringLiteral("Grid"));
    for (int c = 0; c < TNTPServersModel::ColumnCount; ++c) {
        const int w = ini.value(QString::fromLatin1(TNTPServersModel::FieldName(c)), 0).toInt();
        if (w > 0) Grid->setColumnWidth(c, w);
    }
    ini.endGroup();
}

void TNTPServersForm::SavePlacement() {
    QDir().mkpath(QFileInfo(placementFile_).absolutePath());
    QSettings ini(placementFile_, QSettings::IniFormat);
    // The frame's corner with the inner size: what move() and resize() take back.
    ini.beginGroup(QStringLiteral("Placement"));
    ini.setValue(QStringLiteral("Left"), x());
    ini.setValue(QStringLiteral("Top"), y());
    ini.setValue(QStringLiteral("Width"), width());
    ini.setValue(QStringLiteral("Height"), height());
    ini.endGroup();
    ini.beginGroup(QStringLiteral("Grid"));
    for (int c = 0; c < TNTPServersModel::ColumnCount; ++c)
        ini.setValue(QString::fromLatin1(TNTPServersModel::FieldName(c)), Grid->columnWidth(c));
    ini.endGroup();
}
