#include "programs/desktop/settingsform.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QVBoxLayout>

#include "gui/buttonframe.h"
#include "core/site/datamodule.h"
#include "gui/dialogs.h"
#include "gui/fieldbinding.h"
#include "core/station/i18n.h"

namespace {
QString T(const char* s) { return QString::fromStdString(Tr(s)); }

QFrame* Panel(QWidget* parent) {
    auto* f = new QFrame(parent);
    f->setFrameShape(QFrame::StyledPanel);
    f->setFrameShadow(QFrame::Sunken);
    return f;
}
}  // namespace

TSettingsForm::TSettingsForm(TData& data, QWidget* parent) : QDialog(parent), data_(data) {
    setObjectName(QStringLiteral("SettingsForm"));
    setWindowTitle(T("Settings"));

    lblDBVersion = new QLabel(T("Database version"), this);
    txtDBVersion = new QLabel(this);
    txtDBVersion->setObjectName(QStringLiteral("txtDBVersion"));
    QFont bold = txtDBVersion->font();
    bold.setBold(true);
    txtDBVersion->setFont(bold);
    txtDBVersion->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* versionRow = new QHBoxLayout;
    versionRow->addWidget(lblDBVersion);
    versionRow->addSpacing(8);
    versionRow->addWidget(txtDBVersion);
    versionRow->addStretch(1);

    QFrame* timePanel = BuildTimePanel();
    QFrame* uploadPanel = BuildUploadPanel();

    ButtonFrame = new TButtonFrame(this);

    auto* main = new QVBoxLayout(this);
    main->addLayout(versionRow);
    main->addWidget(timePanel);
    main->addWidget(uploadPanel);
    main->addSpacing(6);
    main->addWidget(ButtonFrame);
    main->setSizeConstraint(QLayout::SetFixedSize);

    TDataSet& ds = data_.tbSettings;
    binder_ = std::make_unique<TFieldBinder>(ds);
    binder_->BindLabel(txtDBVersion, "SET_DBVERSION");
    binder_->BindCheckBox(cbUseInternetTime, "SET_USEINTERTETTIME");
    binder_->BindCheckBox(cbSyncClock, "SET_SYNCLOCK");
    binder_->BindLineEdit(edSyncFreq, "SET_SYNCFREQ", TFieldBinder::Kind::Integer, {.MaxLength = 9});
    binder_->BindCheckBox(cbUploadData, "SET_UPLOADDATA");
    binder_->BindRadioGroup(UploadModeGroup, "SET_UPLOADMODE");
    ButtonFrame->SetDataSet(&ds);
    ButtonFrame->btnOK->setDefault(true);

    // toggled also follows the row when Cancel update reloads the boxes.
    connect(cbUseInternetTime, &QCheckBox::toggled, this, &TSettingsForm::cbUseInternetTimeToggled);
    connect(cbUploadData, &QCheckBox::toggled, this, &TSettingsForm::cbUploadDataToggled);
    cbUseInternetTimeToggled(cbUseInternetTime->isChecked());
    cbUploadDataToggled(cbUploadData->isChecked());

    connect(ButtonFrame, &TButtonFrame::okClicked, this, &QDialog::accept);
    connect(ButtonFrame, &TButtonFrame::cancelClicked, this, &TSettingsForm::reject);

    adjustSize();
    if (QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

// Internet time, and under it the clock's setting and how often.
QFrame* TSettingsForm::BuildTimePanel() {
    QFrame* timePanel = Panel(this);
    cbUseInternetTime = new QCheckBox(T("Use Internet time"), timePanel);
    cbUseInternetTime->setObjectName(QStringLiteral("cbUseInternetTime"));
    cbSyncClock = new QCheckBox(T("Sync PC clock"), timePanel);
    cbSyncClock->setObjectName(QStringLiteral("cbSyncClock"));
    lblSyncFreq = new QLabel(T("During the readings synchronizes every (minutes)"), timePanel);
    edSyncFreq = new QLineEdit(timePanel);
    edSyncFreq->setObjectName(QStringLiteral("edSyncFreq"));
    edSyncFreq->setAlignment(Qt::AlignRight);
    edSyncFreq->setFixedWidth(64);
    lblSyncFreq->setBuddy(edSyncFreq);
    auto* freqRow = new QHBoxLayout;
    freqRow->addWidget(lblSyncFreq);
    freqRow->addWidget(edSyncFreq);
    freqRow->addStretch(1);
    auto* timeGrid = new QGridLayout(timePanel);
    timeGrid->setColumnMinimumWidth(0, 20);  // the dependent settings sit under their switch
    timeGrid->addWidget(cbUseInternetTime, 0, 0, 1, 2);
    timeGrid->addWidget(cbSyncClock, 1, 1);
    timeGrid->addLayout(freqRow, 2, 1);
    timeGrid->setColumnStretch(1, 1);
    return timePanel;
}

// Uploading, and under it its mode.
QFrame* TSettingsForm::BuildUploadPanel() {
    QFrame* uploadPanel = Panel(this);
    cbUploadData = new QCheckBox(T("Upload data on the Internet"), uploadPanel);
    cbUploadData->setObjectName(QStringLiteral("cbUploadData"));
    rgUploadMode = new QGroupBox(T("Upload mode"), uploadPanel);
    rgUploadMode->setObjectName(QStringLiteral("rgUploadMode"));
    rbAutomatic = new QRadioButton(T("Automatic"), rgUploadMode);
    rbManual = new QRadioButton(T("Manual"), rgUploadMode);
    UploadModeGroup = new QButtonGroup(this);
    UploadModeGroup->addButton(rbAutomatic, 0);
    UploadModeGroup->addButton(rbManual, 1);
    auto* modeRow = new QHBoxLayout(rgUploadMode);
    modeRow->addWidget(rbAutomatic);
    modeRow->addSpacing(16);
    modeRow->addWidget(rbManual);
    modeRow->addStretch(1);
    // Hiding the choice must not make the fixed-size dialog jump.
    QSizePolicy keep = rgUploadMode->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    rgUploadMode->setSizePolicy(keep);
    auto* uploadGrid = new QGridLayout(uploadPanel);
    uploadGrid->setColumnMinimumWidth(0, 20);
    uploadGrid->addWidget(cbUploadData, 0, 0, 1, 2);
    uploadGrid->addWidget(rgUploadMode, 1, 1);
    return uploadPanel;
}

TSettingsForm::~TSettingsForm() = default;

void TSettingsForm::cbUseInternetTimeToggled(bool checked) {
    cbSyncClock->setEnabled(checked);
    lblSyncFreq->setEnabled(checked);
    edSyncFreq->setEnabled(checked);
}

void TSettingsForm::cbUploadDataToggled(bool checked) { rgUploadMode->setVisible(checked); }

void TSettingsForm::reject() {
    const auto state = data_.tbSettings.GetState();
    if (state == TDataSet::State::Edit || state == TDataSet::State::Insert) ButtonFrame->CancelUpdate();
    QDialog::reject();
}

void TSettingsForm::ShowSettings(TData& data, QWidget* parent) {
    dialogs::Guarded(
        parent,
        [&data, parent] {
            data.tbSettings.Close();
            data.tbSettings.Open();
            TSettingsForm form(data, parent);
            form.exec();
        },
        T("An error occurred: "));
}
