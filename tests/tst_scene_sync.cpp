// SPDX-License-Identifier: GPL-3.0-or-later
// The sync as the user meets it, in the real scene against the fake phone:
// nothing typed is lost when the phone flaps, edits on both sides merge, an
// overlap is offered, a broken load takes no typing, a refusing phone backs
// off and says so, a failed save is retried, a crash loses nothing, and the
// keyboard and the mouse go where the user means them.

#include "link/PhoneLink.h"
#include "link/PushQueue.h"
#include "sim/NoteServer.h"
#include "state/Attrs.h"
#include "support/FakeTransport.h"
#include "support/SceneFixture.h"
#include "tools/History.h"

#include <QApplication>
#include <QDirIterator>
#include <QJsonValue>
#include <QProcess>
#include <QQuickItem>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <memory>
#include <cstring>

using tavrin::link::State;
using tavrin::sim::NoteServer;
using tavrin::sim::Reply;
using tavrin::sim::Request;

namespace {

constexpr int kWait = 10000;
// TextEdit.WrapMode values (QQuickTextEdit is not public API).
constexpr int QQuickTextEdit_WrapAnywhere = 3;
constexpr int QQuickTextEdit_Wrap = 4;
const QString kContentPath = QStringLiteral("/desktop/modifyNoteContent/");
const QString kSavePath = QStringLiteral("/desktop/saveNow/");

QString text(SceneFixture& scene) {
    return scene.textEdit()->property("text").toString();
}

QString statusText(SceneFixture& scene) {
    return scene.find(QStringLiteral("tvSyncStatus"))->property("text").toString();
}

bool connectTo(SceneFixture& scene, const QString& address) {
    scene.link()->updateIp(address);
    return QTest::qWaitFor([&] { return scene.attrs()->isLoadOk(); }, kWait);
}

bool pushesIdle(SceneFixture& scene) {
    const tavrin::PushQueue* pushes = scene.link()->pushQueue();
    return !pushes->isBusy() && pushes->waitingCount() == 0;
}

// Puts the cursor at the end of the note, in the editor.
bool focusEnd(SceneFixture& scene) {
    scene.item(QStringLiteral("textEdit"))->forceActiveFocus();
    scene.key(Qt::Key_End, Qt::ControlModifier);
    return scene.item(QStringLiteral("textEdit"))->hasActiveFocus();
}

QStringList journalFiles(const QString& root) {
    QStringList files;
    QDirIterator it(root, {QStringLiteral("*.json")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    return files;
}

// Child side of the crash test: load the note, type while the phone refuses, wait to be killed.
int runTypingChild(int argc, char** argv) {
    QApplication app(argc, argv);
    initSceneTestProcess();
    SceneFixture scene(QString::fromLocal8Bit(argv[2]));
    if (!scene.activate() || !connectTo(scene, QString::fromLocal8Bit(argv[3])) ||
        !focusEnd(scene))
        return 2;
    scene.typeText(QString::fromUtf8(argv[4]));
    QTextStream(stdout) << "typed" << Qt::endl;
    return app.exec(); // until killed
}

// The fake phone with one note open, and the real scene with that note loaded.
struct Session {
    NoteServer phone;
    QString address;
    QTemporaryDir dir;
    std::unique_ptr<SceneFixture> scene;

    bool open(const QString& loopbackAddress, int id, const QString& content) {
        address = loopbackAddress;
        if (!phone.start(address, 8080))
            return false;
        phone.openNote(QJsonValue(id), content);
        scene = std::make_unique<SceneFixture>(dir.path());
        return scene->activate() && connectTo(*scene, address) &&
               QTest::qWaitFor([this] { return pushesIdle(*scene); }, kWait);
    }

    // The phone goes away; the note stays, offline.
    bool dropPhone() {
        phone.stop();
        return QTest::qWaitFor([this] { return scene->link()->state() == State::Offline; }, kWait);
    }

    bool phoneBack() { return phone.start(address, 8080); }
};

} // namespace

class SceneSyncTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { initSceneTestProcess(); }

    // The phone answers, then refuses, over and over, while the user types on.
    void flappingPhoneLosesNothing() {
        NoteServer phone;
        const QString address = QStringLiteral("127.0.6.1");
        QVERIFY(phone.start(address, 8080));
        phone.openNote(QJsonValue(1), QStringLiteral("start:"));
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QVERIFY(scene.activate());
        QVERIFY(connectTo(scene, address));
        QVERIFY(focusEnd(scene));

        QString typed;
        int drops = 0;
        for (int i = 0; i < 40; ++i) {
            const QString c = QString(QChar(u'a' + i % 26));
            scene.typeText(c);
            typed += c;
            if (i % 8 == 3) {
                phone.stop();
                ++drops;
                QTRY_COMPARE_WITH_TIMEOUT(scene.link()->state(), State::Offline, kWait);
            } else if (i % 8 == 7) {
                QVERIFY(phone.start(address, 8080));
            }
            QTest::qWait(30); // the user's pace, not a check
        }
        QVERIFY(phone.isRunning());
        QCOMPARE(drops, 5);
        QCOMPARE(text(scene), QStringLiteral("start:") + typed);
        QTRY_COMPARE_WITH_TIMEOUT(phone.content(), QStringLiteral("start:") + typed, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(statusText(scene).startsWith(QStringLiteral("已同步")), kWait);
        QVERIFY(scene.find(QStringLiteral("conflictBanner"))->property("visible").toBool() == false);
    }

    void editsOnBothSidesMerge() {
        Session session;
        QVERIFY(session.open(QStringLiteral("127.0.6.2"), 2, QStringLiteral("alpha beta gamma")));
        SceneFixture& scene = *session.scene;
        NoteServer& phone = session.phone;
        QVERIFY(session.dropPhone());
        scene.item(QStringLiteral("textEdit"))->forceActiveFocus();
        scene.key(Qt::Key_Home, Qt::ControlModifier);
        scene.typeText(QStringLiteral("X "));
        phone.setContent(QStringLiteral("alpha beta gamma, from the phone")); // edited there meanwhile
        QVERIFY(session.phoneBack());
        QTRY_COMPARE_WITH_TIMEOUT(phone.content(), QStringLiteral("X alpha beta gamma, from the phone"),
                                  kWait);
        QCOMPARE(text(scene), QStringLiteral("X alpha beta gamma, from the phone"));
        QVERIFY(!scene.find(QStringLiteral("conflictBanner"))->property("visible").toBool());
    }

    void overlappingEditsAreOffered() {
        Session session;
        QVERIFY(session.open(QStringLiteral("127.0.6.3"), 3, QStringLiteral("one two")));
        SceneFixture& scene = *session.scene;
        NoteServer& phone = session.phone;
        QVERIFY(session.dropPhone());
        scene.item(QStringLiteral("textEdit"))->forceActiveFocus();
        scene.key(Qt::Key_A, Qt::ControlModifier);
        scene.typeText(QStringLiteral("mine"));
        phone.setContent(QStringLiteral("theirs"));
        QVERIFY(session.phoneBack());

        // The phone's text shows; the local one is offered, never dropped silently.
        QQuickItem* banner = scene.item(QStringLiteral("conflictBanner"));
        QTRY_VERIFY_WITH_TIMEOUT(banner->isVisible(), kWait);
        QCOMPARE(text(scene), QStringLiteral("theirs"));
        QCOMPARE(scene.attrs()->outStack().last(), QStringLiteral("mine"));
        QVERIFY(scene.item(QStringLiteral("scrollView"))->y() >= banner->height()); // not covered
        scene.click(scene.item(QStringLiteral("btnKeepLocal")));
        QCOMPARE(text(scene), QStringLiteral("mine"));
        QVERIFY(!banner->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(phone.content(), QStringLiteral("mine"), kWait);
    }

    void brokenLoadTakesNoTyping_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no note") << QByteArray(R"({"code":0})") << QStringLiteral("手机上没有打开纯文本便签");
        QTest::newRow("a top-level array") << QByteArray("[1]") << QString();
        QTest::newRow("not a note") << QByteArray(R"({"code":1,"data":{"noteId":4}})")
                                    << QStringLiteral("手机发来的便签无法使用");
    }

    void brokenLoadTakesNoTyping() {
        QFETCH(QByteArray, body);
        QFETCH(QString, reason);
        NoteServer phone;
        const QString address = QStringLiteral("127.0.6.4");
        QVERIFY(phone.start(address, 8080));
        phone.openNote(QJsonValue(4), QStringLiteral("never shown"));
        phone.setOverride(QStringLiteral("/desktop/getNote/"),
                          [body](const Request&) { return Reply::json(body); });
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QVERIFY(scene.activate());
        scene.link()->updateIp(address);
        QTRY_COMPARE_WITH_TIMEOUT(phone.requestCount(QStringLiteral("/desktop/getNote/")), 1, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(pushesIdle(scene) && !scene.link()->editable(), kWait);
        QVERIFY(scene.textEdit()->property("readOnly").toBool());
        scene.item(QStringLiteral("textEdit"))->forceActiveFocus();
        scene.typeText(QStringLiteral("typed into nothing"));
        QCOMPARE(text(scene), QString());
        QCOMPARE(phone.requestCount(kContentPath), 0);
        if (!reason.isEmpty()) {
            QTRY_VERIFY_WITH_TIMEOUT(scene.item(QStringLiteral("tvReason"))->isVisible(), kWait);
            QCOMPARE(scene.item(QStringLiteral("tvReason"))->property("text").toString(), reason);
        }
    }

    void refusingPhoneBacksOffAndSaysSo() {
        Session session;
        QVERIFY(session.open(QStringLiteral("127.0.6.5"), 5, QStringLiteral("n")));
        SceneFixture& scene = *session.scene;
        NoteServer& phone = session.phone;
        phone.setOverride(kContentPath, [](const Request&) { return Reply::json("{}", 500); });
        const int before = phone.requestCount(kContentPath);
        QVERIFY(focusEnd(scene));
        scene.typeText(QStringLiteral("!"));
        QTRY_VERIFY_WITH_TIMEOUT(statusText(scene).contains(QStringLiteral("HTTP 500")), kWait);
        // Ten heartbeats later: one retry at most (after a second), not one per heartbeat.
        const int heartbeats = phone.requestCount(QStringLiteral("/desktop/heartBeat/"));
        QTRY_VERIFY_WITH_TIMEOUT(
            phone.requestCount(QStringLiteral("/desktop/heartBeat/")) >= heartbeats + 10, kWait);
        QVERIFY2(phone.requestCount(kContentPath) - before <= 2,
                 qPrintable(QString::number(phone.requestCount(kContentPath) - before)));
        phone.clearOverrides();
        QTRY_COMPARE_WITH_TIMEOUT(phone.content(), QStringLiteral("n!"), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(statusText(scene).startsWith(QStringLiteral("已同步")), kWait);
    }

    void failedSaveIsRetriedAndReported() {
        Session session;
        QVERIFY(session.open(QStringLiteral("127.0.6.6"), 6, QStringLiteral("n")));
        SceneFixture& scene = *session.scene;
        NoteServer& phone = session.phone;
        // The phone drops save requests until the failure has been seen.
        std::atomic<bool> dropSaves{true};
        std::atomic<int> saves{0};
        phone.setOverride(kSavePath, [&](const Request&) {
            ++saves;
            return dropSaves ? std::optional<Reply>(Reply::dropped()) : std::nullopt;
        });
        QVERIFY(focusEnd(scene));
        scene.key(Qt::Key_S, Qt::ControlModifier);
        QTRY_VERIFY_WITH_TIMEOUT(statusText(scene).startsWith(QStringLiteral("保存失败")), kWait);
        dropSaves = false;
        QTRY_COMPARE_WITH_TIMEOUT(phone.saveCount(), 1, kWait); // a retry, counted by the phone
        QTRY_VERIFY_WITH_TIMEOUT(statusText(scene).startsWith(QStringLiteral("已保存")), kWait);
        QVERIFY(saves.load() >= 2);
    }

    void crashLosesNothing() {
        NoteServer phone;
        const QString address = QStringLiteral("127.0.6.7");
        QVERIFY(phone.start(address, 8080));
        phone.openNote(QJsonValue(7), QStringLiteral("kept "));
        phone.setOverride(kContentPath, [](const Request&) { return Reply::json("{}", 500); });
        QTemporaryDir dir;

        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--type-and-wait"), dir.path(), address,
                     QStringLiteral("through a crash")});
        QVERIFY(child.waitForStarted());
        QByteArray output;
        QVERIFY(QTest::qWaitFor(
            [&] {
                output += child.readAllStandardOutput();
                return output.contains("typed") || child.state() != QProcess::Running;
            },
            kWait));
        QCOMPARE(child.state(), QProcess::Running);
        QTRY_VERIFY_WITH_TIMEOUT(!journalFiles(dir.path()).isEmpty(), kWait);
        child.kill(); // SIGKILL: nothing of the program runs any more
        QVERIFY(child.waitForFinished());
        QCOMPARE(phone.content(), QStringLiteral("kept "));

        phone.clearOverrides();
        SceneFixture again(dir.path());
        QVERIFY(again.activate());
        QVERIFY(connectTo(again, address));
        QCOMPARE(text(again), QStringLiteral("kept through a crash"));
        QTRY_COMPARE_WITH_TIMEOUT(phone.content(), QStringLiteral("kept through a crash"), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(journalFiles(dir.path()).isEmpty(), kWait);
    }

    // A note that is one endless word would take seconds to lay out word by
    // word: such a note wraps anywhere; every other note at word boundaries.
    void endlessWordsWrapAnywhere_data() {
        QTest::addColumn<QString>("note");
        QTest::addColumn<bool>("anywhere");
        QTest::newRow("words") << QStringLiteral("some words\nand lines ").repeated(2000) << false;
        QTest::newRow("ideographs without spaces") << QStringLiteral("便签的一行").repeated(2000) << false;
        QTest::newRow("a long word") << QString(1999, QLatin1Char('a')) + QStringLiteral(" b") << false;
        QTest::newRow("one endless word") << QString(300000, QLatin1Char('a')) << true;
        QTest::newRow("endless word after words")
            << QStringLiteral("intro ") + QString(5000, QLatin1Char('x')) << true;
    }

    void endlessWordsWrapAnywhere() {
        QFETCH(QString, note);
        QFETCH(bool, anywhere);
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QVERIFY(scene.openNote(QJsonValue(10), note));
        QCOMPARE(text(scene), note);
        QCOMPARE(scene.textEdit()->property("wrapMode").toInt(),
                 anywhere ? int(QQuickTextEdit_WrapAnywhere) : int(QQuickTextEdit_Wrap));
    }

    // ---- Keyboard and mouse ----------------------------------------------

    void openDialogKeepsKeysFromTheNote_data() {
        QTest::addColumn<int>("openKey");
        QTest::addColumn<QString>("dialog");
        QTest::newRow("font size") << int(Qt::Key_T) << "fontSizeDialog";
        QTest::newRow("padding") << int(Qt::Key_P) << "paddingDialog";
    }

    void openDialogKeepsKeysFromTheNote() {
        QFETCH(int, openKey);
        QFETCH(QString, dialog);
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QVERIFY(scene.activate());
        QVERIFY(scene.openNote(QJsonValue(8), QStringLiteral("note")));
        QVERIFY(focusEnd(scene));
        scene.key(Qt::Key(openKey), Qt::ControlModifier);
        QTRY_VERIFY(scene.find(dialog)->property("opened").toBool());
        const int sent = scene.phone()->sentCount(kContentPath);
        scene.key(Qt::Key_Tab);
        scene.typeText(QStringLiteral("abc"));
        scene.key(Qt::Key_Return);
        QCOMPARE(text(scene), QStringLiteral("note"));
        QCOMPARE(scene.phone()->sentCount(kContentPath), sent);
        // The slider takes the arrow keys.
        const QString setting = dialog == QLatin1String("fontSizeDialog") ? QStringLiteral("fontSize")
                                                                         : QStringLiteral("padding");
        const int value = scene.settings()->property(setting.toLatin1()).toInt();
        scene.key(Qt::Key_Right);
        QVERIFY(scene.settings()->property(setting.toLatin1()).toInt() > value);
        // Closed, the note has the keys again.
        scene.key(Qt::Key_Escape);
        QTRY_VERIFY(!scene.find(dialog)->property("visible").toBool());
        QTRY_VERIFY(scene.item(QStringLiteral("textEdit"))->hasActiveFocus());
        scene.typeText(QStringLiteral("!"));
        QCOMPARE(text(scene), QStringLiteral("note!"));
    }

    void clickBelowAShortNoteFocusesTheEditorAtTheEnd() {
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QVERIFY(scene.activate());
        QVERIFY(scene.openNote(QJsonValue(9), QStringLiteral("short\nnote")));
        // After a load the editor has the focus.
        QTRY_VERIFY(scene.item(QStringLiteral("textEdit"))->hasActiveFocus());
        scene.item(QStringLiteral("ipInput"))->forceActiveFocus();
        QQuickItem* page = scene.item(QStringLiteral("scrollView"));
        scene.click(page, QPointF(page->width() / 2, page->height() - 60));
        QTRY_VERIFY(scene.item(QStringLiteral("textEdit"))->hasActiveFocus());
        QCOMPARE(scene.textEdit()->property("cursorPosition").toInt(), 10);
        scene.typeText(QStringLiteral("!"));
        QCOMPARE(text(scene), QStringLiteral("short\nnote!"));
    }
};

int main(int argc, char** argv) {
    if (argc > 4 && std::strcmp(argv[1], "--type-and-wait") == 0)
        return runTypingChild(argc, argv);
    QApplication app(argc, argv);
    SceneSyncTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_scene_sync.moc"
