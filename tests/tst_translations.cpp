// SPDX-License-Identifier: GPL-3.0-or-later
// The translations: the .ts files hold exactly the texts of the sources, each
// with a finished translation that keeps its placeholders; the build embeds
// them; and the language chosen for a list of the user's languages.

#include "app/Translations.h"
#include "support/ToolRun.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <QXmlStreamReader>

using tavrin::LanguageChoice;

namespace {

struct Message {
    QString context;
    QString source;
    QString comment;   // disambiguation
    QString type;      // of the translation: "", "unfinished", "obsolete", "vanished"
    QStringList forms; // the translation, or its plural forms
    bool numerus = false;

    QString key() const { return context + QLatin1Char('|') + source + QLatin1Char('|') + comment; }
};

// The messages of a .ts file; false when it is not well-formed.
bool readTs(const QByteArray& xml, QList<Message>* messages) {
    QXmlStreamReader reader(xml);
    QString context;
    Message message;
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QStringRef name = reader.name();
        if (name == QLatin1String("name")) {
            context = reader.readElementText();
        } else if (name == QLatin1String("message")) {
            message = Message{context, {}, {}, {}, {}, false};
            message.numerus =
                reader.attributes().value(QLatin1String("numerus")) == QLatin1String("yes");
        } else if (name == QLatin1String("source")) {
            message.source = reader.readElementText();
        } else if (name == QLatin1String("comment")) {
            message.comment = reader.readElementText();
        } else if (name == QLatin1String("translation")) {
            message.type = reader.attributes().value(QLatin1String("type")).toString();
            if (message.numerus) {
                while (reader.readNextStartElement())
                    message.forms << reader.readElementText();
            } else {
                message.forms << reader.readElementText();
            }
            messages->append(message);
        }
    }
    if (reader.hasError())
        qWarning() << "not a .ts file:" << reader.errorString() << reader.lineNumber();
    return !reader.hasError();
}

// The placeholders of a text, sorted: "%1", "%n", "%L1", ...
QStringList placeholders(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral("%L?(\\d{1,2}|n)"));
    QStringList found;
    for (auto it = pattern.globalMatch(text); it.hasNext();)
        found << it.next().captured(0);
    found.sort();
    return found;
}

// What is wrong with the translations of a .ts file, one line per fault.
QStringList translationFaults(const QList<Message>& messages) {
    QStringList faults;
    for (const Message& message : messages) {
        const QString where = message.context + QStringLiteral(": \"") + message.source + '"';
        if (!message.type.isEmpty()) {
            faults << where + QStringLiteral(" is ") + message.type;
            continue;
        }
        if (message.forms.isEmpty())
            faults << where + QStringLiteral(" has no translation");
        for (const QString& form : message.forms) {
            if (form.trimmed().isEmpty())
                faults << where + QStringLiteral(" has an empty translation");
            else if (placeholders(form) != placeholders(message.source))
                faults << where + QStringLiteral(" changes the placeholders: \"") + form + '"';
        }
    }
    return faults;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList tsFiles() {
    const QDir folder(QStringLiteral(TAVRIN_SOURCE_DIR "/translations"));
    QStringList paths;
    for (const QString& name : folder.entryList({QStringLiteral("tavrin_*.ts")}, QDir::Files))
        paths << folder.filePath(name);
    return paths;
}

QString languageOf(const QString& tsPath) {
    return QFileInfo(tsPath).completeBaseName().mid(int(qstrlen("tavrin_")));
}

} // namespace

class TranslationsTest : public QObject {
    Q_OBJECT

private slots:
    void thereIsAnEnglishTranslation() {
        QStringList languages;
        for (const QString& path : tsFiles())
            languages << languageOf(path);
        QVERIFY2(languages.contains(QStringLiteral("en")), qPrintable(languages.join(' ')));
    }

    // lupdate over the sources, as the lupdate target runs it, into a fresh file: the committed
    // files must hold the same texts, no more and no fewer.
    void tsFilesHoldTheTextsOfTheSources() {
        QTemporaryDir dir;
        const QString fresh = dir.filePath(QStringLiteral("tavrin_xx.ts"));
        QStringList arguments{QStringLiteral("-silent"), QStringLiteral("-locations"),
                              QStringLiteral("none"), QStringLiteral("-I"),
                              QStringLiteral(TAVRIN_SOURCE_DIR)};
        arguments << QStringLiteral(TAVRIN_TRANSLATED_DIRS).split(QLatin1Char('|'));
        arguments << QStringLiteral("-ts") << fresh;
        QVERIFY(runTool(QStringLiteral(TAVRIN_LUPDATE), arguments).succeeded());
        QList<Message> sources;
        QVERIFY(readTs(readFile(fresh), &sources));
        QVERIFY(sources.size() > 40);
        QSet<QString> sourceKeys;
        for (const Message& message : sources)
            sourceKeys << message.key();

        for (const QString& path : tsFiles()) {
            QList<Message> committed;
            QVERIFY2(readTs(readFile(path), &committed), qPrintable(path));
            QSet<QString> committedKeys;
            for (const Message& message : committed)
                committedKeys << message.key();
            QStringList missing = (sourceKeys - committedKeys).values();
            QStringList stale = (committedKeys - sourceKeys).values();
            missing.sort();
            stale.sort();
            QVERIFY2(missing.isEmpty(),
                     qPrintable(path + QStringLiteral(" lacks (run the lupdate target): ") +
                                missing.join(QStringLiteral(", "))));
            QVERIFY2(stale.isEmpty(), qPrintable(path +
                                                 QStringLiteral(" holds texts gone from "
                                                                "the sources: ") +
                                                 stale.join(QStringLiteral(", "))));
        }
    }

    void everyTextIsTranslated() {
        for (const QString& path : tsFiles()) {
            QList<Message> messages;
            QVERIFY2(readTs(readFile(path), &messages), qPrintable(path));
            const QStringList faults = translationFaults(messages);
            QVERIFY2(faults.isEmpty(), qPrintable(path + '\n' + faults.join('\n')));
        }
    }

    // The check above finds what it is there to find.
    void faultsAreFound_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("faults");
        QTest::newRow("finished") << "<source>保存</source><translation>Save</translation>" << 0;
        QTest::newRow("placeholder kept")
            << "<source>V:%1</source><translation>Version %1</translation>" << 0;
        QTest::newRow("unfinished")
            << "<source>保存</source><translation type=\"unfinished\">Save</translation>" << 1;
        QTest::newRow("empty") << "<source>保存</source><translation></translation>" << 1;
        QTest::newRow("blank") << "<source>保存</source><translation> </translation>" << 1;
        QTest::newRow("vanished")
            << "<source>保存</source><translation type=\"vanished\">Save</translation>" << 1;
        QTest::newRow("placeholder lost")
            << "<source>V:%1</source><translation>Version</translation>" << 1;
        QTest::newRow("placeholder renumbered")
            << "<source>%1:%2</source><translation>%1: %3</translation>" << 1;
        QTest::newRow("plural form empty")
            << "<source>%n 字</source><translation><numerusform>%n characters</numerusform>"
               "<numerusform></numerusform></translation>"
            << 1;
    }

    void faultsAreFound() {
        QFETCH(QString, message);
        QFETCH(int, faults);
        const bool numerus = message.contains(QLatin1String("numerusform"));
        const QString xml =
            QStringLiteral("<TS><context><name>c</name><message%1>%2</message>"
                           "</context></TS>")
                .arg(numerus ? QStringLiteral(" numerus=\"yes\"") : QString(), message);
        QList<Message> messages;
        QVERIFY(readTs(xml.toUtf8(), &messages));
        QCOMPARE(messages.size(), 1);
        QCOMPARE(translationFaults(messages).size(), faults);
    }

    void buildEmbedsEveryTranslation() {
        QStringList languages;
        for (const QString& path : tsFiles())
            languages << languageOf(path);
        QStringList bundled = tavrin::bundledTranslations();
        languages.sort();
        bundled.sort();
        QCOMPARE(bundled, languages);
        QTranslator english;
        QVERIFY(english.load(QStringLiteral(":/i18n/tavrin_en.qm")));
        QCOMPARE(english.translate("ConnectionPage", "检查更新"),
                 QStringLiteral("Check for updates"));
        QCOMPARE(english.translate("tavrin::Shortcuts", "保存"), QStringLiteral("Save"));
    }

    void chooseLanguage_data() {
        QTest::addColumn<QStringList>("uiLanguages");
        QTest::addColumn<QStringList>("translations");
        QTest::addColumn<QString>("translation");
        QTest::addColumn<QString>("qtLanguage");
        const QStringList en{QStringLiteral("en")};
        QTest::newRow("English") << QStringList{"en-US"} << en << "en"
                                 << "en_US";
        QTest::newRow("region falls back to the language")
            << QStringList{"en_GB.UTF-8"} << en << "en"
            << "en_GB";
        QTest::newRow("letter case") << QStringList{"EN-us"} << en << "en"
                                     << "en_US";
        QTest::newRow("second language when the first has none")
            << QStringList{"de-DE", "en-US"} << en << "en"
            << "en_US";
        QTest::newRow("Chinese first: the source texts, not the English second")
            << QStringList{"zh-CN", "en-US"} << en << ""
            << "zh_CN";
        QTest::newRow("traditional Chinese: the source texts, Qt's in its own")
            << QStringList{"zh_TW"} << en << ""
            << "zh_TW";
        QTest::newRow("Chinese with a script") << QStringList{"zh-Hans-CN"} << en << ""
                                               << "zh_CN";
        QTest::newRow("no translation: the source texts") << QStringList{"de-DE"} << en << ""
                                                          << "zh_CN";
        QTest::newRow("C locale") << QStringList{"C"} << en << ""
                                  << "zh_CN";
        QTest::newRow("none at all") << QStringList{} << en << ""
                                     << "zh_CN";
        QTest::newRow("regional translation first")
            << QStringList{"pt-BR"} << QStringList{"pt", "pt_BR"} << "pt_BR"
            << "pt_BR";
        QTest::newRow("base translation for another region")
            << QStringList{"pt-PT"} << QStringList{"pt", "pt_BR"} << "pt"
            << "pt_PT";
    }

    void chooseLanguage() {
        QFETCH(QStringList, uiLanguages);
        QFETCH(QStringList, translations);
        QFETCH(QString, translation);
        QFETCH(QString, qtLanguage);
        const LanguageChoice choice = tavrin::chooseLanguage(uiLanguages, translations);
        QCOMPARE(choice.translation, translation);
        QCOMPARE(choice.qtLanguage, qtLanguage);
    }
};

QTEST_GUILESS_MAIN(TranslationsTest)
#include "tst_translations.moc"
