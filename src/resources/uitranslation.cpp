#include "uitranslation.h"

#include <QTranslator>

bool wantsEnglish(const QLocale &locale)
{
    for (const QString &language : locale.uiLanguages()) {
        const QString code = language.section(QLatin1Char('-'), 0, 0).toLower();
        if (code == QLatin1String("en"))
            return true;
        if (code == QLatin1String("zh") || code == QLatin1String("c") ||
            code == QLatin1String("posix"))
            return false;
    }
    return false;
}

std::unique_ptr<QTranslator> loadUiTranslation(const QLocale &locale)
{
    if (!wantsEnglish(locale))
        return nullptr;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral(":/translations/datalogger_en.qm")))
        return nullptr;
    return translator;
}
