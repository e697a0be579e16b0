#include "programs/desktop/sitepage_network.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/site/datamodule.h"
#include "core/station/i18n.h"
#include "core/station/myutils.h"
#include "core/site/netsync.h"
#include "core/site/waitingupload.h"
#include "gui/flowlayout.h"
#include "gui/querycontrols.h"
#include "core/site/readingcounts.h"
#include "core/site/siteactions.h"
#include "core/site/acquisition.h"
#include "core/station/dataset.h"
#include "gui/dialogs.h"
#include "gui/fieldbinding.h"
#include "gui/semaforo.h"
#include "gui/translatable.h"

// The upload's panel on the page: the bar and its two lines.
class TPanelProgress : public IUploadProgress {
public:
    explicit TPanelProgress(TNetworkPage& p) : p_(p) {}
    void Begin(int total) override {
        p_.pbUpload_->setRange(0, std::max(total, 1));
        p_.pbUpload_->setValue(0);
        p_.lblProgress1_->setText(QString::fromStdString(UploadProgressStartText(total)));
        p_.lblProgress2_->clear();
        p_.pnlProgress_->show();
    }
    void Step(int done, int total, int sent) override {
        p_.pbUpload_->setValue(done);
        p_.lblProgress1_->setText(QString::fromStdString(UploadProgressDoneText(done, total)));
        p_.lblProgress2_->setText(QString::fromStdString(UploadProgressSentText(sent)));
    }
    void End() override {
        p_.pbUpload_->setValue(0);
        p_.pnlProgress_->hide();
    }

private:
    TNetworkPage& p_;
};


TNetworkPage::TNetworkPage(ISitePageContext& context) : ctx_(context) {
    QWidget* q = ctx_.Window();
    page_ = new QWidget;
    page_->setObjectName(QStringLiteral("tsNetwork"));
    auto* form = new QFormLayout;
    auto* code = SitePageEdit("edCode", 110);
    code->setEnabled(false);
    ctx_.AddEditor("SIT_CODE", code);
    form->addRow(TrLabel(N_("Code")), code);
    auto* autoUpload = Translatable(new QCheckBox, N_("Enable automatic uploading for this site"));
    autoUpload->setObjectName(QStringLiteral("cbAutoUpload"));
    ctx_.AddEditor("SIT_AUTOUPLOAD", autoUpload);
    form->addRow(autoUpload);
    auto* note = Translatable(new QLabel, N_("(also check the global setting in the software general settings)"));
    note->setStyleSheet(QStringLiteral("color: #555"));
    note->setWordWrap(true);
    form->addRow(note);

    auto button = [q](const char* caption, const char* name, auto handler) {
        return SitePageButton(q, caption, name, handler);
    };
    // Side by side, or under each other in a narrow (tiled) window.
    auto* buttons = new TFlowLayout;
    buttons->addWidget(button(N_("Set credentials"), "BitBtn2", [this] { SetCredentials(); }));
    buttons->addWidget(button(N_("Check connection"), "BitBtn3", [this] { CheckConnection(); }));
    buttons->addWidget(button(N_("Send waiting records"), "BitBtn6", [this] { SendWaitingRecords(); }));

    gbCredentials_ = Translatable(new QGroupBox, N_("Credentials file situation"));
    gbCredentials_->setObjectName(QStringLiteral("gbCredentials"));
    auto* situation = new QFormLayout;
    lblCrdStatus_ = SitePageValue("lblCrdStatus");
    lblCrdStatus_->setStyleSheet(QStringLiteral("font-weight: bold"));
    lblUploading_ = SitePageValue("lblUploading");
    lblDownloading_ = SitePageValue("lblDownloading");
    lblNumReadings_ = SitePageValue("lblNumReadings");
    lblNewReadings_ = SitePageValue("lblNewReadings");
    lblModReadings_ = SitePageValue("lblModReadings");
    situation->addRow(TrLabel(N_("Status")), lblCrdStatus_);
    situation->addRow(TrLabel(N_("Readings uploading")), lblUploading_);
    situation->addRow(TrLabel(N_("Readings downloading")), lblDownloading_);
    situation->addRow(TrLabel(N_("Site number of readings")), lblNumReadings_);
    situation->addRow(TrLabel(N_("New readings to upload")), lblNewReadings_);
    situation->addRow(TrLabel(N_("Modified readings to update")), lblModReadings_);
    light_ = new TSemaforo;
    light_->setObjectName(QStringLiteral("Semaforo2"));
    auto* groupLayout = new QHBoxLayout(gbCredentials_);
    groupLayout->addLayout(situation, 1);
    groupLayout->addWidget(light_, 0, Qt::AlignTop);

    pnlProgress_ = new QWidget;
    pnlProgress_->setObjectName(QStringLiteral("pnlProgress"));
    auto* progress = new QVBoxLayout(pnlProgress_);
    pbUpload_ = new QProgressBar;
    pbUpload_->setObjectName(QStringLiteral("pbUpload"));
    lblProgress1_ = new QLabel;
    lblProgress1_->setObjectName(QStringLiteral("lblProgress1"));
    lblProgress2_ = new QLabel;
    lblProgress2_->setObjectName(QStringLiteral("lblProgress2"));
    progress->addWidget(pbUpload_);
    progress->addWidget(lblProgress1_);
    progress->addWidget(lblProgress2_);
    // Stops the sending after the reading under way; what went up stays flagged.
    auto* stop = button(N_("Cancel"), "btnCancelUpload", [this] { CancelUpload(); });
    progress->addWidget(stop, 0, Qt::AlignLeft);
    pnlProgress_->hide();

    auto* layout = new QVBoxLayout(page_);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(gbCredentials_);
    layout->addWidget(pnlProgress_);
    layout->addStretch();
    tab_ = SitePageScrolled(page_);
}

void TNetworkPage::Bind(TFieldBinder& binder) {
    binder.BindLineEdit(static_cast<QLineEdit*>(ctx_.Editor("SIT_CODE")), "SIT_CODE", TFieldBinder::Kind::Text,
                        {.ReadOnly = true});
    binder.BindCheckBox(static_cast<QCheckBox*>(ctx_.Editor("SIT_AUTOUPLOAD")), "SIT_AUTOUPLOAD");
}

void TNetworkPage::ShowSite(const TSiteRow&, double) {
    if (ctx_.IsCurrent(*this)) ShowCredentials();
}

void TNetworkPage::ShowCredentials() {
    const std::string code = ctx_.SiteCode();
    if (code.empty()) {
        gbCredentials_->hide();
        return;
    }
    using S = TSiteActions::TCredentialsStatus;
    const TSiteActions::TCredentialsState state = TSiteActions::CredentialsState(code);
    lblUploading_->setText(QStringLiteral("---"));
    lblDownloading_->setText(QStringLiteral("---"));
    if (state.Status == S::Missing) {
        SetTrText(lblCrdStatus_, N_("File missing"));
        light_->ShowRed();
    } else if (state.Status == S::Invalid) {
        lblCrdStatus_->setText(QString::fromStdString(state.Error));
        light_->ShowYellow();
    } else {
        SetTrText(lblCrdStatus_, N_("Regular"));
        SetTrText(lblUploading_, state.Upload ? N_("Enabled") : N_("Disabled"));
        SetTrText(lblDownloading_, state.Download ? N_("Enabled") : N_("Disabled"));
        light_->ShowGreen();
    }
    ShowReadingCounts();
    gbCredentials_->show();
}

void TNetworkPage::ShowReadingCounts() {
    const TReadingCounts c = ReadReadingCounts(ctx_.Readings(), ctx_.SiteId());
    lblNumReadings_->setText(QString::number(c.Total));
    lblNewReadings_->setText(QString::number(c.New));
    lblModReadings_->setText(QString::number(c.Modified));
}

void TNetworkPage::SetCredentials() {
    dialogs::Guarded(ctx_.Window(), [this] {
        const std::string current = ctx_.SiteCode();
        const std::optional<std::string> code = ctx_.AskSiteCode(current);
        if (!code) {
            ctx_.Prompt().Inform(Tr("Credentials file activation canceled"));
            return;
        }
        ctx_.Prompt().Inform(Tr("Credentials file activated"));
        TDataSet& ds = ctx_.Site();
        ds.Edit();  // refused while acquiring
        ds.SetField("SIT_CODE", Trim(*code));
        if (!ctx_.SaveSite()) return;
        ShowCredentials();
        ctx_.CredentialsChanged();
    });
}

void TNetworkPage::CheckConnection() {
    if (checking_) return;  // the one under way answers first
    dialogs::Guarded(ctx_.Window(), [this] {
        ShowCredentials();
        checking_ = true;
        auto check = std::make_shared<TConnectionCheck>();
        const std::string code = ctx_.SiteCode();
        // A dead server waits out its timeout on the site's network lane, not here.
        ctx_.Jobs().Run(
            TJobLane::Network,
            [check, code] {
                try {
                    *check = CheckNetworkConnection(code);
                } catch (const std::exception& e) {
                    *check = {false, e.what()};
                }
            },
            [this, check] {
                checking_ = false;
                if (check->Ok)
                    ctx_.Prompt().Inform(check->Message);
                else
                    ctx_.Prompt().Error(check->Message);
            });
    });
}

void TNetworkPage::SendWaitingRecords() {
    if (upload_ && upload_->Running()) return;  // its panel shows it going
    dialogs::Guarded(ctx_.Window(), [this] {
        progress_ = std::make_unique<TPanelProgress>(*this);
        // Every waiting reading on the site's network lane, one at a time:
        // the window, and every other site, go on meanwhile.
        upload_ = StartSendWaitingRecords({.Db = ctx_.Readings().Db(),
                                           .SiteId = ctx_.SiteId(),
                                           .SiteCode = ctx_.SiteCode(),
                                           .Acquiring = ctx_.Acquisition().Running(),
                                           .Prompt = ctx_.Prompt(),
                                           .Wait = ctx_.Wait(),
                                           .Progress = progress_.get(),
                                           .AfterUpload =
                                               [this](int) {
                                                   ctx_.Latest().Refresh();
                                                   ShowReadingCounts();
                                               }},
                                          &ctx_.Jobs());
    });
}

void TNetworkPage::CancelUpload() {
    if (upload_) upload_->Cancel();
}

bool TNetworkPage::Uploading() const { return upload_ && upload_->Running(); }

TNetworkPage::~TNetworkPage() {
    if (upload_) upload_->Abandon();
}
