#include "gui/buttonframe.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QStyle>

#include "core/station/dataset.h"
#include "gui/dialogs.h"
#include "gui/fieldbinding.h"
#include "core/station/i18n.h"
#include "gui/translatable.h"

namespace {
// The style has no picture for "edit": a small pencil.
QIcon PencilIcon() {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(8, 8);
    p.rotate(45);
    p.setPen(QPen(QColor(60, 60, 60), 1));
    p.setBrush(QColor(240, 190, 60));
    p.drawRect(QRectF(-2.5, -7, 5, 10));          // the body
    p.setBrush(QColor(230, 120, 120));
    p.drawRect(QRectF(-2.5, -7.5, 5, 2.5));       // the eraser
    p.setBrush(QColor(245, 225, 190));
    const QPointF tip[3] = {{-2.5, 3}, {2.5, 3}, {0, 7.5}};
    p.drawPolygon(tip, 3);
    return QIcon(pm);
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* text, const QIcon& icon) {
    auto* b = Translatable(new QPushButton(icon, QString(), parent), text);
    b->setObjectName(QString::fromLatin1(name));
    // Return in a field of the window must not fire "Edit data" by accident.
    b->setAutoDefault(false);
    return b;
}
}  // namespace

TButtonFrame::TButtonFrame(QWidget* parent) : QWidget(parent), alive_(std::make_shared<int>(0)) {
    setObjectName(QStringLiteral("ButtonFrame"));
    QStyle* st = style();
    btnEdit = MakeButton(this, "btnEdit", N_("Edit data"), PencilIcon());
    btnSave = MakeButton(this, "btnSave", N_("Save changes"), st->standardIcon(QStyle::SP_DialogSaveButton));
    btnCancelUpdate =
        MakeButton(this, "btnCancelUpdate", N_("Cancel update"), st->standardIcon(QStyle::SP_DialogDiscardButton));
    btnOK = MakeButton(this, "btnOK", N_("OK"), st->standardIcon(QStyle::SP_DialogOkButton));
    btnCancel = MakeButton(this, "btnCancel", N_("Cancel"), st->standardIcon(QStyle::SP_DialogCancelButton));

    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(0, 0, 0, 0);
    top_ = new QHBoxLayout;
    bottom_ = new QHBoxLayout;
    rows->addLayout(top_);
    rows->addLayout(bottom_);
    top_->addWidget(btnEdit);
    top_->addWidget(btnSave);
    top_->addWidget(btnCancelUpdate);
    top_->addStretch(1);
    top_->addSpacing(12);
    top_->addWidget(btnOK);
    top_->addWidget(btnCancel);
    bottom_->addStretch(1);

    connect(btnEdit, &QPushButton::clicked, this, &TButtonFrame::btnEditClick);
    connect(btnSave, &QPushButton::clicked, this, &TButtonFrame::btnSaveClick);
    connect(btnCancelUpdate, &QPushButton::clicked, this, &TButtonFrame::btnCancelUpdateClick);
    connect(btnOK, &QPushButton::clicked, this, &TButtonFrame::btnOKClick);
    connect(btnCancel, &QPushButton::clicked, this, &TButtonFrame::btnCancelClick);
    SetButtons();
}

void TButtonFrame::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    Arrange();
}

// A new language or font changes the buttons' hints: each asks its parent to lay out anew.
bool TButtonFrame::event(QEvent* e) {
    const bool done = QWidget::event(e);
    if (e->type() == QEvent::LayoutRequest) Arrange();
    return done;
}

void TButtonFrame::Arrange() {
    int needed = 12 + top_->contentsMargins().left() + top_->contentsMargins().right();
    int shown = 0;
    for (QPushButton* b : {btnEdit, btnSave, btnCancelUpdate, btnOK, btnCancel}) {
        if (b->isHidden()) continue;
        needed += b->sizeHint().width();
        ++shown;
    }
    needed += std::max(0, shown - 1) * std::max(0, top_->spacing());
    const bool two = width() < needed;
    if (two == twoRows_) return;
    twoRows_ = two;
    for (QPushButton* b : {btnOK, btnCancel}) {
        top_->removeWidget(b);
        bottom_->removeWidget(b);
        (two ? bottom_ : top_)->addWidget(b);
    }
}

void TButtonFrame::SetDataSet(TDataSet* ds) {
    ds_ = ds;
    if (ds_) ChainEvent(ds_->OnStateChange, alive_, [this, ds] {
            if (ds_ == ds) SetButtons();
        });
    SetButtons();
}

bool TButtonFrame::Editing() const {
    return ds_ && (ds_->GetState() == TDataSet::State::Edit || ds_->GetState() == TDataSet::State::Insert);
}

void TButtonFrame::SetButtons() {
    isOpen_ = ds_ && ds_->Active();
    isEdit_ = ds_ && ds_->GetState() == TDataSet::State::Edit;
    isInsert_ = ds_ && ds_->GetState() == TDataSet::State::Insert;
    btnEdit->setEnabled(isOpen_ && !isEdit_ && !isInsert_);
    btnSave->setEnabled(isEdit_ || isInsert_);
    btnCancelUpdate->setEnabled(isEdit_ || isInsert_);
}

void TButtonFrame::SetOkCancelVisible(bool visible) {
    btnOK->setVisible(visible);
    btnCancel->setVisible(visible);
    Arrange();
}

bool TButtonFrame::Save() {
    if (!ds_) return false;
    const bool saved = dialogs::Guarded(window(), [this] {
        ds_->Post();
        ds_->Tr().CommitRetaining();
    });
    SetButtons();
    return saved;
}

void TButtonFrame::CancelUpdate() {
    if (!ds_) return;
    dialogs::Guarded(window(), [this] {
        ds_->Cancel();
        ds_->Tr().RollbackRetaining();
    });
    SetButtons();
}

void TButtonFrame::btnEditClick() {
    if (!ds_) return;
    dialogs::Guarded(window(), [this] { ds_->Edit(); });
    SetButtons();
}

void TButtonFrame::btnSaveClick() { Save(); }

void TButtonFrame::btnCancelUpdateClick() { CancelUpdate(); }

void TButtonFrame::btnOKClick() {
    if (Editing() && !Save()) return;
    SetButtons();
    emit okClicked();
}

void TButtonFrame::btnCancelClick() {
    if (Editing()) CancelUpdate();
    SetButtons();
    emit cancelClicked();
}
