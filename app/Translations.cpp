// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Translations.h"

#include "app/Logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>

namespace tavrin {

namespace {

const QString kResourceFolder = QStringLiteral(":/i18n");
const QString kPrefix = QStringLiteral("tavrin_");

// "en-US", "en_US.UTF-8" and "zh_Hans_CN" as subtags: {"en", "US"}, {"zh", "Hans", "CN"}.
QStringList subtags(const QString& language) {
    QString name = language.section(QLatin1Char('.'), 0, 0).section(QLatin1Char('@'), 0, 0);
    name.replace(QLatin1Char('-'), QLatin1Char('_'));
    return name.split(QLatin1Char('_'), Qt::SkipEmptyParts);
}

} // namespace

LanguageChoice chooseLanguage(const QStringList& uiLanguages, const QStringList& translations) {
    for (const QString& language : uiLanguages) {
        QStringList tags = subtags(language);
        if (tags.isEmpty())
            continue;
        const QString localeName = QLocale(tags.join(QLatin1Char('_'))).name();
        if (tags.constFirst().compare(QLatin1String("zh"), Qt::CaseInsensitive) == 0)
            return {QString(), localeName};
        for (; !tags.isEmpty(); tags.removeLast()) {
            const QString candidate = tags.join(QLatin1Char('_'));
            for (const QString& translation : translations) {
                if (translation.compare(candidate, Qt::CaseInsensitive) == 0)
                    return {translation, localeName};
            }
        }
    }
    return {QString(), QStringLiteral("zh_CN")};
}

QStringList bundledTranslations() {
    QStringList languages;
    const QStringList files =
        QDir(kResourceFolder).entryList({kPrefix + QStringLiteral("*.qm")}, QDir::Files);
    for (const QString& file : files)
        languages << file.mid(kPrefix.size()).chopped(3);
    return languages;
}

Translations::~Translations() {
    remove();
}

void Translations::remove() {
    // Nothing to take out of an application that is gone.
    if (!QCoreApplication::instance())
        m_programInstalled = m_qtInstalled = false;
    if (m_programInstalled)
        QCoreApplication::removeTranslator(&m_program);
    if (m_qtInstalled)
        QCoreApplication::removeTranslator(&m_qt);
    m_programInstalled = m_qtInstalled = false;
}

void Translations::bringToFront() {
    if (m_programInstalled) {
        QCoreApplication::removeTranslator(&m_program);
        QCoreApplication::installTranslator(&m_program);
    }
    if (m_qtInstalled) {
        QCoreApplication::removeTranslator(&m_qt);
        QCoreApplication::installTranslator(&m_qt);
    }
}

LanguageChoice Translations::install(const QLocale& locale) {
    remove();
    const LanguageChoice choice = chooseLanguage(locale.uiLanguages(), bundledTranslations());
    if (!choice.translation.isEmpty()) {
        m_programInstalled = m_program.load(kPrefix + choice.translation, kResourceFolder) &&
                             QCoreApplication::installTranslator(&m_program);
    }
    // qt_<language> names Qt's per-module catalogues (qtbase_, ...) and loads them with it.
    const QString qtFolder = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
    const QLocale qtLocale(choice.qtLanguage);
    m_qtInstalled =
        (m_qt.load(qtLocale, QStringLiteral("qt"), QStringLiteral("_"), qtFolder) ||
         m_qt.load(qtLocale, QStringLiteral("qtbase"), QStringLiteral("_"), qtFolder)) &&
        QCoreApplication::installTranslator(&m_qt);
    qCDebug(lcStartup) << "languages" << locale.uiLanguages() << "-> translation"
                       << (choice.translation.isEmpty() ? QStringLiteral("none (source texts)")
                                                        : choice.translation)
                       << "installed" << m_programInstalled << "; Qt's" << choice.qtLanguage
                       << "installed" << m_qtInstalled;
    return choice;
}

} // namespace tavrin
