// SPDX-License-Identifier: GPL-3.0-or-later
// The real scene against the fake phone over real HTTP: the note arrives in
// the editor, typing and cursor keys reach the phone, the background and the
// font come from the phone.

#include "link/PhoneLink.h"
#include "link/PushQueue.h"
#include "sim/NoteServer.h"
#include "state/Attrs.h"
#include "support/SceneFixture.h"

#include <QFile>
#include <QFont>
#include <QJsonValue>
#include <QTemporaryDir>
#include <QTest>

using tavrin::PhoneLink;
using tavrin::sim::NoteServer;
using tavrin::sim::Request;

namespace {

constexpr int kWait = 10000;
const QString kContentPath = QStringLiteral("/desktop/modifyNoteContent/");
const QString kSelectionPath = QStringLiteral("/desktop/updateSelection/");

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class SceneLinkTest : public QObject {
    Q_OBJECT

    // Enters the phone's address by typing it, and waits for the note.
    // Waits until every push has gone out.
    static bool pushesIdle(SceneFixture& scene) {
        const tavrin::PushQueue* pushes = scene.link()->pushQueue();
        return !pushes->isBusy() && pushes->waitingCount() == 0;
    }

    static bool settle(SceneFixture& scene) {
        return QTest::qWaitFor([&] { return pushesIdle(scene); }, kWait);
    }

    static QString statusText(SceneFixture& scene) {
        return scene.find(QStringLiteral("tvSyncStatus"))->property("text").toString();
    }

    static bool connect(SceneFixture& scene, const QString& address) {
        scene.click(scene.item("ipInput"));
        if (!QTest::qWaitFor([&] { return scene.item("ipInput")->hasActiveFocus(); }, kWait))
            return false;
        scene.typeText(address);
        return QTest::qWaitFor([&] { return scene.attrs()->isLoadOk(); }, kWait);
    }

private slots:
    void initTestCase() { initSceneTestProcess(); }

    void noteArrivesAndTypingReachesThePhone() {
        NoteServer phone;
        QVERIFY(phone.start(QStringLiteral("127.0.3.1"), 8080));
        phone.openNote(QJsonValue(37), QStringLiteral("hello"));
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QVERIFY(scene.activate());
        QVERIFY(connect(scene, QStringLiteral("127.0.3.1")));

        QObject* edit = scene.textEdit();
        QCOMPARE(edit->property("text").toString(), QStringLiteral("hello"));
        QVERIFY(scene.item("scrollView")->isVisible());
        QVERIFY(!scene.item("ipLayout")->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(scene.window()->title(), QStringLiteral("Tavrin ( 5 字)"), kWait);
        QCOMPARE(scene.item("ivBg")->property("source").toUrl(),
                 QUrl(QStringLiteral("http://127.0.3.1:8080/desktop/bgPicture/")));
        QTRY_VERIFY_WITH_TIMEOUT(phone.requestCount(QStringLiteral("/desktop/bgPicture/")) >= 1,
                                 kWait);
        // The loaded text went straight back once.
        QTRY_COMPARE_WITH_TIMEOUT(phone.requestCount(kContentPath), 1, kWait);

        // The editor has no focus after the screen switch; click into it, at the end.
        scene.click(scene.item("textEdit"), QPointF(300, 20));
        QTRY_VERIFY_WITH_TIMEOUT(scene.item("textEdit")->hasActiveFocus(), kWait);
        scene.key(Qt::Key_End, Qt::ControlModifier);
        QVERIFY(settle(scene));
        phone.clearRequests();

        // One character: one content push with the whole text, one selection push.
        scene.typeText(QStringLiteral("!"));
        QCOMPARE(edit->property("text").toString(), QStringLiteral("hello!"));
        QTRY_COMPARE_WITH_TIMEOUT(phone.requestCount(kSelectionPath), 1, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(phone.requestCount(kContentPath), 1, kWait);
        QCOMPARE(phone.requests(kContentPath).first().body, QByteArray("noteId=37&content=hello!"));
        QCOMPARE(phone.requests(kSelectionPath).first().body,
                 QByteArray("noteId=37&start=6&end=6"));
        QCOMPARE(phone.content(), QStringLiteral("hello!"));
        QCOMPARE(scene.attrs()->inStack(),
                 (QStringList{QStringLiteral("hello"), QStringLiteral("hello!")}));

        // Shift+Right from a collapsed cursor moves only the end: nothing is sent.
        scene.key(Qt::Key_Left);
        QVERIFY(settle(scene));
        phone.clearRequests();
        scene.key(Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(edit->property("selectionEnd").toInt(), 6);
        // (Pushes are queued as the key is handled: an idle queue means none.)
        QVERIFY(pushesIdle(scene));
        QCOMPARE(phone.requestCount(kSelectionPath), 0);
        // Shift+Left from a collapsed cursor moves the start: one selection push.
        scene.key(Qt::Key_Left);
        scene.key(Qt::Key_Left);
        QVERIFY(settle(scene));
        phone.clearRequests();
        scene.key(Qt::Key_Left, Qt::ShiftModifier);
        QVERIFY(settle(scene));
        QCOMPARE(phone.requestCount(kSelectionPath), 1);
        QCOMPARE(phone.requests(kSelectionPath).first().body,
                 QByteArray("noteId=37&start=3&end=4"));

        // Ctrl+S asks the phone to save.
        scene.key(Qt::Key_S, Qt::ControlModifier);
        QTRY_COMPARE_WITH_TIMEOUT(phone.saveCount(), 1, kWait);
        QCOMPARE(phone.requests(QStringLiteral("/desktop/saveNow/")).first().body,
                 QByteArray("noteId=37"));
        QVERIFY(settle(scene));
        QCOMPARE(phone.requestCount(kContentPath), 0);
        QCOMPARE(phone.requestCount(kSelectionPath), 1);
    }

    // A loaded note stays when its phone goes away: editable, offline, kept.
    // Without a loaded note, the connection screen says why it shows.
    void phoneGoingAwayKeepsTheNote() {
        NoteServer phone;
        QVERIFY(phone.start(QStringLiteral("127.0.3.2"), 8080));
        phone.openNote(QJsonValue(2), QStringLiteral("stays on the phone"));
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QVERIFY(scene.activate());
        QVERIFY(connect(scene, QStringLiteral("127.0.3.2")));
        QTRY_COMPARE_WITH_TIMEOUT(scene.window()->title(), QStringLiteral("Tavrin ( 18 字)"),
                                  kWait);
        QTRY_VERIFY_WITH_TIMEOUT(statusText(scene).startsWith(QStringLiteral("已同步")), kWait);

        phone.stop();
        QTRY_COMPARE_WITH_TIMEOUT(scene.link()->state(), tavrin::link::State::Offline, kWait);
        QVERIFY(scene.item("scrollView")->isVisible());
        QVERIFY(!scene.item("ipLayout")->isVisible());
        QCOMPARE(scene.textEdit()->property("text").toString(), QStringLiteral("stays on the phone"));
        QVERIFY(!scene.textEdit()->property("readOnly").toBool());
        QVERIFY(statusText(scene).startsWith(QStringLiteral("离线")));
        QCOMPARE(scene.window()->title(), QStringLiteral("Tavrin ( 18 字)"));

        // No plain-text note open: the hint, which takes no typing, and the reason below.
        phone.closeNote();
        QVERIFY(phone.start(QStringLiteral("127.0.3.2"), 8080));
        QTRY_COMPARE_WITH_TIMEOUT(scene.textEdit()->property("text").toString(),
                                  tavrin::link::noNoteHint(), kWait);
        QVERIFY(scene.item("scrollView")->isVisible());
        QVERIFY(scene.textEdit()->property("readOnly").toBool());
        QCOMPARE(statusText(scene), QStringLiteral("手机上没有打开纯文本便签"));
        scene.click(scene.item("textEdit"), QPointF(100, 10));
        scene.typeText(QStringLiteral("lost?"));
        QCOMPARE(scene.textEdit()->property("text").toString(), tavrin::link::noNoteHint());
        QCOMPARE(phone.content(), QStringLiteral("stays on the phone"));

        // Gone with no note held: the connection screen, with the reason under the address.
        phone.stop();
        QTRY_VERIFY_WITH_TIMEOUT(scene.item("ipLayout")->isVisible(), kWait);
        QVERIFY(!scene.item("scrollView")->isVisible());
        QVERIFY(scene.item("tvReason")->isVisible());
        QVERIFY(scene.item("tvReason")->property("text").toString().startsWith(
            QStringLiteral("连接不上手机")));
        // The editor had the focus: the keys go to neither field now.
        QVERIFY(!scene.item("ipInput")->hasActiveFocus());
        scene.typeText(QStringLiteral("x"));
        QCOMPARE(scene.item("ipInput")->property("text").toString(), QStringLiteral("127.0.3.2"));
    }

    void editsTypedOfflineReachThePhoneWhenItIsBack() {
        NoteServer phone;
        QVERIFY(phone.start(QStringLiteral("127.0.3.5"), 8080));
        phone.openNote(QJsonValue(60), QStringLiteral("draft"));
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QVERIFY(scene.activate());
        QVERIFY(connect(scene, QStringLiteral("127.0.3.5")));
        QVERIFY(settle(scene));
        // After the load the editor has the focus, the cursor ready.
        QTRY_VERIFY_WITH_TIMEOUT(scene.item("textEdit")->hasActiveFocus(), kWait);

        phone.stop();
        QTRY_COMPARE_WITH_TIMEOUT(scene.link()->state(), tavrin::link::State::Offline, kWait);
        scene.key(Qt::Key_End, Qt::ControlModifier);
        scene.typeText(QStringLiteral(" 结尾"));
        QCOMPARE(scene.textEdit()->property("text").toString(), QStringLiteral("draft 结尾"));
        QTRY_VERIFY_WITH_TIMEOUT(statusText(scene).startsWith(QStringLiteral("离线：3 处修改未发送")),
                                 kWait);

        // Back with the note as it was: what was typed goes to the phone by itself.
        QVERIFY(phone.start(QStringLiteral("127.0.3.5"), 8080));
        QTRY_COMPARE_WITH_TIMEOUT(phone.content(), QStringLiteral("draft 结尾"), kWait);
        QCOMPARE(scene.textEdit()->property("text").toString(), QStringLiteral("draft 结尾"));
        QTRY_VERIFY_WITH_TIMEOUT(statusText(scene).startsWith(QStringLiteral("已同步")), kWait);
        QVERIFY(scene.attrs()->outStack().isEmpty());
    }

    void fontComesFromThePhone() {
        const QByteArray font =
            readFile(QStringLiteral("/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"));
        if (font.isEmpty())
            QSKIP("the CJK font of the install step is not on this machine");
        NoteServer phone;
        QVERIFY(phone.start(QStringLiteral("127.0.3.3"), 8080));
        phone.setFont(font);
        phone.openNote(QJsonValue(3), QStringLiteral("字体"));

        QTemporaryDir dir;
        {
            SceneFixture scene(dir.path());
            QVERIFY(scene.activate());
            QVERIFY(connect(scene, QStringLiteral("127.0.3.3")));
            QObject* loader = scene.find("myFont");
            QTRY_COMPARE_WITH_TIMEOUT(loader->property("status").toInt(), 1, kWait); // Ready
            const QString family = loader->property("name").toString();
            QVERIFY(!family.isEmpty());
            QCOMPARE(scene.textEdit()->property("font").value<QFont>().family(), family);
            // From now on a stored family reaches the editor only at the next Ready.
            scene.settings()->setProperty("fontFamily", QStringLiteral("DejaVu Sans"));
            QCOMPARE(scene.textEdit()->property("font").value<QFont>().family(), family);
        }
        // A stored family wins over the loaded font.
        SceneFixture again(dir.path());
        QObject* loader = again.find("myFont");
        QTRY_COMPARE_WITH_TIMEOUT(loader->property("status").toInt(), 1, kWait);
        QCOMPARE(again.textEdit()->property("font").value<QFont>().family(),
                 QStringLiteral("DejaVu Sans"));
    }
};

QTEST_MAIN(SceneLinkTest)
#include "tst_scene_link.moc"
