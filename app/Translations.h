// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>
#include <QTranslator>

namespace tavrin {

// The languages the program shows for a list of the user's languages.
struct LanguageChoice {
    // The program's translation (":/i18n/tavrin_<this>.qm"); empty for the source texts,
    // which are Chinese.
    QString translation;
    // The language of Qt's own texts (platform dialogs, command-line help), as a locale name:
    // the user's language that decided the choice, so that both speak the same language.
    QString qtLanguage;

    bool operator==(const LanguageChoice& other) const {
        return translation == other.translation && qtLanguage == other.qtLanguage;
    }
};

// Goes through `uiLanguages` in the user's order ("en-US", "de_DE", ...): the first one that
// is Chinese or has a translation among `translations` ("en", "pt_BR", ...) decides; a
// regional language falls back to its base language ("en_GB" to "en"). Without any, the
// source texts show.
LanguageChoice chooseLanguage(const QStringList& uiLanguages, const QStringList& translations);

// The translations compiled into the resources, by language ("en", ...).
QStringList bundledTranslations();

// Installs the program's translation and Qt's own (from QLibraryInfo::TranslationsPath, the
// qttranslations5-l10n package on Debian) into the application for a locale's languages, in
// place of those it installed before. Needs a QCoreApplication.
class Translations {
public:
    Translations() = default;
    Translations(const Translations&) = delete;
    Translations& operator=(const Translations&) = delete;
    ~Translations();

    // The choice made; the default locale follows the system's languages (LANGUAGE, LANG).
    LanguageChoice install(const QLocale& locale = QLocale());
    // Puts the translators back in front of those installed since: QQmlApplicationEngine
    // installs Qt's translation for the default locale, whose language may not be ours.
    void bringToFront();

private:
    void remove();

    QTranslator m_program;
    QTranslator m_qt;
    bool m_programInstalled = false;
    bool m_qtInstalled = false;
};

} // namespace tavrin
