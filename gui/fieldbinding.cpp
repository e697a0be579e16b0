#include "gui/fieldbinding.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPointer>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QWidget>
#include <QtDebug>
#include <cmath>

#include "gui/dialogs.h"
#include "core/station/myutils.h"

namespace {
const QString kTimeMask = QStringLiteral("00:00;_");

double AsNumber(const fb::Value& v) {
    if (auto* d = std::get_if<double>(&v)) return *d;
    if (auto* i = std::get_if<int64_t>(&v)) return static_cast<double>(*i);
    if (auto* t = std::get_if<fb::DateTime>(&v)) return t->value;
    if (auto* s = std::get_if<std::string>(&v)) return QLocale::c().toDouble(QString::fromStdString(*s).trimmed());
    return 0;
}
}  // namespace

struct TFieldBinder::Binding {
    enum class Control { LineEdit, CheckBox, RadioGroup, ComboBox, Label };
    Control control;
    QPointer<QObject> object;
    std::string field;
    Kind kind = Kind::Text;
    Options options;
    bool focused = false;

    QWidget* Widget() const {
        if (auto* g = qobject_cast<QButtonGroup*>(object.data())) {
            const auto buttons = g->buttons();
            return buttons.isEmpty() ? nullptr : buttons.first();
        }
        return qobject_cast<QWidget*>(object.data());
    }
};

// Focus decides how a time of day is shown; leaving a field puts the text
// the user left behind back in step with the row.
class TFieldBinder::Filter : public QObject {
public:
    explicit Filter(TFieldBinder& owner) : owner_(owner) {}
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::FocusIn || e->type() == QEvent::FocusOut)
            for (auto& b : owner_.bindings_)
                if (b->object == watched) owner_.FocusChanged(*b, e->type() == QEvent::FocusIn);
        return false;
    }

private:
    TFieldBinder& owner_;
};

TFieldBinder::TFieldBinder(TDataSet& ds)
    : ds_(ds), filter_(std::make_unique<Filter>(*this)), alive_(std::make_shared<int>(0)) {
    OnError = [](const QString& message, QWidget* control) {
        dialogs::Error(message, control ? control->window() : nullptr);
    };
    ChainEvent(ds_.OnStateChange, alive_, [this] { Refresh(); });
    ChainEvent(ds_.OnFieldChange, alive_,
                                   [this](const std::string& field) { FieldChanged(field); });
}

TFieldBinder::~TFieldBinder() {
    // Controls that outlive the binder stop calling into it.
    for (auto& b : bindings_)
        if (b->object) {
            b->object->removeEventFilter(filter_.get());
            QObject::disconnect(b->object, nullptr, filter_.get(), nullptr);
        }
}

QString TFieldBinder::Format(const fb::Value& value, Kind kind, int decimals, bool editing) {
    if (std::holds_alternative<std::monostate>(value)) return QString();
    switch (kind) {
        case Kind::Text:
            if (auto* s = std::get_if<std::string>(&value)) return QString::fromStdString(*s);
            if (auto* i = std::get_if<int64_t>(&value)) return QString::number(*i);
            return QString::number(AsNumber(value), 'g', 15);
        case Kind::Integer:
            if (auto* i = std::get_if<int64_t>(&value)) return QString::number(*i);
            return QString::number(std::llround(AsNumber(value)));
        case Kind::Double:  // the language's separator; Parse takes either
            return QString::number(AsNumber(value), 'f', decimals).replace(QLatin1Char('.'), QLocale().decimalPoint());
        case Kind::TimeOfDay: {
            const double t = AsNumber(value);
            const DateTimeParts p = DecodeDateTime(t - std::floor(t));
            return QStringLiteral("%1%2%3")
                .arg(p.hour, 2, 10, QLatin1Char('0'))
                .arg(editing ? QLatin1Char(':') : QLatin1Char('.'))
                .arg(p.minute, 2, 10, QLatin1Char('0'));
        }
    }
    return QString();
}

std::optional<fb::Value> TFieldBinder::Parse(const QString& text, Kind kind) {
    QString t = kind == Kind::Text ? text : text.trimmed();
    if (kind == Kind::TimeOfDay) {
        t.remove(QLatin1Char('_')).remove(QLatin1Char(' '));
        if (t == QLatin1String(":")) t.clear();  // the empty mask
    }
    if (t.isEmpty()) return fb::Value{};
    switch (kind) {
        case Kind::Text:
            return fb::Value{t.toStdString()};
        case Kind::Integer: {
            static const QRegularExpression re(QStringLiteral("^[-+]?\\d+$"));
            bool ok = false;
            const qlonglong v = t.toLongLong(&ok);
            if (!re.match(t).hasMatch() || !ok) return std::nullopt;
            return fb::Value{int64_t{v}};
        }
        case Kind::Double: {
            static const QRegularExpression re(QStringLiteral("^[-+]?(\\d+([.,]\\d*)?|[.,]\\d+)$"));
            if (!re.match(t).hasMatch()) return std::nullopt;
            t.replace(QLatin1Char(','), QLatin1Char('.'));
            bool ok = false;
            const double v = QLocale::c().toDouble(t, &ok);
            if (!ok || !std::isfinite(v)) return std::nullopt;
            return fb::Value{v};
        }
        case Kind::TimeOfDay: {
            static const QRegularExpression re(QStringLiteral("^(\\d{1,2})[:.](\\d{2})$"));
            const auto m = re.match(t);
            if (!m.hasMatch()) return std::nullopt;
            const int h = m.captured(1).toInt(), mi = m.captured(2).toInt();
            if (h > 23 || mi > 59) return std::nullopt;
            return fb::Value{fb::DateTime{EncodeTime(h, mi, 0)}};
        }
    }
    return std::nullopt;
}

void TFieldBinder::Add(std::unique_ptr<Binding> b) {
    bindings_.push_back(std::move(b));
    ApplyReadOnly(*bindings_.back());
    Load(*bindings_.back());
}

void TFieldBinder::BindLineEdit(QLineEdit* edit, const std::string& field, Kind kind, Options options) {
    auto b = std::make_unique<Binding>();
    b->control = Binding::Control::LineEdit;
    b->object = edit;
    b->field = field;
    b->kind = kind;
    b->options = options;
    Binding* raw = b.get();
    if (options.MaxLength > 0) edit->setMaxLength(options.MaxLength);
    if (kind == Kind::Integer)
        edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[-+]?\\d*")), edit));
    else if (kind == Kind::Double)
        edit->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[-+]?\\d*([.,]\\d*)?")), edit));
    edit->installEventFilter(filter_.get());
    QObject::connect(edit, &QLineEdit::textEdited, filter_.get(),
                     [this, raw](const QString& text) { Write(*raw, Parse(text, raw->kind)); });
    Add(std::move(b));
}

void TFieldBinder::BindCheckBox(QCheckBox* box, const std::string& field, Options options) {
    auto b = std::make_unique<Binding>();
    b->control = Binding::Control::CheckBox;
    b->object = box;
    b->field = field;
    b->options = options;
    Binding* raw = b.get();
    // clicked, not toggled: loading the box must not write it back.
    QObject::connect(box, &QCheckBox::clicked, filter_.get(),
                     [this, raw](bool checked) { Write(*raw, fb::Value{int64_t{checked ? 1 : 0}}); });
    Add(std::move(b));
}

void TFieldBinder::BindRadioGroup(QButtonGroup* group, const std::string& field, Options options) {
    auto b = std::make_unique<Binding>();
    b->control = Binding::Control::RadioGroup;
    b->object = group;
    b->field = field;
    b->options = options;
    Binding* raw = b.get();
    QObject::connect(group, &QButtonGroup::idClicked, filter_.get(),
                     [this, raw](int id) { Write(*raw, fb::Value{int64_t{id}}); });
    Add(std::move(b));
}

void TFieldBinder::BindComboBox(QComboBox* combo, const std::string& field, Options options) {
    auto b = std::make_unique<Binding>();
    b->control = Binding::Control::ComboBox;
    b->object = combo;
    b->field = field;
    b->options = options;
    Binding* raw = b.get();
    QObject::connect(combo, &QComboBox::activated, filter_.get(),
                     [this, raw](int index) { Write(*raw, fb::Value{int64_t{index}}); });
    Add(std::move(b));
}

void TFieldBinder::BindLabel(QLabel* label, const std::string& field, Kind kind, Options options) {
    auto b = std::make_unique<Binding>();
    b->control = Binding::Control::Label;
    b->object = label;
    b->field = field;
    b->kind = kind;
    b->options = options;
    b->options.ReadOnly = true;
    Add(std::move(b));
}

void TFieldBinder::SetReadOnly(QObject* control, bool readOnly) {
    for (auto& b : bindings_)
        if (b->object == control && b->control != Binding::Control::Label) {
            b->options.ReadOnly = readOnly;
            ApplyReadOnly(*b);
            Load(*b);
        }
}

void TFieldBinder::ApplyReadOnly(Binding& b) {
    const bool ro = b.options.ReadOnly;
    // Buttons have no read-only look: they stay readable but ignore the mouse.
    auto lock = [ro](QWidget* w) {
        w->setAttribute(Qt::WA_TransparentForMouseEvents, ro);
        w->setFocusPolicy(ro ? Qt::NoFocus : Qt::StrongFocus);
    };
    switch (b.control) {
        case Binding::Control::LineEdit:
            if (auto* e = qobject_cast<QLineEdit*>(b.object)) e->setReadOnly(ro);
            break;
        case Binding::Control::CheckBox:
            if (auto* c = qobject_cast<QCheckBox*>(b.object)) lock(c);
            break;
        case Binding::Control::RadioGroup:
            if (auto* g = qobject_cast<QButtonGroup*>(b.object))
                for (QAbstractButton* button : g->buttons()) lock(button);
            break;
        case Binding::Control::ComboBox:
            if (auto* c = qobject_cast<QComboBox*>(b.object)) lock(c);
            break;
        case Binding::Control::Label:
            break;
    }
}

void TFieldBinder::Refresh() {
    for (auto& b : bindings_) Load(*b);
}

void TFieldBinder::FieldChanged(const std::string& field) {
    for (auto& b : bindings_)
        if (b->field == field) Load(*b);
}

void TFieldBinder::FocusChanged(Binding& b, bool focused) {
    b.focused = focused;
    auto* edit = qobject_cast<QLineEdit*>(b.object);
    if (!edit) return;
    if (b.kind == Kind::TimeOfDay && !b.options.ReadOnly) edit->setInputMask(focused ? kTimeMask : QString());
    Load(b);
}

void TFieldBinder::Load(Binding& b) {
    if (&b == writing_ || !b.object) return;
    fb::Value value;
    try {
        if (ds_.Active() && !ds_.Eof()) value = ds_.FieldValue(b.field);
    } catch (const std::exception& e) {
        qWarning("TFieldBinder: %s", e.what());  // a misspelt field: show it empty
    }
    const bool null = std::holds_alternative<std::monostate>(value);
    switch (b.control) {
        case Binding::Control::LineEdit: {
            auto* edit = qobject_cast<QLineEdit*>(b.object);
            const bool editing = b.focused && !b.options.ReadOnly;
            if (b.kind == Kind::TimeOfDay && edit->inputMask().isEmpty() != !editing)
                edit->setInputMask(editing ? kTimeMask : QString());
            edit->setText(Format(value, b.kind, b.options.Decimals, editing));
            break;
        }
        case Binding::Control::CheckBox:
            qobject_cast<QCheckBox*>(b.object)->setChecked(!null && std::llround(AsNumber(value)) == 1);
            break;
        case Binding::Control::RadioGroup: {
            auto* g = qobject_cast<QButtonGroup*>(b.object);
            QAbstractButton* button = null ? nullptr : g->button(static_cast<int>(std::llround(AsNumber(value))));
            if (button) {
                button->setChecked(true);
            } else if (QAbstractButton* checked = g->checkedButton()) {
                // An exclusive group keeps one button checked unless told otherwise.
                g->setExclusive(false);
                checked->setChecked(false);
                g->setExclusive(true);
            }
            break;
        }
        case Binding::Control::ComboBox: {
            auto* c = qobject_cast<QComboBox*>(b.object);
            const int index = null ? -1 : static_cast<int>(std::llround(AsNumber(value)));
            c->setCurrentIndex(index >= 0 && index < c->count() ? index : -1);
            break;
        }
        case Binding::Control::Label:
            qobject_cast<QLabel*>(b.object)->setText(Format(value, b.kind, b.options.Decimals, false));
            break;
    }
}

void TFieldBinder::Write(Binding& b, std::optional<fb::Value> value) {
    if (b.options.ReadOnly) {
        Load(b);
        return;
    }
    QString error;
    bool refused = false;
    writing_ = &b;
    try {
        // Text that is no value yet still starts the edit, as typing does.
        if (value)
            ds_.SetField(b.field, std::move(*value));
        else
            ds_.Edit();
    } catch (const TAbort&) {
        refused = true;
    } catch (const std::exception& e) {
        refused = true;
        error = QString::fromStdString(e.what());
    }
    writing_ = nullptr;
    if (!refused) return;
    Load(b);
    if (!error.isEmpty() && OnError) OnError(error, b.Widget());
}
