#pragma once
// TFieldBinder: controls of a window bound to the fields of one dataset row.
// A user change writes the field at once (so the row goes into edit mode by
// itself); the dataset's events reload the controls, so code that changes
// fields, Cancel and Insert show up without any call from the window.
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "core/station/dataset.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QObject;
class QWidget;

// Several listeners on one dataset event: each link calls the one it
// replaced first, and stops acting once its owner is gone. Dead links on top
// are dropped when the next one is added, so a dialog opened again and again
// over the same dataset does not grow the chain.
template <typename... Args>
struct TChainLink {
    std::weak_ptr<void> owner;
    std::function<void(Args...)> previous;
    std::function<void(Args...)> handler;
    void operator()(Args... args) const {
        if (previous) previous(args...);
        if (auto alive = owner.lock()) handler(args...);
    }
};

template <typename... Args>
void ChainEvent(std::function<void(Args...)>& event, std::weak_ptr<void> owner,
                std::type_identity_t<std::function<void(Args...)>> handler) {
    while (auto* link = event.template target<TChainLink<Args...>>()) {
        if (!link->owner.expired()) break;
        auto previous = std::move(link->previous);
        event = std::move(previous);
    }
    event = TChainLink<Args...>{std::move(owner), std::move(event), std::move(handler)};
}

// How one control is bound (outside the class, so that it can be a default argument).
struct TBindOptions {
    int Decimals = 2;       // TFieldBinder::Kind::Double
    int MaxLength = 0;      // line edits; 0: no limit
    bool ReadOnly = false;  // shows the field, never writes it
};

class TFieldBinder {
public:
    enum class Kind {
        Text,       // as stored; empty text is NULL
        Integer,    // whole number
        Double,     // fixed decimals, "." shown, "." or "," accepted
        TimeOfDay,  // date-time with day part 0: shown "hh.mm", edited "hh:mm"
    };
    using Options = TBindOptions;

    // The dataset must outlive the binder's use of it; the binder never
    // touches it in its destructor, and controls may go before the binder.
    explicit TFieldBinder(TDataSet& ds);
    ~TFieldBinder();
    TFieldBinder(const TFieldBinder&) = delete;
    TFieldBinder& operator=(const TFieldBinder&) = delete;

    // Each Bind loads the control from the current row at once.
    void BindLineEdit(QLineEdit* edit, const std::string& field, Kind kind = Kind::Text, Options options = {});
    // Ticked is 1, not ticked 0; NULL shows as not ticked.
    void BindCheckBox(QCheckBox* box, const std::string& field, Options options = {});
    // The checked button's id is the value; no button checked for NULL or an unknown value.
    void BindRadioGroup(QButtonGroup* group, const std::string& field, Options options = {});
    // The item index is the value; no item for NULL.
    void BindComboBox(QComboBox* combo, const std::string& field, Options options = {});
    void BindLabel(QLabel* label, const std::string& field, Kind kind = Kind::Text, Options options = {});

    // Loads every control from the current row without writing anything
    // (after moving to another row: moves raise no event).
    void Refresh();
    // Changes the ReadOnly option of a bound control (line edit, check box,
    // button group or combo box).
    void SetReadOnly(QObject* control, bool readOnly);

    // How a control shows a value / reads a text back. Parse gives
    // std::nullopt for text that is not a value (yet), NULL for empty text.
    static QString Format(const fb::Value& value, Kind kind, int decimals, bool editing);
    static std::optional<fb::Value> Parse(const QString& text, Kind kind);

    // Where errors of a write go; dialogs::Error unless replaced.
    std::function<void(const QString& message, QWidget* control)> OnError;

private:
    struct Binding;
    class Filter;
    void Add(std::unique_ptr<Binding> b);
    void Load(Binding& b);
    void Write(Binding& b, std::optional<fb::Value> value);
    void FieldChanged(const std::string& field);
    void ApplyReadOnly(Binding& b);
    void FocusChanged(Binding& b, bool focused);

    TDataSet& ds_;
    std::vector<std::unique_ptr<Binding>> bindings_;
    Binding* writing_ = nullptr;  // its control keeps what the user typed
    std::unique_ptr<Filter> filter_;
    std::shared_ptr<int> alive_;
};
