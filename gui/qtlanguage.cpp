#include "gui/qtlanguage.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <QWidget>

#include <cctype>

#include "core/site/languages.h"

namespace {

// Qt 6 asks its file icon provider for "Folder" and "Drive" (the file
// dialog's type column), which Debian's qtbase catalogues of 6.4 translate
// only under the file dialog's own name: the same words are taken from there.
class TFileTypeWords : public QTranslator {
public:
    TFileTypeWords(const QTranslator* qt, QObject* parent) : QTranslator(parent), qt_(qt) {}
    bool isEmpty() const override { return qt_->isEmpty(); }
    QString translate(const char* context, const char* source, const char*, int n) const override {
        if (qstrcmp(context, "QAbstractFileIconProvider") != 0) return {};
        return qt_->translate("QFileDialog", source, nullptr, n);
    }

private:
    const QTranslator* qt_;
};

void Apply(const std::string& code) {
    const QLocale locale = LocaleOfLanguage(code);
    QLocale::setDefault(locale);
    // Widgets made before the switch keep the locale they were born with.
    for (QWidget* w : QApplication::topLevelWidgets()) w->setLocale(locale);
    static QTranslator* qt = nullptr;
    if (!qt) qt = new QTranslator(QCoreApplication::instance());
    QCoreApplication::removeTranslator(qt);
    // Debian's qt6-translations-l10n; without it Qt's texts stay English.
    if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt);
    static TFileTypeWords* words = nullptr;
    if (!words) words = new TFileTypeWords(qt, QCoreApplication::instance());
    QCoreApplication::removeTranslator(words);
    if (!qt->isEmpty()) QCoreApplication::installTranslator(words);
}

}  // namespace

TFormatSettings LanguageFormats() {
    const QLocale l;
    TFormatSettings fs;
    fs.DecimalSeparator = l.decimalPoint().toStdString();
    fs.ThousandSeparator = l.groupSeparator().toStdString();
    fs.DatePattern = l.dateFormat(QLocale::ShortFormat).toStdString();
    // The zone ("t") is left to the captions.
    fs.TimePattern = l.timeFormat(QLocale::LongFormat).remove(QLatin1Char('t')).trimmed().toStdString();
    for (int m = 1; m <= 12; ++m) fs.MonthNames.push_back(l.monthName(m, QLocale::ShortFormat).toStdString());
    for (const char c : fs.DatePattern)
        if (!std::isalpha(static_cast<unsigned char>(c)) && c != '\'') {
            fs.DateSeparator = std::string(1, c);
            break;
        }
    return fs;
}

QString NumberText(double value, int decimals) {
    return QString::fromStdString(FormatNumber(value, decimals, LanguageFormats()));
}

QString DateTimeText(double dt) { return QString::fromStdString(FormatDateTimeText(dt, LanguageFormats())); }

QLocale LocaleOfLanguage(const std::string& code) {
    return code.empty() ? QLocale::system() : QLocale(QString::fromStdString(code));
}

void FollowLanguageInQt(const std::string& code) {
    Apply(code);
    SetLanguageListener(Apply);
}
