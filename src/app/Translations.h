#pragma once

#include <QLocale>
#include <QTranslator>

// Our translation and Qt's own for the user's language, installed on the running application
// while this object lives. A "C" or "POSIX" locale means English whatever LANGUAGE says, as
// gettext has it; a language we have no translation for stays English throughout (Qt's own
// texts too, so no window mixes two languages).
class Translations {
public:
    explicit Translations(const QLocale& locale = QLocale::system());

    // Whether our translation was found and installed.
    bool isLoaded() const { return m_loaded; }

private:
    QTranslator m_ours;
    QTranslator m_qt;
    bool m_loaded = false;
};
