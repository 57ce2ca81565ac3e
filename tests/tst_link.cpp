// The phone link against the fake phone over real HTTP: heartbeat states,
// note loading, the edit pushes and their ordering, timeouts and recovery.

#include "link/PhoneLink.h"
#include "link/PushQueue.h"
#include "link/protocol/Protocol.h"
#include "sim/NoteServer.h"
#include "state/Attrs.h"
#include "tools/History.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <memory>
#include <mutex>

using tavrin::Attrs;
using tavrin::PhoneLink;
using tavrin::sim::NoteServer;
using tavrin::sim::Reply;
using tavrin::sim::Request;

namespace {

constexpr int kWait = 10000;

// Stands in for the scene's editor: it takes the link's assignments and reports
// every change of its text back, as the real editor's notifications do.
class FakeEditor : public QObject {
public:
    FakeEditor(PhoneLink* link, Attrs* attrs)
        : m_link(link) {
        connect(link, &PhoneLink::assignEditorText, this, &FakeEditor::assign);
        connect(attrs->history(), &tavrin::History::restoreText, this, &FakeEditor::assign);
        connect(link, &PhoneLink::connectionScreenChanged, this,
                [this, link] { connectionScreen = link->connectionScreen(); });
    }

    void assign(const QString& text) {
        if (text == m_text)
            return;
        m_text = text;
        m_link->justUpdateContent(m_text);
    }

    void type(const QString& chars) {
        m_text += chars;
        m_link->justUpdateContent(m_text);
        m_link->postSelection(m_text.size(), m_text.size());
    }

    QString text() const { return m_text; }
    bool connectionScreen = true;

private:
    PhoneLink* m_link;
    QString m_text;
};

struct Rig {
    Attrs attrs;
    PhoneLink link;
    FakeEditor editor{&link, &attrs};
    NoteServer phone;
    QString address;

    explicit Rig(const QString& loopbackAddress)
        : address(loopbackAddress) {
        link.setAttrs(&attrs);
    }

    bool startPhone() { return phone.start(address, 8080); }

    // Address entered, phone answering with its open note, note loaded.
    bool connectAndLoad() {
        link.updateIp(address);
        return QTest::qWaitFor([this] { return attrs.isLoadOk(); }, kWait);
    }

    QStringList pushedContents() const {
        QStringList contents;
        for (const Request& r : phone.requests(QStringLiteral("/desktop/modifyNoteContent/")))
            contents << r.form.value(QStringLiteral("content"));
        return contents;
    }
};

Reply heartbeatReply(const QJsonObject& object) {
    return Reply::json(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

} // namespace

class LinkTest : public QObject {
    Q_OBJECT

private slots:
    void firstValidAddressStartsTheHeartbeat() {
        Rig rig(QStringLiteral("127.0.0.60"));
        QVERIFY(rig.startPhone());
        QSignalSpy updateChecks(&rig.link, &PhoneLink::automaticUpdateCheckRequested);
        QVERIFY(!rig.link.countDown()->isActive());

        rig.link.updateIp(rig.address);
        QVERIFY(rig.link.countDown()->isActive());
        QCOMPARE(rig.link.countDown()->interval(), 1000);
        QCOMPARE(updateChecks.count(), 1);
        // The first heartbeat goes out from the event loop, after the update check.
        QCOMPARE(rig.link.outstandingHeartbeats(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(rig.phone.requestCount(QStringLiteral("/desktop/heartBeat/")) >= 1,
                                 kWait);
        const Request first = rig.phone.requests(QStringLiteral("/desktop/heartBeat/")).first();
        QCOMPARE(first.method, QStringLiteral("GET"));
        QCOMPARE(first.header(QStringLiteral("Content-type")),
                 QStringLiteral("application/x-www-form-urlencoded"));
        QVERIFY(first.body.isEmpty());

        // A later address only replaces the old one.
        NoteServer second;
        QVERIFY(second.start(QStringLiteral("127.0.0.61"), 8080));
        rig.link.updateIp(QStringLiteral("127.0.0.61"));
        QCOMPARE(updateChecks.count(), 1);
        QCOMPARE(rig.attrs.ip(), QStringLiteral("127.0.0.61"));
        QTRY_VERIFY_WITH_TIMEOUT(second.requestCount(QStringLiteral("/desktop/heartBeat/")) >= 1,
                                 kWait);
    }

    void noNoteOpenShowsTheHint() {
        Rig rig(QStringLiteral("127.0.0.62"));
        QVERIFY(rig.startPhone());
        rig.phone.closeNote();
        rig.attrs.setMarkdown(true);
        rig.phone.setOverride(QStringLiteral("/desktop/heartBeat/"), [](const Request&) {
            return heartbeatReply({{"editingNoteId", 0}, {"editingMarkdown", false}});
        });
        rig.link.updateIp(rig.address);
        QTRY_COMPARE_WITH_TIMEOUT(rig.editor.text(), tavrin::link::noNoteHint(), kWait);
        QCOMPARE(rig.attrs.noteId(), QJsonValue(0));
        QVERIFY(!rig.attrs.isLoadOk());
        QVERIFY(!rig.attrs.isMarkdown()); // given in the answer, also with id 0
        QVERIFY(!rig.editor.connectionScreen);
        QCOMPARE(rig.attrs.inStack(), QStringList{tavrin::link::noNoteHint()});
        QCOMPARE(rig.phone.requestCount(QStringLiteral("/desktop/getNote/")), 0);
        QCOMPARE(rig.phone.requestCount(QStringLiteral("/desktop/modifyNoteContent/")), 0);
    }

    void changeOfNoteLoadsAndPushesBackOnce() {
        Rig rig(QStringLiteral("127.0.0.63"));
        QVERIFY(rig.startPhone());
        rig.phone.openNote(QJsonValue(37), QStringLiteral("第一行\nline two"), true);
        rig.attrs.history()->addToInStack(QStringLiteral("older"));
        rig.attrs.history()->addToOutStack(QStringLiteral("older"));
        QList<QUrl> backgrounds;
        connect(&rig.link, &PhoneLink::backgroundSourceChanged, this,
                [&] { backgrounds << rig.link.backgroundSource(); });

        QVERIFY(rig.connectAndLoad());
        QCOMPARE(rig.editor.text(), QStringLiteral("第一行\nline two"));
        QCOMPARE(rig.attrs.noteId(), QJsonValue(37));
        QVERIFY(rig.attrs.isMarkdown());
        QVERIFY(!rig.editor.connectionScreen);
        // Histories emptied, then the loaded text is their first entry.
        QCOMPARE(rig.attrs.inStack(), QStringList{QStringLiteral("第一行\nline two")});
        QVERIFY(rig.attrs.outStack().isEmpty());
        QCOMPARE(backgrounds,
                 (QList<QUrl>{QUrl(),
                              QUrl(QStringLiteral("http://127.0.0.63:8080/desktop/bgPicture/"))}));

        QTRY_COMPARE_WITH_TIMEOUT(
            rig.phone.requestCount(QStringLiteral("/desktop/modifyNoteContent/")), 1, kWait);
        const Request push =
            rig.phone.requests(QStringLiteral("/desktop/modifyNoteContent/")).first();
        QCOMPARE(push.body,
                 QByteArray("noteId=37&content=%E7%AC%AC%E4%B8%80%E8%A1%8C%0Aline%20two"));
        QCOMPARE(push.header(QStringLiteral("Content-type")),
                 QStringLiteral("application/x-www-form-urlencoded"));

        // More heartbeats for the same note load nothing again.
        const int heartbeats = rig.phone.requestCount(QStringLiteral("/desktop/heartBeat/"));
        QTRY_VERIFY_WITH_TIMEOUT(
            rig.phone.requestCount(QStringLiteral("/desktop/heartBeat/")) >= heartbeats + 2, kWait);
        QCOMPARE(rig.phone.requestCount(QStringLiteral("/desktop/getNote/")), 1);
        QCOMPARE(rig.phone.requestCount(QStringLiteral("/desktop/modifyNoteContent/")), 1);
    }

    void sameNoteRefreshesTheTitleCount_data() {
        QTest::addColumn<QJsonValue>("count");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("57") << QJsonValue(57) << QVariant(QStringLiteral("57"));
        QTest::newRow("0") << QJsonValue(0) << QVariant(QStringLiteral("0"));
        QTest::newRow("string") << QJsonValue(QStringLiteral("1.2k"))
                                << QVariant(QStringLiteral("1.2k"));
        QTest::newRow("empty string") << QJsonValue(QString()) << QVariant();
        QTest::newRow("absent") << QJsonValue(QJsonValue::Undefined) << QVariant();
    }

    void sameNoteRefreshesTheTitleCount() {
        QFETCH(QJsonValue, count);
        QFETCH(QVariant, expected);
        Rig rig(QStringLiteral("127.0.0.64"));
        QVERIFY(rig.startPhone());
        rig.phone.openNote(QJsonValue(5), QStringLiteral("note"));
        QVERIFY(rig.connectAndLoad());
        QTRY_COMPARE_WITH_TIMEOUT(rig.link.charCountText(), QVariant(QStringLiteral("4")), kWait);
        rig.phone.setOverride(QStringLiteral("/desktop/heartBeat/"), [count](const Request&) {
            QJsonObject answer{{"editingNoteId", 5}};
            if (!count.isUndefined())
                answer.insert(QStringLiteral("editingCharCount"), count);
            return heartbeatReply(answer);
        });
        QTRY_COMPARE_WITH_TIMEOUT(rig.link.charCountText(), expected, kWait);
        QCOMPARE(rig.link.charCountText().isNull(), expected.isNull());
        QVERIFY(rig.attrs.isLoadOk());
        QCOMPARE(rig.phone.requestCount(QStringLiteral("/desktop/getNote/")), 1);
    }

    void failureAndRecovery() {
        Rig rig(QStringLiteral("127.0.0.65"));
        QVERIFY(rig.startPhone());
        rig.phone.openNote(QJsonValue(8), QStringLiteral("phone text"));
        QVERIFY(rig.connectAndLoad());
        QTRY_VERIFY_WITH_TIMEOUT(rig.link.charCountText().isValid(), kWait);
        const QVariant title = rig.link.charCountText();

        rig.phone.stop();
        rig.phone.clearRequests();
        QTRY_VERIFY_WITH_TIMEOUT(rig.editor.connectionScreen, kWait);
        QCOMPARE(rig.attrs.noteId(), QJsonValue(0));
        QVERIFY(!rig.attrs.isLoadOk());
        QCOMPARE(rig.editor.text(), tavrin::link::unreachableHint());
        QCOMPARE(rig.attrs.inStack().last(), tavrin::link::unreachableHint());
        QCOMPARE(rig.link.charCountText(), title); // the title keeps its last count
        // Undo does nothing while the id is 0.
        rig.attrs.history()->postToUndo();
        QCOMPARE(rig.editor.text(), tavrin::link::unreachableHint());

        QVERIFY(rig.phone.start(rig.address, 8080));
        QTRY_VERIFY_WITH_TIMEOUT(rig.attrs.isLoadOk(), kWait);
        // The same note counts as changed: emptied histories, loaded and pushed back again.
        QCOMPARE(rig.editor.text(), QStringLiteral("phone text"));
        QVERIFY(!rig.editor.connectionScreen);
        QCOMPARE(rig.attrs.inStack(), QStringList{QStringLiteral("phone text")});
        QCOMPARE(rig.phone.requestCount(QStringLiteral("/desktop/getNote/")), 1);
        QCOMPARE(rig.phone.requestCount(QStringLiteral("/desktop/bgPicture/")),
                 0); // fetched by the scene
        QTRY_COMPARE_WITH_TIMEOUT(rig.pushedContents(), QStringList{QStringLiteral("phone text")},
                                  kWait);
        // The hint never reached the phone.
        QCOMPARE(rig.phone.content(), QStringLiteral("phone text"));
    }

    void failureStatuses_data() {
        QTest::addColumn<int>("status");
        QTest::newRow("204") << 204;
        QTest::newRow("404") << 404;
        QTest::newRow("500") << 500;
    }

    void failureStatuses() {
        QFETCH(int, status);
        Rig rig(QStringLiteral("127.0.0.66"));
        QVERIFY(rig.startPhone());
        rig.phone.openNote(QJsonValue(3), QStringLiteral("x"));
        QVERIFY(rig.connectAndLoad());
        rig.phone.setOverride(QStringLiteral("/desktop/heartBeat/"), [status](const Request&) {
            return std::optional<Reply>(Reply::json(R"({"editingNoteId":3})", status));
        });
        QTRY_VERIFY_WITH_TIMEOUT(rig.editor.connectionScreen, kWait);
        QCOMPARE(rig.attrs.noteId(), QJsonValue(0));
        QCOMPARE(rig.editor.text(), tavrin::link::unreachableHint());
    }

    void refusedLoadIsNotRetried() {
        Rig rig(QStringLiteral("127.0.0.67"));
        QVERIFY(rig.startPhone());
        rig.phone.openNote(QJsonValue(4), QStringLiteral("secret"));
        rig.phone.setOverride(QStringLiteral("/desktop/getNote/"),
                              [](const Request&) { return Reply::json(R"({"code":0})"); });
        rig.link.updateIp(rig.address);
        QTRY_COMPARE_WITH_TIMEOUT(rig.phone.requestCount(QStringLiteral("/desktop/getNote/")), 1,
                                  kWait);
        QTRY_VERIFY_WITH_TIMEOUT(rig.editor.connectionScreen, kWait);
        QVERIFY(!rig.attrs.isLoadOk());
        QCOMPARE(rig.attrs.noteId(), QJsonValue(4));
        QCOMPARE(rig.editor.text(), QString()); // left alone
        const int heartbeats = rig.phone.requestCount(QStringLiteral("/desktop/heartBeat/"));
        QTRY_VERIFY_WITH_TIMEOUT(
            rig.phone.requestCount(QStringLiteral("/desktop/heartBeat/")) >= heartbeats + 2, kWait);
        QCOMPARE(rig.phone.requestCount(QStringLiteral("/desktop/getNote/")), 1);
        QVERIFY(rig.editor.connectionScreen);
        // Typing while refused is recorded, not pushed.
        rig.editor.type(QStringLiteral("t"));
        QCOMPARE(rig.attrs.inStack(), QStringList{QStringLiteral("t")});
        QTest::qWait(200);
        QCOMPARE(rig.phone.requestCount(QStringLiteral("/desktop/modifyNoteContent/")), 0);
        // The selection push still goes, with the held id.
        QTRY_COMPARE_WITH_TIMEOUT(rig.phone.selectionCount(), 1, kWait);
        QCOMPARE(rig.phone.lastSelection().noteId, QStringLiteral("4"));
    }

    void malformedLoadAnswersNeverLoad_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("not JSON") << QByteArray("<html>oops</html>");
        QTest::newRow("JSON array") << QByteArray("[1,2]");
        QTest::newRow("no data") << QByteArray(R"({"code":1})");
        QTest::newRow("content not a string")
            << QByteArray(R"({"code":1,"data":{"noteId":9,"markdown":false,"content":5}})");
        QTest::newRow("no markdown flag")
            << QByteArray(R"({"code":1,"data":{"noteId":9,"content":"x"}})");
    }

    void malformedLoadAnswersNeverLoad() {
        QFETCH(QByteArray, body);
        Rig rig(QStringLiteral("127.0.0.68"));
        QVERIFY(rig.startPhone());
        rig.phone.openNote(QJsonValue(9), QStringLiteral("x"));
        rig.phone.setOverride(QStringLiteral("/desktop/getNote/"),
                              [body](const Request&) { return Reply::json(body); });
        rig.link.updateIp(rig.address);
        QTRY_COMPARE_WITH_TIMEOUT(rig.phone.requestCount(QStringLiteral("/desktop/getNote/")), 1,
                                  kWait);
        QTest::qWait(300);
        QVERIFY(!rig.attrs.isLoadOk());
        QCOMPARE(rig.editor.text(), QString());
        rig.editor.type(QStringLiteral("typed"));
        QTest::qWait(300);
        QCOMPARE(rig.phone.requestCount(QStringLiteral("/desktop/modifyNoteContent/")), 0);
    }

    void heartbeatWithoutIdCountsAsChange() {
        Rig rig(QStringLiteral("127.0.0.69"));
        QVERIFY(rig.startPhone());
        rig.phone.openNote(QJsonValue(12), QStringLiteral("n"));
        QVERIFY(rig.connectAndLoad());
        rig.phone.setOverride(QStringLiteral("/desktop/heartBeat/"), [](const Request&) {
            return Reply::json(R"({"editingCharCount":1})");
        });
        QTRY_COMPARE_WITH_TIMEOUT(rig.phone.requestCount(QStringLiteral("/desktop/getNote/")), 2,
                                  kWait);
        // The load answer sets the id again; the next id-less heartbeat is a change again.
        QTRY_VERIFY_WITH_TIMEOUT(rig.phone.requestCount(QStringLiteral("/desktop/getNote/")) >= 3,
                                 kWait);
        QVERIFY(rig.attrs.noteId().isUndefined() || rig.attrs.noteId() == QJsonValue(12));
    }

    void notJsonHeartbeatChangesNothing() {
        Rig rig(QStringLiteral("127.0.0.70"));
        QVERIFY(rig.startPhone());
        rig.phone.openNote(QJsonValue(2), QStringLiteral("kept"));
        QVERIFY(rig.connectAndLoad());
        QTRY_VERIFY_WITH_TIMEOUT(rig.link.charCountText().isValid(), kWait);
        rig.phone.setOverride(QStringLiteral("/desktop/heartBeat/"), [](const Request&) {
            return std::optional<Reply>(Reply::json("not json", 200));
        });
        rig.phone.setContent(QStringLiteral("a longer text"));
        const int heartbeats = rig.phone.requestCount(QStringLiteral("/desktop/heartBeat/"));
        QTRY_VERIFY_WITH_TIMEOUT(
            rig.phone.requestCount(QStringLiteral("/desktop/heartBeat/")) >= heartbeats + 2, kWait);
        QVERIFY(rig.attrs.isLoadOk());
        QCOMPARE(rig.attrs.noteId(), QJsonValue(2));
        QCOMPARE(rig.link.charCountText(), QVariant(QStringLiteral("4")));
        QCOMPARE(rig.editor.text(), QStringLiteral("kept"));
    }

    void lateAnswersApplyInCompletionOrder() {
        Rig rig(QStringLiteral("127.0.0.71"));
        QVERIFY(rig.startPhone());
        // The first heartbeat is answered late with note 1, the second at once with
        // note 2; loads never answer, so only heartbeats set the id.
        std::mutex mutex;
        int served = 0;
        rig.phone.setOverride(QStringLiteral("/desktop/heartBeat/"), [&](const Request&) {
            std::lock_guard<std::mutex> lock(mutex);
            ++served;
            if (served == 1) {
                Reply late = heartbeatReply({{"editingNoteId", 1}});
                late.delayMs = 1800;
                return std::optional<Reply>(late);
            }
            if (served == 2)
                return std::optional<Reply>(heartbeatReply({{"editingNoteId", 2}}));
            return std::optional<Reply>(Reply::hanging());
        });
        rig.phone.setOverride(QStringLiteral("/desktop/getNote/"), [](const Request&) {
            return std::optional<Reply>(Reply::hanging());
        });
        QList<QJsonValue> ids;
        connect(&rig.attrs, &Attrs::noteIdChanged, this, [&] { ids << rig.attrs.noteId(); });
        rig.link.updateIp(rig.address);
        QTRY_COMPARE_WITH_TIMEOUT(ids, (QList<QJsonValue>{QJsonValue(2), QJsonValue(1)}), kWait);
        // Both answers were changes of note, each with its own load.
        QTRY_COMPARE_WITH_TIMEOUT(rig.phone.requestCount(QStringLiteral("/desktop/getNote/")), 2,
                                  kWait);
        rig.phone.clearOverrides();
        rig.phone.releaseHanging();
    }

    // ---- Pushes ----------------------------------------------------------

    void typingPushesInOrderUnderRandomDelays() {
        Rig rig(QStringLiteral("127.0.0.72"));
        QVERIFY(rig.startPhone());
        rig.phone.openNote(QJsonValue(21), QString());
        QVERIFY(rig.connectAndLoad());
        rig.phone.setDelay([](const Request& r) {
            return r.method == QLatin1String("POST") ? int(QRandomGenerator::global()->bounded(40))
                                                     : 0;
        });
        QStringList textAtSave;
        for (int i = 0; i < 200; ++i) {
            rig.editor.type(QString(QChar(u'a' + i % 26)));
            if (i % 50 == 49) {
                rig.link.postToSaveNow();
                textAtSave << rig.editor.text();
            }
            if (i % 7 == 0)
                QTest::qWait(QRandomGenerator::global()->bounded(15));
        }
        QTRY_COMPARE_WITH_TIMEOUT(rig.phone.content(), rig.editor.text(), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(rig.phone.saveCount(), 4, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.link.pushQueue()->isBusy(), kWait);
        QCOMPARE(rig.phone.content(), rig.editor.text());
        QCOMPARE(rig.phone.lastSelection().start, 200);

        // Each save came after the text typed before it, and nothing overtook anything.
        QString lastContent;
        int saves = 0;
        const QList<Request> all = rig.phone.requests();
        for (const Request& r : all) {
            if (r.path == QLatin1String("/desktop/modifyNoteContent/")) {
                const QString content = r.form.value(QStringLiteral("content"));
                QVERIFY2(content.size() >= lastContent.size(),
                         "an older text arrived after a newer one");
                lastContent = content;
            } else if (r.path == QLatin1String("/desktop/saveNow/")) {
                QCOMPARE(lastContent, textAtSave.at(saves++));
            }
        }
        QCOMPARE(saves, 4);
        // Waiting pushes were merged: far fewer than one request per keystroke.
        QVERIFY(rig.pushedContents().size() < 200);
    }

    void repeatedSavesWaitOnce() {
        Rig rig(QStringLiteral("127.0.0.78"));
        QVERIFY(rig.startPhone());
        rig.phone.openNote(QJsonValue(33), QStringLiteral("n"));
        QVERIFY(rig.connectAndLoad());
        QTRY_VERIFY_WITH_TIMEOUT(!rig.link.pushQueue()->isBusy(), kWait);
        rig.phone.setOverride(QStringLiteral("/desktop/saveNow/"), [](const Request&) {
            Reply slow = Reply::json(R"({"code":1})");
            slow.delayMs = 500;
            return std::optional<Reply>(slow);
        });
        for (int i = 0; i < 10; ++i)
            rig.link.postToSaveNow();
        QCOMPARE(rig.link.pushQueue()->waitingCount(), 1); // one in flight, one waiting
        rig.editor.type(QStringLiteral("x"));
        rig.link.postToSaveNow();
        QCOMPARE(rig.link.pushQueue()->waitingCount(), 4);
        QTRY_COMPARE_WITH_TIMEOUT(rig.phone.requestCount(QStringLiteral("/desktop/saveNow/")), 3,
                                  kWait);
        QTRY_COMPARE_WITH_TIMEOUT(rig.phone.content(), QStringLiteral("nx"), kWait);
    }

    void failedContentPushIsMadeGood() {
        Rig rig(QStringLiteral("127.0.0.73"));
        QVERIFY(rig.startPhone());
        rig.phone.openNote(QJsonValue(30), QStringLiteral("base"));
        QVERIFY(rig.connectAndLoad());
        QTRY_COMPARE_WITH_TIMEOUT(rig.phone.appliedContentCount(), 1, kWait);
        std::atomic<int> failures{0};
        rig.phone.setOverride(QStringLiteral("/desktop/modifyNoteContent/"), [&](const Request&) {
            if (failures++ == 0)
                return std::optional<Reply>(Reply::json("{}", 500));
            return std::optional<Reply>();
        });
        rig.editor.type(QStringLiteral("!"));
        QTRY_COMPARE_WITH_TIMEOUT(failures.load(), 1, kWait);
        QCOMPARE(rig.phone.content(), QStringLiteral("base"));
        // The next good heartbeat sends the newest text again.
        QTRY_COMPARE_WITH_TIMEOUT(rig.phone.content(), QStringLiteral("base!"), kWait);
    }

    void hintsAndMissingAddressesSendNothing() {
        Rig rig(QStringLiteral("127.0.0.74"));
        // No address: the selection push and the save request go nowhere.
        rig.link.postSelection(1, 2);
        rig.link.postToSaveNow();
        QVERIFY(!rig.link.pushQueue()->isBusy());
        QCOMPARE(rig.link.pushQueue()->waitingCount(), 0);

        QVERIFY(rig.startPhone());
        rig.phone.openNote(QJsonValue(31), QStringLiteral("real note"));
        QVERIFY(rig.connectAndLoad());
        QTRY_COMPARE_WITH_TIMEOUT(rig.phone.appliedContentCount(), 1, kWait);
        // A status text that comes back into a loaded editor (undo can do that) is no content.
        rig.editor.assign(tavrin::link::unreachableHint());
        rig.editor.assign(tavrin::link::noNoteHint());
        rig.editor.assign(QStringLiteral("real note 2"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.phone.content(), QStringLiteral("real note 2"), kWait);
        QCOMPARE(rig.pushedContents(),
                 (QStringList{QStringLiteral("real note"), QStringLiteral("real note 2")}));
        // A lone surrogate cannot be encoded: that text is not pushed, the next one is.
        rig.editor.assign(QStringLiteral("bad ") + QChar(0xD800));
        rig.editor.assign(QStringLiteral("good"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.phone.content(), QStringLiteral("good"), kWait);
        QCOMPARE(rig.pushedContents().size(), 3);
    }

    void vanishedPhoneIsNoticedAndRequestsStayBounded() {
        Rig rig(QStringLiteral("127.0.0.75"));
        QVERIFY(rig.startPhone());
        rig.phone.openNote(QJsonValue(40), QStringLiteral("note"));
        QVERIFY(rig.connectAndLoad());

        // The phone keeps its connections but never answers again.
        rig.phone.setHangAll(true);
        QElapsedTimer sinceVanished;
        sinceVanished.start();
        rig.editor.type(QStringLiteral("x"));
        QTRY_VERIFY_WITH_TIMEOUT(rig.editor.connectionScreen, 5000);
        QVERIFY(sinceVanished.elapsed() <= 5000);
        QCOMPARE(rig.editor.text(), tavrin::link::unreachableHint());

        // Keep it vanished for a while: outstanding requests stay bounded.
        int mostHeartbeats = 0;
        int mostHanging = 0;
        QElapsedTimer watch;
        watch.start();
        while (watch.elapsed() < 6000) {
            mostHeartbeats = qMax(mostHeartbeats, rig.link.outstandingHeartbeats());
            // Requests the link still waits for (replies live until they are handled).
            mostHanging = qMax(mostHanging, int(rig.link.findChildren<QNetworkReply*>().size()));
            QTest::qWait(100);
        }
        QVERIFY(mostHeartbeats <= tavrin::link::Timings{}.maxOutstandingHeartbeats);
        QVERIFY2(mostHanging > 0 && mostHanging <= tavrin::link::Timings{}.maxOutstandingHeartbeats + 2,
                 qPrintable(QString::number(mostHanging)));
        QVERIFY(rig.link.pushQueue()->waitingCount() <= 1);
        rig.phone.setHangAll(false);
        rig.phone.releaseHanging();
    }

    void editsTypedBeforeADropAreRecoverable() {
        Rig rig(QStringLiteral("127.0.0.76"));
        QVERIFY(rig.startPhone());
        rig.phone.openNote(QJsonValue(50), QStringLiteral("draft"));
        QVERIFY(rig.connectAndLoad());
        QTRY_COMPARE_WITH_TIMEOUT(rig.phone.appliedContentCount(), 1, kWait);

        // The link goes bad: what is typed now never reaches the phone.
        rig.phone.setOverride(QStringLiteral("/desktop/modifyNoteContent/"), [](const Request&) {
            return std::optional<Reply>(Reply::dropped());
        });
        rig.editor.type(QStringLiteral(" and the ending"));
        QTRY_VERIFY_WITH_TIMEOUT(
            rig.phone.requestCount(QStringLiteral("/desktop/modifyNoteContent/")) >= 2, kWait);
        rig.phone.stop();
        QTRY_COMPARE_WITH_TIMEOUT(rig.editor.text(), tavrin::link::unreachableHint(), kWait);

        // The phone comes back with the same note: it is loaded afresh...
        rig.phone.clearOverrides();
        QVERIFY(rig.phone.start(rig.address, 8080));
        QTRY_VERIFY_WITH_TIMEOUT(rig.attrs.isLoadOk(), kWait);
        QCOMPARE(rig.editor.text(), QStringLiteral("draft"));
        // ...and redo brings back what was typed before the drop, which then goes to the phone.
        QCOMPARE(rig.attrs.outStack(), QStringList{QStringLiteral("draft and the ending")});
        rig.attrs.history()->postToRedo();
        QCOMPARE(rig.editor.text(), QStringLiteral("draft and the ending"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.phone.content(), QStringLiteral("draft and the ending"),
                                  kWait);
    }

    void confirmedEditsAreNotOfferedAgain() {
        Rig rig(QStringLiteral("127.0.0.77"));
        QVERIFY(rig.startPhone());
        rig.phone.openNote(QJsonValue(51), QStringLiteral("draft"));
        QVERIFY(rig.connectAndLoad());
        rig.editor.type(QStringLiteral("!"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.phone.content(), QStringLiteral("draft!"), kWait);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.link.pushQueue()->isBusy(), kWait);
        rig.phone.stop();
        QTRY_VERIFY_WITH_TIMEOUT(rig.editor.connectionScreen, kWait);
        QVERIFY(rig.phone.start(rig.address, 8080));
        QTRY_VERIFY_WITH_TIMEOUT(rig.attrs.isLoadOk(), kWait);
        QCOMPARE(rig.editor.text(), QStringLiteral("draft!"));
        QVERIFY(rig.attrs.outStack().isEmpty());
    }
};

QTEST_GUILESS_MAIN(LinkTest)
#include "tst_link.moc"
