#include "app/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>

Translations::Translations(const QLocale& locale) {
    if (locale.language() == QLocale::C)
        return;
    // The user's languages in their order of preference; English needs no file.
    m_loaded = m_ours.load(locale, QStringLiteral("quillby"), QStringLiteral("_"),
                           QStringLiteral(":/i18n")) &&
               QCoreApplication::installTranslator(&m_ours);
    if (!m_loaded)
        return;
    // Qt's own texts (a line edit's context menu, process errors), when the system has them.
    if (m_qt.load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                  QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&m_qt);
}
