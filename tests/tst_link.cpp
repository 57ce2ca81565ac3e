// SPDX-License-Identifier: GPL-3.0-or-later
// The phone link's logic against an in-process phone, with manual ticks: the
// states and screens, loading, the pushes and their merging, resend and the
// edits kept across a drop. Nothing here waits on a clock or a socket.

#include "link/NoteSync.h"
#include "link/PhoneLink.h"
#include "link/PushQueue.h"
#include "state/Attrs.h"
#include "support/FakeEditor.h"
#include "support/FakeTransport.h"
#include "tools/History.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaEnum>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using tavrin::Attrs;
using tavrin::PhoneLink;
using tavrin::PushQueue;
using tavrin::link::State;
using tavrin::transport::Answer;

namespace {

const QString kAddress = QStringLiteral("127.0.0.1");

QByteArray heartbeat(const QJsonValue& id) {
    return QJsonDocument(QJsonObject{{"editingNoteId", id}}).toJson(QJsonDocument::Compact);
}

QByteArray noteAnswer(const QJsonValue& id, const QString& content, bool markdown = false) {
    const QJsonObject data{{"noteId", id}, {"markdown", markdown}, {"content", content}};
    return QJsonDocument(QJsonObject{{"code", 1}, {"data", data}}).toJson(QJsonDocument::Compact);
}

// The link with an in-process phone; the heartbeat ticks only when told.
struct Rig {
    FakeTransport phone;
    Attrs attrs;
    PhoneLink link;
    FakeEditor editor{&link, &attrs};
    QString journalDir;

    // `journal`: a folder for the journal, shared by rigs that play one program run after another.
    explicit Rig(const QString& journal = QString()) {
        static QTemporaryDir fallback;
        journalDir = journal.isEmpty() ? fallback.path() + QStringLiteral("/j") +
                                             QString::number(++rigCount)
                                       : journal;
        link.setAttrs(&attrs);
        link.setTransport(&phone);
        link.setJournalDirectory(journalDir);
        link.setTimings(timings());
    }

    static tavrin::link::Timings timings() {
        tavrin::link::Timings manual;
        manual.heartbeatIntervalMs = 24 * 3600 * 1000;
        manual.journalDelayMs = 0; // written from the next turn of the event loop
        manual.pushRetryMinMs = 5;
        manual.pushRetryMaxMs = 20;
        return manual;
    }
    static inline int rigCount = 0;

    // The note's journal file has been written (or removed), whatever the timer's turn.
    bool journalHolds(const QJsonValue& id, const QString& text) const {
        return QTest::qWaitFor([&] {
            const auto entry = link.sync()->journal().find(kAddress, id);
            return text.isNull() ? !entry : entry && entry->text == text;
        });
    }

    void enterAddress() { link.updateIp(kAddress); }
    // One tick, answered with `body`.
    bool beat(const QByteArray& body) {
        link.heartBeat();
        return phone.answerJson(paths::heartBeat, body);
    }
    bool beat(const QJsonValue& id) { return beat(heartbeat(id)); }
    bool load(const QJsonValue& id, const QString& content, bool markdown = false) {
        return phone.answerJson(paths::getNote, noteAnswer(id, content, markdown));
    }
    // Address entered, note `id` open on the phone and loaded, its push-back confirmed.
    bool open(const QJsonValue& id, const QString& content) {
        enterAddress();
        return beat(id) && load(id, content) && confirmPushes() && attrs.isLoadOk();
    }
    // Answers every push waiting, in order, with `status`.
    bool confirmPushes(int status = 200) {
        while (phone.pendingCount(paths::content) + phone.pendingCount(paths::selection) +
                   phone.pendingCount(paths::save) >
               0) {
            const QList<FakeTransport::Sent> waiting = phone.pending();
            for (const FakeTransport::Sent& sent : waiting) {
                if (sent.method == QLatin1String("POST")) {
                    phone.answer(sent.path(), FakeTransport::json("{\"code\":1}", status));
                    break;
                }
            }
        }
        return true;
    }
    QStringList pushedContents() const {
        QStringList contents;
        for (const FakeTransport::Sent& sent : phone.sent(paths::content))
            contents << sent.formValue(QStringLiteral("content"));
        return contents;
    }
};

State stateNamed(const QString& name) {
    bool ok = false;
    const int value = QMetaEnum::fromType<State>().keyToValue(name.toLatin1().constData(), &ok);
    if (!ok)
        qFatal("no state %s", qPrintable(name));
    return State(value);
}

} // namespace

Q_DECLARE_METATYPE(Answer)

class LinkTest : public QObject {
    Q_OBJECT

private slots:
    // ---- States and screens ----------------------------------------------

    // Each row is a script of steps, each followed by the state it must leave:
    //   addr          a valid address is entered
    //   hb:<id>       a heartbeat answered with that note id (a number or "s:text")
    //   hb:fail       a heartbeat without answer; hb:<status>x an error status
    //   hb:junk       a heartbeat answered with something not JSON
    //   load:<id>     the note load answered with note <id>
    //   load:none / load:bad / load:junk / load:500x   no note, broken note, not JSON, error
    void stateTransitions_data() {
        QTest::addColumn<QString>("script");
        const QString open5 = QStringLiteral("addr>Connecting hb:5>Loading load:5>Loaded ");
        QTest::newRow("address entered") << "addr>Connecting";
        QTest::newRow("phone unreachable") << "addr>Connecting hb:fail>Unreachable";
        QTest::newRow("error status") << "addr>Connecting hb:500x>Unreachable";
        QTest::newRow("no note open") << "addr>Connecting hb:0>NoNote hb:0>NoNote";
        QTest::newRow("note loads") << open5;
        QTest::newRow("same note stays loaded") << open5 + "hb:5>Loaded hb:5>Loaded";
        QTest::newRow("drop and return") << open5 + "hb:fail>Offline hb:fail>Offline hb:5>Loading load:5>Loaded";
        QTest::newRow("drop, then no note") << open5 + "hb:fail>Offline hb:0>NoNote hb:fail>Unreachable";
        QTest::newRow("drop, then another note") << open5 + "hb:fail>Offline hb:6>Loading load:6>Loaded";
        QTest::newRow("drop, load fails on return") << open5 + "hb:fail>Offline hb:5>Loading load:500x>Offline";
        QTest::newRow("drop before any load") << "addr>Connecting hb:5>Loading hb:fail>Unreachable";
        QTest::newRow("note closed, reopened") << open5 + "hb:0>NoNote hb:5>Loading load:5>Loaded";
        QTest::newRow("another note") << open5 + "hb:6>Loading load:6>Loaded";
        QTest::newRow("text ids") << "addr>Connecting hb:s:n-1>Loading load:s:n-1>Loaded hb:s:n-1>Loaded";
        QTest::newRow("phone gives no note, then does") << "addr>Connecting hb:5>Loading load:none>Refused hb:5>Loading load:5>Loaded";
        QTest::newRow("phone gives a broken note") << "addr>Connecting hb:5>Loading load:bad>Refused";
        QTest::newRow("load fails") << "addr>Connecting hb:5>Loading load:500x>Unreachable";
        QTest::newRow("not JSON heartbeat changes nothing") << open5 + "hb:junk>Loaded";
        QTest::newRow("not JSON before any note") << "addr>Connecting hb:junk>Connecting";
        QTest::newRow("not JSON load answer") << "addr>Connecting hb:5>Loading load:junk>Refused hb:5>Loading";
        // A load that fails is asked again after 1, 2, 4 … heartbeats.
        QTest::newRow("failed loads back off")
            << "addr>Connecting hb:5>Loading load:500x>Unreachable hb:5>Loading load:500x>Unreachable "
               "hb:5>Unreachable hb:5>Loading load:junk>Refused hb:5>Refused hb:5>Refused hb:5>Refused "
               "hb:5>Loading load:5>Loaded";
        // Another note whose load is unusable: the old note's text is not kept for it.
        QTest::newRow("another note, broken") << open5 + "hb:6>Loading load:junk>Refused hb:6>Loading load:6>Loaded";
        QTest::newRow("drop, return fails, retried") << open5 + "hb:fail>Offline hb:5>Loading load:500x>Offline hb:5>Offline load:5>Loaded";
        QTest::newRow("half a surrogate pair in the note") << "addr>Connecting hb:5>Loading load:lone>Refused";
        QTest::newRow("half a surrogate pair in the id") << "addr>Connecting hb:s:y>Loading load:loneid>Refused";
        QTest::newRow("a note longer than the editor takes") << "addr>Connecting hb:5>Loading load:long>Refused hb:5>Loading load:5>Loaded";
        QTest::newRow("an answer beyond the size limit") << "addr>Connecting hb:5>Loading load:huge>Refused";
        QTest::newRow("an unknown charset") << "addr>Connecting hb:5>Loading load:charset>Refused";
        QTest::newRow("a heartbeat without id is a change")
            << open5 + "hb:{}>Loading load:5>Loaded";
    }

    void stateTransitions() {
        QFETCH(QString, script);
        Rig rig;
        QSignalSpy stateChanges(&rig.link, &PhoneLink::stateChanged);
        QSignalSpy screenChanges(&rig.link, &PhoneLink::connectionScreenChanged);
        QCOMPARE(rig.link.state(), State::NoAddress);
        QVERIFY(rig.link.connectionScreen());
        State last = State::NoAddress;
        int expectedStateSignals = 0;
        int expectedScreenSignals = 0;
        for (const QString& step : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QString action = step.section(QLatin1Char('>'), 0, 0);
            const State expected = stateNamed(step.section(QLatin1Char('>'), 1));
            const QString kind = action.section(QLatin1Char(':'), 0, 0);
            const QString arg = action.section(QLatin1Char(':'), 1, -1);
            const QJsonValue id = arg.startsWith(QLatin1String("s:")) ? QJsonValue(arg.mid(2))
                                                                       : QJsonValue(arg.toInt());
            if (kind == QLatin1String("addr")) {
                rig.enterAddress();
            } else if (kind == QLatin1String("hb")) {
                rig.link.heartBeat();
                if (arg == QLatin1String("fail"))
                    QVERIFY(rig.phone.fail(paths::heartBeat));
                else if (arg.endsWith(QLatin1Char('x')))
                    QVERIFY(rig.phone.answerJson(paths::heartBeat, heartbeat(5), arg.chopped(1).toInt()));
                else if (arg == QLatin1String("junk"))
                    QVERIFY(rig.phone.answerJson(paths::heartBeat, "<html>"));
                else if (arg.startsWith(QLatin1Char('{')))
                    QVERIFY(rig.phone.answerJson(paths::heartBeat, arg.toLatin1()));
                else
                    QVERIFY(rig.phone.answerJson(paths::heartBeat, heartbeat(id)));
            } else if (kind == QLatin1String("load")) {
                if (arg == QLatin1String("none"))
                    QVERIFY(rig.phone.answerJson(paths::getNote, R"({"code":0})"));
                else if (arg == QLatin1String("bad"))
                    QVERIFY(rig.phone.answerJson(paths::getNote, R"({"code":1,"data":{"noteId":5}})"));
                else if (arg == QLatin1String("junk"))
                    QVERIFY(rig.phone.answerJson(paths::getNote, "{oops"));
                else if (arg.endsWith(QLatin1Char('x')))
                    QVERIFY(rig.phone.answerJson(paths::getNote, "{}", arg.chopped(1).toInt()));
                else if (arg == QLatin1String("long"))
                    QVERIFY(rig.load(QJsonValue(5), QString(tavrin::link::Timings{}.maxNoteChars + 1, QLatin1Char('a'))));
                else if (arg == QLatin1String("huge")) {
                    Answer tooLarge = FakeTransport::json("{");
                    tooLarge.failure = tavrin::transport::Failure::TooLarge;
                    QVERIFY(rig.phone.answer(paths::getNote, tooLarge));
                } else if (arg == QLatin1String("charset")) {
                    Answer unknown = FakeTransport::json(noteAnswer(5, QStringLiteral("x")));
                    unknown.contentType = "application/json; charset=no-such-charset";
                    QVERIFY(rig.phone.answer(paths::getNote, unknown));
                } else if (arg == QLatin1String("lone"))
                    QVERIFY(rig.load(QJsonValue(5), QStringLiteral("a") + QChar(0xD800)));
                else if (arg == QLatin1String("loneid"))
                    QVERIFY(rig.load(QJsonValue(QStringLiteral("y") + QChar(0xDC00)), QStringLiteral("a")));
                else
                    QVERIFY(rig.load(id, QStringLiteral("text of ") + arg));
            } else {
                QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
            }
            QVERIFY2(rig.link.state() == expected, qPrintable(step));
            QCOMPARE(rig.link.connectionScreen(), tavrin::link::showsConnectionScreen(expected));
            QCOMPARE(rig.attrs.isLoadOk(), expected == State::Loaded);
            // Typing is taken only where it is kept or sent.
            const bool resuming = step.startsWith(QLatin1String("hb:5>Loading")) &&
                                  last == State::Offline;
            QCOMPARE(rig.link.editable(),
                     expected == State::Loaded || expected == State::Offline || resuming);
            if (expected != last)
                ++expectedStateSignals;
            if (tavrin::link::showsConnectionScreen(expected) !=
                tavrin::link::showsConnectionScreen(last))
                ++expectedScreenSignals;
            last = expected;
        }
        // One notification per change, none for a state kept.
        QCOMPARE(stateChanges.count(), expectedStateSignals);
        QCOMPARE(screenChanges.count(), expectedScreenSignals);
    }

    // Each refusal says why, under the address box.
    void refusalsSayWhy() {
        using tavrin::link::Refusal;
        QStringList reasons;
        for (Refusal refusal : {Refusal::NoNoteGiven, Refusal::BrokenNote, Refusal::Unsendable,
                                Refusal::Undecodable, Refusal::TooLarge}) {
            const QString reason = tavrin::link::reasonText(State::Refused, refusal);
            QVERIFY(!reason.isEmpty());
            reasons << reason;
        }
        reasons.removeDuplicates();
        QCOMPARE(reasons.size(), 5);
        QVERIFY(reasons.last().contains(QString::number(tavrin::link::Timings{}.maxNoteChars)));
        QVERIFY(tavrin::link::reasonText(State::Loaded, Refusal::None).isEmpty());
    }

    void screensOfEachState_data() {
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("connectionScreen");
        for (const char* name : {"NoAddress", "Connecting", "Unreachable", "Refused"})
            QTest::newRow(name) << name << true;
        for (const char* name : {"NoNote", "Loading", "Loaded", "Offline"})
            QTest::newRow(name) << name << false;
    }

    void screensOfEachState() {
        QFETCH(QString, state);
        QFETCH(bool, connectionScreen);
        QCOMPARE(tavrin::link::showsConnectionScreen(stateNamed(state)), connectionScreen);
    }

    // ---- Heartbeat -------------------------------------------------------

    void firstValidAddressStartsTheHeartbeat() {
        Rig rig;
        QSignalSpy updateChecks(&rig.link, &PhoneLink::automaticUpdateCheckRequested);
        QVERIFY(!rig.link.countDown()->isActive());
        rig.link.heartBeat(); // no address yet: nothing goes
        QVERIFY(rig.phone.sent().isEmpty());

        rig.enterAddress();
        QVERIFY(rig.link.countDown()->isActive());
        QCOMPARE(updateChecks.count(), 1);
        // The first heartbeat goes out from the event loop, after the update check.
        QCOMPARE(rig.phone.pendingCount(), 0);
        QTRY_COMPARE(rig.phone.pendingCount(paths::heartBeat), 1);
        const FakeTransport::Sent first = rig.phone.sent().first();
        QCOMPARE(first.method, QStringLiteral("GET"));
        QCOMPARE(first.url, QUrl(QStringLiteral("http://127.0.0.1:8080/desktop/heartBeat/")));

        // A later address only replaces the old one.
        rig.link.updateIp(QStringLiteral("127.0.0.61"));
        QCOMPARE(updateChecks.count(), 1);
        rig.link.heartBeat();
        QCOMPARE(rig.phone.sent().last().url.host(), QStringLiteral("127.0.0.61"));
    }

    void defaultTimings() {
        PhoneLink link;
        QCOMPARE(link.countDown()->interval(), 1000);
        const tavrin::link::Timings timings;
        QCOMPARE(timings.heartbeatTimeoutMs, 3000);
        QCOMPARE(timings.maxOutstandingHeartbeats, 4);
    }

    void requestsCarryTheirTimeouts() {
        Rig rig;
        tavrin::link::Timings timings;
        timings.heartbeatTimeoutMs = 111;
        timings.loadTimeoutMs = 222;
        timings.pushTimeoutMs = 333;
        rig.link.setTimings(timings);
        rig.enterAddress();
        QVERIFY(rig.beat(QJsonValue(5)));
        QCOMPARE(rig.phone.sent(paths::heartBeat).last().timeoutMs, 111);
        QCOMPARE(rig.phone.sent(paths::getNote).last().timeoutMs, 222);
        QVERIFY(rig.load(QJsonValue(5), QStringLiteral("n")));
        QCOMPARE(rig.phone.sent(paths::content).last().timeoutMs, 333);
    }

    // Without the cap, a phone that takes connections and never answers would
    // collect a heartbeat every second until the timeouts end them.
    void heartbeatsStayCapped() {
        Rig rig;
        rig.enterAddress();
        for (int i = 0; i < 10; ++i)
            rig.link.heartBeat();
        QCOMPARE(rig.phone.pendingCount(paths::heartBeat), 4);
        QCOMPARE(rig.link.outstandingHeartbeats(), 4);
        // One answered (here: timed out) frees one place.
        QVERIFY(rig.phone.fail(paths::heartBeat));
        QCOMPARE(rig.link.outstandingHeartbeats(), 3);
        rig.link.heartBeat();
        rig.link.heartBeat();
        QCOMPARE(rig.phone.pendingCount(paths::heartBeat), 4);
        QCOMPARE(rig.phone.sentCount(paths::heartBeat), 5);
    }

    void lateAnswersApplyInCompletionOrder() {
        Rig rig;
        rig.enterAddress();
        rig.link.heartBeat();
        rig.link.heartBeat();
        QList<QJsonValue> ids;
        connect(&rig.attrs, &Attrs::noteIdChanged, this, [&] { ids << rig.attrs.noteId(); });
        // The second is answered first, with note 2; then the first, late, with note 1.
        QVERIFY(rig.phone.answerNewest(paths::heartBeat, FakeTransport::json(heartbeat(2))));
        QVERIFY(rig.phone.answer(paths::heartBeat, FakeTransport::json(heartbeat(1))));
        QCOMPARE(ids, (QList<QJsonValue>{QJsonValue(2), QJsonValue(1)}));
        // Both were changes of note, each with its own load.
        QCOMPARE(rig.phone.pendingCount(paths::getNote), 2);
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
        Rig rig;
        QVERIFY(rig.open(QJsonValue(5), QStringLiteral("note")));
        QVERIFY(rig.beat(QByteArray(R"({"editingNoteId":5,"editingCharCount":4})")));
        QCOMPARE(rig.link.charCountText(), QVariant(QStringLiteral("4")));
        QJsonObject answer{{"editingNoteId", 5}};
        if (!count.isUndefined())
            answer.insert(QStringLiteral("editingCharCount"), count);
        QVERIFY(rig.beat(QJsonDocument(answer).toJson()));
        QCOMPARE(rig.link.charCountText(), expected);
        QCOMPARE(rig.link.charCountText().isNull(), expected.isNull());
        QCOMPARE(rig.phone.sentCount(paths::getNote), 1);
    }

    // ---- Loading ---------------------------------------------------------

    void noteLoadFillsTheEditorAndPushesBackOnce() {
        Rig rig;
        rig.attrs.history()->addToInStack(QStringLiteral("older"));
        rig.attrs.history()->addToOutStack(QStringLiteral("older"));
        QList<QUrl> backgrounds;
        connect(&rig.link, &PhoneLink::backgroundSourceChanged, this,
                [&] { backgrounds << rig.link.backgroundSource(); });
        rig.enterAddress();
        QVERIFY(rig.beat(QJsonValue(37)));
        QCOMPARE(rig.phone.sent(paths::getNote).size(), 1);
        QVERIFY(rig.attrs.inStack().isEmpty()); // emptied on the change of note
        QVERIFY(rig.attrs.outStack().isEmpty());
        QCOMPARE(backgrounds, (QList<QUrl>{QUrl(), QUrl(QStringLiteral(
                                                       "http://127.0.0.1:8080/desktop/bgPicture/"))}));

        const QString content = QStringLiteral("第一行\nline two");
        QVERIFY(rig.load(QJsonValue(37), content, true));
        QCOMPARE(rig.editor.text(), content);
        QCOMPARE(rig.attrs.noteId(), QJsonValue(37));
        QVERIFY(rig.attrs.isMarkdown());
        QCOMPARE(rig.attrs.inStack(), QStringList{content});
        QCOMPARE(rig.phone.sent(paths::content).size(), 1);
        QCOMPARE(rig.phone.sent(paths::content).first().body,
                 QByteArray("noteId=37&content=%E7%AC%AC%E4%B8%80%E8%A1%8C%0Aline%20two"));
        QVERIFY(rig.confirmPushes());
        QCOMPARE(rig.link.sync()->confirmedText(), content);

        // More heartbeats for the same note load nothing again.
        QVERIFY(rig.beat(QJsonValue(37)));
        QVERIFY(rig.beat(QJsonValue(37)));
        QCOMPARE(rig.phone.sentCount(paths::getNote), 1);
        QCOMPARE(rig.phone.sentCount(paths::content), 1);
    }

    void hintsShowInTheEditorAndNeverReachThePhone() {
        Rig rig;
        rig.enterAddress();
        rig.attrs.setMarkdown(true);
        QVERIFY(rig.beat(QByteArray(R"({"editingNoteId":0,"editingMarkdown":false})")));
        QCOMPARE(rig.editor.text(), tavrin::link::noNoteHint());
        QCOMPARE(rig.attrs.noteId(), QJsonValue(0));
        QVERIFY(!rig.attrs.isMarkdown()); // given in the answer, also with id 0
        QCOMPARE(rig.attrs.inStack(), QStringList{tavrin::link::noNoteHint()});
        QCOMPARE(rig.phone.sentCount(paths::getNote), 0);

        rig.link.heartBeat();
        QVERIFY(rig.phone.fail(paths::heartBeat));
        QCOMPARE(rig.editor.text(), tavrin::link::unreachableHint());
        QCOMPARE(rig.attrs.noteId(), QJsonValue(0));
        // Undo does nothing while the id is 0.
        rig.attrs.history()->postToUndo();
        QCOMPARE(rig.editor.text(), tavrin::link::unreachableHint());

        // A status text that comes back into a loaded editor (undo can do that) is no content.
        QVERIFY(rig.beat(QJsonValue(31)) && rig.load(QJsonValue(31), QStringLiteral("real note")));
        rig.editor.assign(tavrin::link::unreachableHint());
        rig.editor.assign(tavrin::link::noNoteHint());
        rig.editor.assign(QStringLiteral("real note 2"));
        QVERIFY(rig.confirmPushes());
        QCOMPARE(rig.pushedContents(),
                 (QStringList{QStringLiteral("real note"), QStringLiteral("real note 2")}));
    }

    void typingWithoutALoadedNoteIsRecordedNotPushed() {
        Rig rig;
        rig.enterAddress();
        QVERIFY(rig.beat(QJsonValue(4)));
        QVERIFY(rig.phone.answerJson(paths::getNote, R"({"code":0})"));
        QCOMPARE(rig.editor.text(), QString()); // left alone
        rig.editor.type(QStringLiteral("t"));
        QCOMPARE(rig.attrs.inStack(), QStringList{QStringLiteral("t")});
        QCOMPARE(rig.phone.sentCount(paths::content), 0);
        // The selection push still goes, with the held id.
        QCOMPARE(rig.phone.sent(paths::selection).size(), 1);
        QCOMPARE(rig.phone.sent(paths::selection).first().body,
                 QByteArray("noteId=4&start=1&end=1"));
    }

    // ---- Pushes ----------------------------------------------------------

    void unansweredContentPushGoesAgainWithTheNextHeartbeat() {
        Rig rig;
        QVERIFY(rig.open(QJsonValue(30), QStringLiteral("base")));
        rig.editor.type(QStringLiteral("!"));
        QVERIFY(rig.phone.fail(paths::content)); // no answer at all
        rig.editor.type(QStringLiteral("?"));
        QVERIFY(rig.confirmPushes());
        const int pushes = rig.phone.sentCount(paths::content);
        // The next good heartbeat for the note sends the newest text again, once.
        QVERIFY(rig.beat(QJsonValue(30)));
        QCOMPARE(rig.phone.sentCount(paths::content), pushes + 1);
        QCOMPARE(rig.pushedContents().last(), QStringLiteral("base!?"));
        QVERIFY(rig.confirmPushes());
        QVERIFY(rig.beat(QJsonValue(30)));
        QCOMPARE(rig.phone.sentCount(paths::content), pushes + 1);
        QCOMPARE(rig.link.syncStatus(), tavrin::NoteSync::Status::InSync);
    }

    // A phone that answers "no" is asked again after a wait that doubles, not
    // at every heartbeat; typing meanwhile waits for that retry.
    void refusedContentPushBacksOff() {
        Rig rig;
        QVERIFY(rig.open(QJsonValue(30), QStringLiteral("base")));
        rig.editor.type(QStringLiteral("!"));
        QVERIFY(rig.phone.answer(paths::content, FakeTransport::json("{}", 500)));
        QCOMPARE(rig.link.syncStatus(), tavrin::NoteSync::Status::Refused);
        QVERIFY(rig.link.syncStatusText().contains(QStringLiteral("500")));
        QCOMPARE(rig.link.sync()->retryDelayMs(), 5);
        const int pushes = rig.phone.sentCount(paths::content);
        QVERIFY(rig.beat(QJsonValue(30)));
        QVERIFY(rig.beat(QJsonValue(30)));
        rig.editor.type(QStringLiteral("?"));
        QCOMPARE(rig.phone.sentCount(paths::content), pushes);
        QVERIFY(rig.phone.answerAll(paths::selection, FakeTransport::json("{}")) > 0);

        // The retry carries the newest text; refused again, the wait doubles up to the maximum.
        QList<int> delays;
        for (int round = 0; round < 3; ++round) {
            QTRY_COMPARE(rig.phone.pendingCount(paths::content), 1);
            QCOMPARE(rig.phone.pending(paths::content).first().formValue(QStringLiteral("content")),
                     QStringLiteral("base!?"));
            QVERIFY(rig.phone.answer(paths::content, FakeTransport::json("{}", 503)));
            delays << rig.link.sync()->retryDelayMs();
        }
        QCOMPARE(delays, (QList<int>{10, 20, 20}));
        QTRY_COMPARE(rig.phone.pendingCount(paths::content), 1);
        QVERIFY(rig.confirmPushes());
        QCOMPARE(rig.link.sync()->retryDelayMs(), 0);
        QCOMPARE(rig.link.syncStatus(), tavrin::NoteSync::Status::InSync);
        QCOMPARE(rig.link.sync()->confirmedText(), QStringLiteral("base!?"));
    }

    void failedSaveIsRetriedOnceThePhoneIsBack() {
        Rig rig;
        QVERIFY(rig.open(QJsonValue(30), QStringLiteral("base")));
        rig.link.postToSaveNow();
        QVERIFY(rig.phone.fail(paths::save));
        QCOMPARE(rig.link.syncStatus(), tavrin::NoteSync::Status::SaveFailed);
        QVERIFY(rig.beat(QJsonValue(30)));
        QCOMPARE(rig.phone.pendingCount(paths::save), 1);
        QVERIFY(rig.phone.answerJson(paths::save, R"({"code":1})"));
        QCOMPARE(rig.link.syncStatus(), tavrin::NoteSync::Status::Saved);
        QVERIFY(rig.beat(QJsonValue(30)));
        QCOMPARE(rig.phone.sentCount(paths::save), 2);
        // A new edit after the save: sending, then in sync.
        rig.editor.type(QStringLiteral("x"));
        QCOMPARE(rig.link.syncStatus(), tavrin::NoteSync::Status::Sending);
        QVERIFY(rig.confirmPushes());
        QCOMPARE(rig.link.syncStatus(), tavrin::NoteSync::Status::InSync);
    }

    // A push the phone answers at once leaves the line reading "in sync"; one
    // that takes longer shows as sending.
    void quickPushesDoNotFlashSending() {
        Rig rig;
        tavrin::link::Timings timings = Rig::timings();
        timings.showSendingAfterMs = 60 * 1000;
        rig.link.setTimings(timings);
        QVERIFY(rig.open(QJsonValue(30), QStringLiteral("base")));
        QVERIFY(rig.confirmPushes());
        QCOMPARE(rig.link.syncStatus(), tavrin::NoteSync::Status::InSync);
        const QString inSync = rig.link.syncStatusText();
        QVERIFY(inSync.startsWith(QStringLiteral("已同步")));
        rig.editor.type(QStringLiteral("x"));
        QCOMPARE(rig.link.syncStatus(), tavrin::NoteSync::Status::Sending);
        QCOMPARE(rig.link.syncStatusText(), inSync);
        QVERIFY(rig.confirmPushes());
        QVERIFY(rig.link.syncStatusText().startsWith(QStringLiteral("已同步")));

        // Unanswered for longer than that: sending shows.
        timings.showSendingAfterMs = 0;
        rig.link.setTimings(timings);
        rig.editor.type(QStringLiteral("y"));
        QVERIFY(rig.link.syncStatusText().startsWith(QStringLiteral("已同步")));
        QTRY_COMPARE(rig.link.syncStatusText(), QStringLiteral("正在发送…"));
        QVERIFY(rig.confirmPushes());
        QVERIFY(rig.link.syncStatusText().startsWith(QStringLiteral("已同步")));
    }

    void failedPushIsNotResentToAnotherNote() {
        Rig rig;
        QVERIFY(rig.open(QJsonValue(30), QStringLiteral("base")));
        rig.editor.type(QStringLiteral("!"));
        QVERIFY(rig.phone.fail(paths::content));
        QVERIFY(rig.beat(QJsonValue(31)) && rig.load(QJsonValue(31), QStringLiteral("other")));
        QVERIFY(rig.confirmPushes());
        const int pushes = rig.phone.sentCount(paths::content);
        QVERIFY(rig.beat(QJsonValue(31)));
        QCOMPARE(rig.phone.sentCount(paths::content), pushes);
    }

    void textsThatCannotBeEncodedAreSkipped() {
        Rig rig;
        QVERIFY(rig.open(QJsonValue(9), QStringLiteral("n")));
        rig.editor.assign(QStringLiteral("bad ") + QChar(0xD800));
        QCOMPARE(rig.phone.pendingCount(paths::content), 0);
        rig.editor.assign(QStringLiteral("good"));
        QVERIFY(rig.confirmPushes());
        QCOMPARE(rig.pushedContents().last(), QStringLiteral("good"));
    }

    void savesAndSelectionsNeedAnAddressAndANote() {
        Rig rig;
        rig.link.postSelection(1, 2);
        rig.link.postToSaveNow();
        QVERIFY(rig.phone.sent().isEmpty());
        QVERIFY(rig.open(QJsonValue(7), QStringLiteral("x")));
        rig.link.postToSaveNow();
        QCOMPARE(rig.phone.sent(paths::save).size(), 1);
        QCOMPARE(rig.phone.sent(paths::save).first().body, QByteArray("noteId=7"));
        QVERIFY(rig.confirmPushes());
        QVERIFY(rig.beat(QJsonValue(0)));
        rig.link.postToSaveNow();
        QCOMPARE(rig.phone.sent(paths::save).size(), 1);
    }

    // ---- Edits across a drop ---------------------------------------------

    void editsTypedOfflineGoToThePhoneWhenItIsBack() {
        Rig rig;
        QVERIFY(rig.open(QJsonValue(50), QStringLiteral("draft")));
        rig.editor.type(QStringLiteral(" and"));
        QVERIFY(rig.phone.fail(paths::content)); // never reached the phone
        QVERIFY(rig.confirmPushes());
        rig.link.heartBeat();
        QVERIFY(rig.phone.fail(paths::heartBeat));
        // The note stays, editable; what is typed now is kept and counted.
        QCOMPARE(rig.link.state(), State::Offline);
        QCOMPARE(rig.editor.text(), QStringLiteral("draft and"));
        rig.editor.type(QStringLiteral(" the ending"));
        QCOMPARE(rig.phone.pendingCount(paths::content), 0);
        QCOMPARE(rig.link.syncStatus(), tavrin::NoteSync::Status::Offline);
        QCOMPARE(rig.link.sync()->unsentChanges(), 2);
        QVERIFY(rig.journalHolds(QJsonValue(50), QStringLiteral("draft and the ending")));

        // The phone comes back with the note as it was: the edits go on by themselves.
        const QStringList historyBefore = rig.attrs.inStack();
        QVERIFY(rig.beat(QJsonValue(50)));
        QVERIFY(rig.link.editable());
        rig.editor.type(QStringLiteral("!")); // typed while it loads
        QVERIFY(rig.load(QJsonValue(50), QStringLiteral("draft")));
        QCOMPARE(rig.editor.text(), QStringLiteral("draft and the ending!"));
        QVERIFY(rig.confirmPushes());
        QCOMPARE(rig.pushedContents().last(), QStringLiteral("draft and the ending!"));
        QCOMPARE(rig.link.sync()->confirmedText(), QStringLiteral("draft and the ending!"));
        QVERIFY(rig.attrs.outStack().isEmpty());
        QVERIFY(rig.link.conflictText().isEmpty());
        // The history of the note survived the drop.
        QCOMPARE(rig.attrs.inStack().mid(0, historyBefore.size()), historyBefore);
        QCOMPARE(rig.link.syncStatus(), tavrin::NoteSync::Status::InSync);
        QVERIFY(rig.journalHolds(QJsonValue(50), QString()));
    }

    // What the phone holds on return against what the editor holds:
    // base "one two three", local edits at the start, the phone's at the end.
    void returningNote_data() {
        QTest::addColumn<QString>("local");
        QTest::addColumn<QString>("phone");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("conflict");
        const QString base = QStringLiteral("one two three");
        QTest::newRow("phone unchanged: local goes on") << "ONE two three" << base << "ONE two three" << false;
        QTest::newRow("local unchanged: phone's taken") << base << "one two THREE" << "one two THREE" << false;
        QTest::newRow("both, apart: merged") << "ONE two three" << "one two THREE" << "ONE two THREE" << false;
        QTest::newRow("both, alike") << "one 2 three" << "one 2 three" << "one 2 three" << false;
        QTest::newRow("both, same place: phone's, local offered")
            << "one TWO three" << "one deux three" << "one deux three" << true;
        QTest::newRow("phone has what we sent, local went on")
            << "one two three four five" << "one two three four" << "one two three four five" << false;
    }

    void returningNote() {
        QFETCH(QString, local);
        QFETCH(QString, phone);
        QFETCH(QString, shown);
        QFETCH(bool, conflict);
        Rig rig;
        QVERIFY(rig.open(QJsonValue(60), QStringLiteral("one two three")));
        if (QTest::currentDataTag() == QLatin1String("phone has what we sent, local went on")) {
            // The push reached the phone, but its answer was lost with the link.
            rig.editor.type(QStringLiteral(" four"));
            QVERIFY(rig.phone.fail(paths::content));
            rig.link.heartBeat();
            QVERIFY(rig.phone.fail(paths::heartBeat));
            rig.editor.type(QStringLiteral(" five"));
        } else {
            rig.link.heartBeat();
            QVERIFY(rig.phone.fail(paths::heartBeat));
            rig.editor.assign(local);
        }
        QVERIFY(rig.confirmPushes());
        QVERIFY(rig.beat(QJsonValue(60)) && rig.load(QJsonValue(60), phone));
        QCOMPARE(rig.editor.text(), shown);
        QVERIFY(rig.confirmPushes());
        QCOMPARE(rig.link.sync()->confirmedText(), shown);
        QCOMPARE(rig.link.conflictText(), conflict ? local : QString());
        QCOMPARE(rig.attrs.outStack(), conflict ? QStringList{local} : QStringList());
        if (!conflict)
            return;
        // The offered text comes back with one action, and goes to the phone.
        rig.link.restoreLocalText();
        QCOMPARE(rig.editor.text(), local);
        QVERIFY(rig.link.conflictText().isEmpty());
        QVERIFY(rig.confirmPushes());
        QCOMPARE(rig.pushedContents().last(), local);
    }

    // Unconfirmed edits survive the program: a second run on the same journal
    // finds them when the note loads.
    void journalBringsEditsBackAfterACrash() {
        QTemporaryDir journal;
        {
            Rig first(journal.path());
            QVERIFY(first.open(QJsonValue(70), QStringLiteral("kept")));
            first.editor.type(QStringLiteral(" safe"));
            QVERIFY(first.phone.answer(paths::content, FakeTransport::json("{}", 500)));
            QVERIFY(first.journalHolds(QJsonValue(70), QStringLiteral("kept safe")));
            // Gone without a word: no destructor of the link's runs in a real crash,
            // and nothing here removes the file.
        }
        Rig second(journal.path());
        second.enterAddress();
        QVERIFY(second.beat(QJsonValue(70)) && second.load(QJsonValue(70), QStringLiteral("kept")));
        QCOMPARE(second.editor.text(), QStringLiteral("kept safe"));
        QVERIFY(second.confirmPushes());
        QCOMPARE(second.pushedContents().last(), QStringLiteral("kept safe"));
        QVERIFY(second.journalHolds(QJsonValue(70), QString()));
        // Another note at another address never sees it.
        QVERIFY(!second.link.sync()->journal().find(QStringLiteral("127.0.0.2"), QJsonValue(70)));
        QVERIFY(!second.link.sync()->journal().find(kAddress, QJsonValue(QStringLiteral("70"))));
    }

    void editsKeptForOneNoteAreNotOfferedForAnother() {
        Rig rig;
        QVERIFY(rig.open(QJsonValue(50), QStringLiteral("draft")));
        rig.editor.type(QStringLiteral("!"));
        QVERIFY(rig.phone.fail(paths::content));
        rig.link.heartBeat();
        QVERIFY(rig.phone.fail(paths::heartBeat));
        QVERIFY(rig.beat(QJsonValue(51)) && rig.load(QJsonValue(51), QStringLiteral("other")));
        QVERIFY(rig.attrs.outStack().isEmpty());
    }

    // What the phone confirmed is no edit to keep: once it has changed the note
    // on its side, offering the confirmed text would undo the phone's change.
    void confirmedEditsAreNotOfferedAgain_data() {
        QTest::addColumn<QString>("phoneTextOnReturn");
        QTest::newRow("phone unchanged") << QStringLiteral("draft!");
        QTest::newRow("phone edited its copy") << QStringLiteral("draft! and more from the phone");
    }

    void confirmedEditsAreNotOfferedAgain() {
        QFETCH(QString, phoneTextOnReturn);
        Rig rig;
        QVERIFY(rig.open(QJsonValue(51), QStringLiteral("draft")));
        rig.editor.type(QStringLiteral("!"));
        QVERIFY(rig.confirmPushes());
        QCOMPARE(rig.link.sync()->confirmedText(), QStringLiteral("draft!"));
        rig.link.heartBeat();
        QVERIFY(rig.phone.fail(paths::heartBeat));
        QVERIFY(rig.beat(QJsonValue(51)) && rig.load(QJsonValue(51), phoneTextOnReturn));
        QCOMPARE(rig.editor.text(), phoneTextOnReturn);
        QVERIFY(rig.attrs.outStack().isEmpty());
    }
};

// The queue's merge rules, on the queue alone.
class PushQueueTest : public QObject {
    Q_OBJECT

private slots:
    // Script: C<n> content push n, S<n> selection push n, V save, A the phone
    // answers the oldest push in flight, F it fails; "/k" gives a content
    // push's text length or a selection's larger end (0 when left out).
    // `sent` is what reached the phone, `inFlight` the most at once.
    void mergeRules_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("sent");
        QTest::addColumn<int>("inFlight");
        QTest::newRow("content merges behind the one in flight") << "C1 C2 C3 A A" << "C1 C3" << 1;
        QTest::newRow("selection merges likewise") << "S1 S2 S3 A A" << "S1 S3" << 1;
        // The newer selection is in the newer text: it goes after it.
        QTest::newRow("a selection merges to behind the newest text")
            << "C1 S1 C2 S2 A A A" << "C1 C2 S2" << 1;
        QTest::newRow("a text merges in its place") << "C1 C2 S2 C3 A A A" << "C1 C3 S2" << 1;
        QTest::newRow("a save is never overtaken") << "C1 C2 V C3 A A A A" << "C1 C2 V C3" << 1;
        QTest::newRow("nothing merges across a save") << "C1 S1 V S2 A A A A" << "C1 S1 V S2" << 2;
        QTest::newRow("the same save waits once") << "V V V V A A" << "V V" << 1;
        QTest::newRow("saves with typing between all go") << "V C1 V A A A" << "V C1 V" << 1;
        QTest::newRow("a failure lets the next go") << "C1 C2 F A" << "C1 C2" << 1;
        QTest::newRow("nothing waits: each goes at once") << "C1 A C2 A S1 A" << "C1 C2 S1" << 1;
        // Typing goes on beside the cursor's push, which fits the longer text.
        QTest::newRow("a longer text goes beside a selection")
            << "C1/5 A S1/5 C2/6 A S2/6 A A" << "C1/5 S1/5 C2/6 S2/6" << 2;
        // A shorter text could leave that selection out of range: it waits.
        QTest::newRow("a shorter text waits for the selection")
            << "C1/5 A S1/5 C2/4 A A" << "C1/5 S1/5 C2/4" << 1;
        QTest::newRow("a selection never overtakes the text before it")
            << "C1/5 S1/5 A A" << "C1/5 S1/5" << 1;
        QTest::newRow("one selection at a time") << "S1/1 S2/2 A S3/3 A A" << "S1/1 S2/2 S3/3" << 1;
        QTest::newRow("a save goes beside a selection") << "C1/5 A S1/5 V A A" << "C1/5 S1/5 V" << 2;
    }

    void mergeRules() {
        QFETCH(QString, script);
        QFETCH(QString, sent);
        QFETCH(int, inFlight);
        FakeTransport phone;
        PushQueue queue(&phone, 5000);
        QStringList finished;
        connect(&queue, &PushQueue::pushFinished, this,
                [&](PushQueue::Kind, bool ok, int, quint64 token) {
                    finished << QString::number(token) + (ok ? QString() : QStringLiteral("!"));
                });
        const QUrl content(QStringLiteral("http://127.0.0.1:8080/desktop/modifyNoteContent/"));
        const QUrl selection(QStringLiteral("http://127.0.0.1:8080/desktop/updateSelection/"));
        const QUrl save(QStringLiteral("http://127.0.0.1:8080/desktop/saveNow/"));
        quint64 token = 0;
        int mostInFlight = 0;
        for (const QString& step : script.split(QLatin1Char(' '))) {
            const QByteArray body = step.toLatin1();
            const int extent = step.section(QLatin1Char('/'), 1).toInt();
            switch (step.at(0).toLatin1()) {
            case 'C': queue.enqueue(PushQueue::Kind::Content, content, body, ++token, extent); break;
            case 'S': queue.enqueue(PushQueue::Kind::Selection, selection, body, ++token, extent); break;
            case 'V': queue.enqueue(PushQueue::Kind::Save, save, "V", ++token); break;
            case 'A': QVERIFY(phone.answer(QString(), FakeTransport::json("{}"))); break;
            case 'F': QVERIFY(phone.fail(QString())); break;
            }
            // Never two of one lane in flight: at most a selection beside a text or a save.
            const QList<FakeTransport::Sent> pending = phone.pending();
            QVERIFY(pending.size() <= 2);
            if (pending.size() == 2)
                QCOMPARE(int(pending[0].path().contains(QLatin1String("updateSelection"))) +
                             int(pending[1].path().contains(QLatin1String("updateSelection"))),
                         1);
            mostInFlight = std::max(mostInFlight, int(pending.size()));
            QCOMPARE(queue.isBusy(), !pending.isEmpty());
        }
        QStringList bodies;
        for (const FakeTransport::Sent& request : phone.sent())
            bodies << QString::fromLatin1(request.body);
        QCOMPARE(bodies.join(QLatin1Char(' ')), sent);
        QCOMPARE(mostInFlight, inFlight);
        QCOMPARE(queue.waitingCount(), 0);
        QCOMPARE(finished.size(), phone.sent().size());
        QCOMPARE(finished.filter(QStringLiteral("!")).size(), script.count(QLatin1Char('F')));
    }

    void pushesCarryTheFormHeaderAndTimeout() {
        FakeTransport phone;
        PushQueue queue(&phone, 1234);
        queue.enqueue(PushQueue::Kind::Save, QUrl(QStringLiteral("http://127.0.0.1:8080/x")), "a=b");
        QCOMPARE(phone.sent().size(), 1);
        QCOMPARE(phone.sent().first().method, QStringLiteral("POST"));
        QCOMPARE(phone.sent().first().timeoutMs, 1234);
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    LinkTest link;
    PushQueueTest queue;
    return QTest::qExec(&link, argc, argv) | QTest::qExec(&queue, argc, argv);
}

#include "tst_link.moc"
