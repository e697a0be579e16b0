#include "programs/desktop/sitepage_site.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/station/i18n.h"
#include "core/site/siteactions.h"
#include "gui/flowlayout.h"
#include "core/site/acquisition.h"
#include "core/station/dataset.h"
#include "gui/dialogs.h"
#include "gui/fieldbinding.h"
#include "programs/desktop/meterfinddialog.h"
#include "core/station/sqm.h"
#include "gui/translatable.h"

TSiteInfoPage::TSiteInfoPage(ISitePageContext& context) : ctx_(context) {
    page_ = new QWidget;
    page_->setObjectName(QStringLiteral("tsSite"));
    auto* form = new QFormLayout;
    auto add = [&](const char* caption, const char* field, QWidget* e, const char* note = nullptr) {
        ctx_.AddEditor(field, e);
        if (note) {
            auto* row = new QHBoxLayout;
            row->addWidget(e);
            auto* hint = TrLabel(note);
            hint->setStyleSheet(QStringLiteral("color: #555"));
            hint->setWordWrap(true);  // beside the field, in as many lines as the width needs
            // Not a column of single words: short of this width the row goes under its caption.
            hint->setMinimumWidth(hint->fontMetrics().averageCharWidth() * 18);
            row->addWidget(hint, 1);
            form->addRow(TrLabel(caption), row);
        } else {
            form->addRow(TrLabel(caption), e);
        }
    };
    // A name or an address squeezed beside a long caption is unreadable: the
    // row goes under its caption instead (the form wraps long rows).
    const auto readable = [](QLineEdit* e) {
        e->setMinimumWidth(e->fontMetrics().averageCharWidth() * 24);
        return e;
    };
    add(N_("Name"), "SIT_NAME", readable(SitePageEdit("edName")));
    auto* findMeter = Translatable(new QPushButton, N_("Find..."));
    findMeter->setObjectName(QStringLiteral("btnFindMeter"));
    QObject::connect(findMeter, &QPushButton::clicked, ctx_.Window(), [this] { FindMeter(); });
    auto* host = readable(SitePageEdit("edHost"));
    ctx_.AddEditor("SIT_SQMHOST", host);
    auto* hostRow = new QHBoxLayout;
    hostRow->addWidget(host, 1);
    hostRow->addWidget(findMeter);
    form->addRow(TrLabel(N_("Host or SQM-LE IP Address")), hostRow);
    add(N_("TCP-IP Port"), "SIT_SQMPORT", SitePageEdit("edPort", 90));
    add(N_("Latitude"), "SIT_LATIT", SitePageEdit("edLatit", 110));
    add(N_("Longitude"), "SIT_LONG", SitePageEdit("edLong", 110), N_("(Positive at EAST)"));
    add(N_("Altitude (m)"), "SIT_ALT", SitePageEdit("edAlt", 90));
    add(N_("Timezone (difference in hours from Greenwich)"), "SIT_TIMEZONE", SitePageEdit("edTimezone", 60),
        N_("Positive at EAST negative at WEST"));
    add(N_("Offset Mag/ArcSec Squared"), "SIT_OFFSET", SitePageEdit("edOffset", 90));
    add(N_("Connection timeout (seconds)"), "SIT_TIMEOUT", SitePageEdit("edTimeout", 60));
    auto* autostart = Translatable(new QCheckBox, N_("Start automatically at software startup"));
    autostart->setObjectName(QStringLiteral("cbAutostart"));
    ctx_.AddEditor("SIT_AUTOSTART", autostart);
    form->addRow(QString(), autostart);

    auto* info = Translatable(new QGroupBox, N_("SQM-LE Informations"));
    info->setObjectName(QStringLiteral("gbSqmInfo"));
    auto* infoForm = new QFormLayout(info);
    const std::pair<const char*, const char*> infos[] = {{N_("Protocol number"), "SIT_SQMPROT"},
                                                         {N_("SQM Model"), "SIT_SQMMODEL"},
                                                         {N_("Feaure number"), "SIT_SQMFEATURE"},
                                                         {N_("Serial number"), "SIT_SQMSERIAL"}};
    for (const auto& [caption, field] : infos) {
        auto* value = SitePageValue(field);
        value->setFrameShape(QFrame::StyledPanel);
        value->setStyleSheet(QStringLiteral("font-weight: bold"));
        ctx_.AddEditor(field, value);
        infoForm->addRow(TrLabel(caption), value);
    }
    auto* check = Translatable(new QPushButton, N_("Check connection"));
    check->setObjectName(QStringLiteral("btnTestSQM"));
    QObject::connect(check, &QPushButton::clicked, ctx_.Window(), [this] { CheckConnection(); });
    infoForm->addRow(check);

    // The meter's identity beside the fields, or under them in a narrow window.
    auto* fields = new QWidget;
    form->setContentsMargins(0, 0, 0, 0);
    form->setRowWrapPolicy(QFormLayout::WrapLongRows);
    fields->setLayout(form);
    auto* layout = new TFlowLayout(page_);
    layout->addWidget(fields);
    layout->addWidget(info);
    tab_ = SitePageScrolled(page_);
}

void TSiteInfoPage::Bind(TFieldBinder& binder) {
    using K = TFieldBinder::Kind;
    auto edit = [this](const char* field) { return static_cast<QLineEdit*>(ctx_.Editor(field)); };
    binder.BindLineEdit(edit("SIT_NAME"), "SIT_NAME", K::Text, {.MaxLength = 255});
    binder.BindLineEdit(edit("SIT_SQMHOST"), "SIT_SQMHOST", K::Text, {.MaxLength = 100});
    binder.BindLineEdit(edit("SIT_SQMPORT"), "SIT_SQMPORT", K::Integer);
    binder.BindLineEdit(edit("SIT_LATIT"), "SIT_LATIT", K::Double, {.Decimals = 6});
    binder.BindLineEdit(edit("SIT_LONG"), "SIT_LONG", K::Double, {.Decimals = 6});
    binder.BindLineEdit(edit("SIT_ALT"), "SIT_ALT", K::Integer);
    binder.BindLineEdit(edit("SIT_TIMEZONE"), "SIT_TIMEZONE", K::Integer);
    binder.BindLineEdit(edit("SIT_OFFSET"), "SIT_OFFSET", K::Double, {.Decimals = 2});
    binder.BindLineEdit(edit("SIT_TIMEOUT"), "SIT_TIMEOUT", K::Integer);
    binder.BindCheckBox(static_cast<QCheckBox*>(ctx_.Editor("SIT_AUTOSTART")), "SIT_AUTOSTART");
    for (const char* f : {"SIT_SQMPROT", "SIT_SQMMODEL", "SIT_SQMFEATURE", "SIT_SQMSERIAL"})
        binder.BindLabel(static_cast<QLabel*>(ctx_.Editor(f)), f, K::Integer);
}

void TSiteInfoPage::CheckConnection() {
    if (checking_) return;  // the one under way answers first
    dialogs::Guarded(ctx_.Window(), [this] {
        // The meter the station was made for, else the one in the record as edited.
        const TSQM* station = ctx_.Acquisition().Station();
        const TSiteRow site = TSiteActions::RowOf(ctx_.Site());
        const std::string host = station ? station->Client->Host : site.Host;
        const int port = station ? station->Client->Port : site.Port;
        checking_ = true;
        TSiteActions::AskMeterIdentity(&ctx_.Jobs(), ctx_.Common().meters, host, port, site.TimeoutSeconds,
                                       [this](const TSiteActions::TMeterAnswer& answer) { MeterAnswered(answer); });
    });
}

void TSiteInfoPage::MeterAnswered(const TSiteActions::TMeterAnswer& answer) {
    checking_ = false;
    dialogs::Guarded(ctx_.Window(), [&] {
        if (!answer.Identity) {
            ctx_.Prompt().Error(Tr("SQM-LE not found") + (answer.Failure.empty() ? "" : "\n" + answer.Failure));
            return;
        }
        if (TSQM* station = ctx_.Acquisition().Station()) station->SetInfo(*answer.Identity);
        // Saved by the button bar, which shows a refusal of the save itself.
        const TSiteActions::TMeterCheck check =
            TSiteActions::KeepMeterIdentity(ctx_.Site(), *answer.Identity, [this] { return ctx_.SaveSite(); });
        if (check.Stored) ctx_.Prompt().Inform(Tr("SQM-LE correctly found"));
    });
}

void TSiteInfoPage::FindMeter() {
    dialogs::Guarded(ctx_.Window(), [this] {
        if (ctx_.Acquisition().Running()) ctx_.Site().Edit();  // refused, with its box, before any search
        TMeterFindDialog dialog(ctx_.FinderOptions(), ctx_.Common().workers, ctx_.Window());
        if (dialog.exec() != QDialog::Accepted) return;
        // Through the bound record, as if typed: saved or cancelled with the other edits.
        ctx_.Site().SetField("SIT_SQMHOST", dialog.Host().toStdString());
        ctx_.Site().SetField("SIT_SQMPORT", int64_t{dialog.Port()});
    });
}
