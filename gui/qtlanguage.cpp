#include "gui/qtlanguage.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <QWidget>

#include "core/site/languages.h"

namespace {

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
}

}  // namespace

QLocale LocaleOfLanguage(const std::string& code) {
    return code.empty() ? QLocale::system() : QLocale(QString::fromStdString(code));
}

void FollowLanguageInQt(const std::string& code) {
    Apply(code);
    SetLanguageListener(Apply);
}
