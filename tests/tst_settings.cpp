// SPDX-License-Identifier: GPL-3.0-or-later
// The settings store against hand-edited settings files: every value out of range reads as
// the nearest one in range, every invalid one as the default, and the file is mended; files
// as earlier versions wrote them load unchanged; the scene shows what the store read.

#include "app/SettingsStore.h"
#include "state/Attrs.h"
#include "support/SceneFixture.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using tavrin::SettingsStore;
namespace settings = tavrin::settings;

namespace {

// Where QSettings keeps this program's settings once its path points at `dir`.
QString settingsFile(const QString& dir) {
    return dir + QStringLiteral("/Tavrin/") + QCoreApplication::applicationName() +
           QStringLiteral(".conf");
}

void useSettingsIn(const QString& dir) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir);
}

bool writeFile(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The file an earlier version (the Qt Labs Settings element) wrote.
const QByteArray kEarlierFile = "[General]\n"
                                "bgColor=#80112233\n"
                                "color=#ff0000\n"
                                "fontFamily=\"Noto Sans, Bold\"\n"
                                "fontSize=21\n"
                                "input=127.0.0.1\n"
                                "padding=0\n";

} // namespace

class SettingsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { initSceneTestProcess(); }

    void fontSizeFromStore_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<int>("read");
        QTest::newRow("15") << QVariant("15") << 15;
        QTest::newRow("an int") << QVariant(21) << 21;
        QTest::newRow("2: unreadable") << QVariant("2") << 8;
        QTest::newRow("0 from the slider") << QVariant("0") << 8;
        QTest::newRow("negative") << QVariant("-5") << 8;
        QTest::newRow("8") << QVariant("8") << 8;
        QTest::newRow("96") << QVariant("96") << 96;
        QTest::newRow("97") << QVariant("97") << 96;
        QTest::newRow("2147483648 does not wrap") << QVariant("2147483648") << 96;
        QTest::newRow("-2147483649") << QVariant("-2147483649") << 8;
        QTest::newRow("twenty digits") << QVariant("99999999999999999999") << 96;
        QTest::newRow("a fraction rounds") << QVariant("15.6") << 16;
        QTest::newRow("spaces around") << QVariant(" 20 ") << 20;
        QTest::newRow("letters") << QVariant("big") << 15;
        QTest::newRow("number then letters") << QVariant("12px") << 15;
        QTest::newRow("empty") << QVariant("") << 15;
        QTest::newRow("inf") << QVariant("inf") << 15;
        QTest::newRow("nan") << QVariant("nan") << 15;
        QTest::newRow("1e400") << QVariant("1e400") << 15;
        QTest::newRow("a list") << QVariant(QStringList{"1", "2"}) << 15;
        QTest::newRow("true") << QVariant(true) << 15;
    }

    void fontSizeFromStore() {
        QFETCH(QVariant, stored);
        QFETCH(int, read);
        QCOMPARE(settings::fontSizeFromStore(stored), read);
    }

    void paddingFromStore_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<int>("read");
        QTest::newRow("10") << QVariant("10") << 10;
        QTest::newRow("0") << QVariant("0") << 0;
        QTest::newRow("-100") << QVariant("-100") << 0;
        QTest::newRow("40") << QVariant("40") << 40;
        QTest::newRow("41") << QVariant("41") << 40;
        QTest::newRow("2147483648") << QVariant("2147483648") << 40;
        QTest::newRow("a fraction rounds") << QVariant("3.5") << 4;
        QTest::newRow("letters") << QVariant("wide") << 10;
        QTest::newRow("empty") << QVariant("") << 10;
    }

    void paddingFromStore() {
        QFETCH(QVariant, stored);
        QFETCH(int, read);
        QCOMPARE(settings::paddingFromStore(stored), read);
    }

    void chosenValues() {
        // What the user picks: the slider's 0..40 and the font dialog's sizes up to 96.
        QCOMPARE(settings::chosenFontSize(0), 0);
        QCOMPARE(settings::chosenFontSize(-3), 0);
        QCOMPARE(settings::chosenFontSize(40), 40);
        QCOMPARE(settings::chosenFontSize(72), 72);
        QCOMPARE(settings::chosenFontSize(500), 96);
        QCOMPARE(settings::chosenPadding(-1), 0);
        QCOMPARE(settings::chosenPadding(40), 40);
        QCOMPARE(settings::chosenPadding(41), 40);
    }

    void colour_data() {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("read");
        const QString fallback = QStringLiteral("#444444");
        QTest::newRow("rrggbb") << QVariant("#ff0000") << "#ff0000";
        QTest::newRow("aarrggbb") << QVariant("#80112233") << "#80112233";
        QTest::newRow("transparent black") << QVariant("#00000000") << "#00000000";
        QTest::newRow("upper case") << QVariant("#ABCDEF") << "#ABCDEF";
        QTest::newRow("a colour name") << QVariant("red") << "red";
        QTest::newRow("five digits") << QVariant("#12345") << fallback;
        QTest::newRow("not hex") << QVariant("#gggggg") << fallback;
        QTest::newRow("words") << QVariant("nonsense") << fallback;
        QTest::newRow("empty") << QVariant("") << fallback;
        QTest::newRow("a number") << QVariant(255) << fallback;
        QTest::newRow("a list") << QVariant(QStringList{"#ff0000", "#00ff00"}) << fallback;
    }

    void colour() {
        QFETCH(QVariant, value);
        QFETCH(QString, read);
        QCOMPARE(settings::colour(value, QStringLiteral("#444444")), read);
    }

    void addressFromStore_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("read");
        QTest::newRow("address") << QVariant("127.0.0.1") << "127.0.0.1";
        QTest::newRow("spaces around: trimmed") << QVariant(" 127.0.0.1 ") << "127.0.0.1";
        QTest::newRow("port and path") << QVariant("127.0.0.76:8081/#") << "";
        QTest::newRow("999") << QVariant("999.1.1.1") << "";
        QTest::newRow("100 KB of zeros after")
            << QVariant(QStringLiteral("127.0.0.77") + QString(100 * 1024, QLatin1Char('0'))) << "";
        QTest::newRow("empty") << QVariant("") << "";
    }

    void addressFromStore() {
        QFETCH(QVariant, stored);
        QFETCH(QString, read);
        QCOMPARE(settings::addressFromStore(stored), read);
    }

    // A file edited by hand: read as the nearest sensible values, and mended on disk.
    void handEditedFileIsReadSanelyAndMended() {
        QTemporaryDir dir;
        useSettingsIn(dir.path());
        const QString path = settingsFile(dir.path());
        QVERIFY(writeFile(path, "[General]\n"
                                "padding=-100\n"
                                "fontSize=2147483648\n"
                                "fontFamily=Noto Sans, Bold\n"
                                "bgColor=#zz\n"
                                "color=nonsense\n"
                                "input=127.0.0.76:8081/#\n"));
        {
            SettingsStore store;
            QSignalSpy fontSize(&store, &SettingsStore::fontSizeChanged);
            QSignalSpy padding(&store, &SettingsStore::paddingChanged);
            QSignalSpy bgColor(&store, &SettingsStore::bgColorChanged);
            QSignalSpy input(&store, &SettingsStore::inputChanged);
            store.load();
            QCOMPARE(store.fontSize(), 96);
            QCOMPARE(store.padding(), 0);
            QCOMPARE(store.fontFamily(), QStringLiteral("Noto Sans, Bold"));
            QCOMPARE(store.bgColor(), QStringLiteral("#00000000"));
            QCOMPARE(store.color(), QStringLiteral("#444444"));
            QCOMPARE(store.input(), QString());
            QCOMPARE(fontSize.count(), 1);
            QCOMPARE(padding.count(), 1);
            // Read as the default, which it held already: nothing changed.
            QCOMPARE(bgColor.count(), 0);
            QCOMPARE(input.count(), 0);
        }
        QSettings mended(path, QSettings::IniFormat);
        QCOMPARE(mended.value("fontSize").toString(), QStringLiteral("96"));
        QCOMPARE(mended.value("padding").toString(), QStringLiteral("0"));
        QCOMPARE(mended.value("fontFamily").toString(), QStringLiteral("Noto Sans, Bold"));
        QCOMPARE(mended.value("bgColor").toString(), QStringLiteral("#00000000"));
        QCOMPARE(mended.value("color").toString(), QStringLiteral("#444444"));
        QCOMPARE(mended.value("input").toString(), QString());
    }

    // What earlier versions stored loads as it was, and is left as it was.
    void earlierFileLoadsUnchanged() {
        QTemporaryDir dir;
        useSettingsIn(dir.path());
        const QString path = settingsFile(dir.path());
        QVERIFY(writeFile(path, kEarlierFile));
        {
            SettingsStore store;
            store.load();
            QCOMPARE(store.fontSize(), 21);
            QCOMPARE(store.padding(), 0);
            QCOMPARE(store.fontFamily(), QStringLiteral("Noto Sans, Bold"));
            QCOMPARE(store.bgColor(), QStringLiteral("#80112233"));
            QCOMPARE(store.color(), QStringLiteral("#ff0000"));
            QCOMPARE(store.input(), QStringLiteral("127.0.0.1"));
        }
        QCOMPARE(readFile(path), kEarlierFile);
    }

    // Written in the same keys and format: a file this version wrote is the earlier one.
    void writesInTheSameFormat() {
        QTemporaryDir dir;
        useSettingsIn(dir.path());
        const QString path = settingsFile(dir.path());
        {
            SettingsStore store;
            store.load();
            QSignalSpy fontSize(&store, &SettingsStore::fontSizeChanged);
            store.setBgColor(QStringLiteral("#80112233"));
            store.setColor(QStringLiteral("#ff0000"));
            store.setFontFamily(QStringLiteral("Noto Sans, Bold"));
            store.setFontSize(21);
            store.setFontSize(21); // the value held: no change, no write
            store.setInput(QStringLiteral("127.0.0.1"));
            store.setInput(QStringLiteral("127.0.0.1:8080")); // not an address: not taken
            store.setPadding(0);
            QCOMPARE(fontSize.count(), 1);
            QCOMPARE(store.input(), QStringLiteral("127.0.0.1"));
        }
        QCOMPARE(readFile(path), kEarlierFile);
    }

    void writesAreChecked() {
        QTemporaryDir dir;
        useSettingsIn(dir.path());
        SettingsStore store;
        store.load();
        store.setPadding(-100);
        QCOMPARE(store.padding(), 0);
        store.setPadding(1000);
        QCOMPARE(store.padding(), 40);
        store.setFontSize(2147483647);
        QCOMPARE(store.fontSize(), 96);
        store.setColor(QStringLiteral("#ff0000"));
        store.setColor(QStringLiteral("not a colour"));
        QCOMPARE(store.color(), QStringLiteral("#444444"));
        store.setBgColor(QStringLiteral("#12"));
        QCOMPARE(store.bgColor(), QStringLiteral("#00000000"));
    }

    // The scene over a hand-edited file: a readable editor, and no address from it.
    void sceneShowsWhatTheStoreRead() {
        QTemporaryDir dir;
        QVERIFY(writeFile(settingsFile(dir.path()), "[General]\n"
                                                    "padding=-100\n"
                                                    "fontSize=2\n"
                                                    "color=#not\n"
                                                    "bgColor=12\n"
                                                    "input=127.0.0.77" +
                                                        QByteArray(100 * 1024, '0') + "\n"));
        SceneFixture scene(dir.path());
        QVERIFY(scene.isLoaded());
        QObject* store = scene.settings();
        QVERIFY(qobject_cast<SettingsStore*>(store));
        QCOMPARE(store->property("padding").toInt(), 0);
        QCOMPARE(store->property("fontSize").toInt(), 8);
        QObject* edit = scene.textEdit();
        QCOMPARE(edit->property("textMargin").toReal(), 0.0);
        QCOMPARE(edit->property("font").value<QFont>().pixelSize(), 8);
        QCOMPARE(edit->property("color").value<QColor>(), QColor(QStringLiteral("#444444")));
        QCOMPARE(scene.item("ipInput")->property("text").toString(), QString());
        QVERIFY(!scene.attrs()->ip());
    }

    // What the slider stored reads back sensibly at the next start.
    void sliderZeroReadsAsTheSmallestReadableSize() {
        QTemporaryDir dir;
        {
            SceneFixture scene(dir.path());
            scene.settings()->setProperty("fontSize", 0);
            scene.settings()->setProperty("padding", 0);
            QCOMPARE(scene.settings()->property("fontSize").toInt(), 0);
        }
        SceneFixture again(dir.path());
        QCOMPARE(again.settings()->property("fontSize").toInt(), 8);
        QCOMPARE(again.settings()->property("padding").toInt(), 0);
        QCOMPARE(again.textEdit()->property("font").value<QFont>().pixelSize(), 8);
    }
};

QTEST_MAIN(SettingsTest)
#include "tst_settings.moc"
