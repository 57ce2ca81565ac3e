// SPDX-License-Identifier: GPL-3.0-or-later
// The link against phones that misbehave over real HTTP, all at once, each phone on an
// address of its own: a heartbeat that never ends, stalls, inflates without end, redirects,
// lies or is huge is a lost phone within its deadline; a note answer cut short, reset, in
// an unknown charset or holding what cannot be sent back never becomes the note and is
// never pushed; a note in UTF-16 or gzip-compressed loads and goes back exactly.

#include "link/PhoneLink.h"
#include "link/protocol/Protocol.h"
#include "sim/NoteServer.h"
#include "state/Attrs.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <functional>
#include <memory>

using tavrin::Attrs;
using tavrin::PhoneLink;
using tavrin::sim::NoteServer;
using tavrin::sim::Reply;
using tavrin::sim::Request;

namespace {

constexpr int kWait = 10000;
constexpr int kHeartbeatIntervalMs = 100;
constexpr int kHeartbeatDeadlineMs = 300;
const QString kHeartBeat = QLatin1String(tavrin::protocol::kHeartBeatPath);
const QString kGetNote = QLatin1String(tavrin::protocol::kGetNotePath);
const QString kContent = QLatin1String(tavrin::protocol::kModifyContentPath);
// Where the redirects point; it must never see a request.
const QString kElsewhere = QStringLiteral("127.0.9.39");
const QString kNote = QStringLiteral("第一行\nthe note");

enum class Expect {
    LostPhone,   // the heartbeat misbehaves once the note is loaded: the connection screen
    NeverLoaded, // the note load misbehaves: nothing of it is shown or pushed
    Loaded,      // the note load comes in another form: loaded, and pushed back exactly
};

using Make = std::function<Reply(NoteServer& phone, const Request& request)>;

struct Case {
    const char* name;
    Expect expect;
    Make make;
};

struct Rig {
    Case what;
    QString address;
    Attrs attrs;
    PhoneLink link;
    NoteServer phone;
    QString editorText;
    std::atomic<bool> misbehaving{false}; // read by the phone's threads
    QElapsedTimer sinceMisbehaving;
    qint64 lostAfterMs = -1;
    int heartbeatsAtLoadServed = -1;
    QTemporaryDir journal;

    Rig(const Case& c, const QString& loopbackAddress)
        : what(c)
        , address(loopbackAddress) {
        link.setAttrs(&attrs);
        link.setJournalDirectory(journal.path());
        tavrin::link::Timings quick;
        quick.heartbeatIntervalMs = kHeartbeatIntervalMs;
        quick.heartbeatTimeoutMs = kHeartbeatDeadlineMs;
        quick.loadTimeoutMs = 2000;
        quick.pushTimeoutMs = 2000;
        link.setTimings(quick);
        // Stands in for the editor: takes the link's texts and reports each change back.
        QObject::connect(&link, &PhoneLink::assignEditorText, [this](const QString& text) {
            if (text == editorText)
                return;
            editorText = text;
            link.justUpdateContent(text);
        });
        // A loaded note's phone that is lost leaves the note offline in the editor.
        QObject::connect(&link, &PhoneLink::stateChanged, [this] {
            const bool lost = link.state() == tavrin::link::State::Offline || link.connectionScreen();
            if (misbehaving && lost && lostAfterMs < 0)
                lostAfterMs = sinceMisbehaving.elapsed();
        });
    }

    bool start() {
        phone.openNote(QJsonValue(37), kNote);
        const QString path = what.expect == Expect::LostPhone ? kHeartBeat : kGetNote;
        phone.setOverride(path, [this](const Request& request) -> std::optional<Reply> {
            if (what.expect == Expect::LostPhone && !misbehaving)
                return std::nullopt;
            return what.make(phone, request);
        });
        if (!phone.start(address, 8080))
            return false;
        link.updateIp(address);
        return true;
    }

    QStringList pushed() const {
        QStringList contents;
        for (const Request& request : phone.requests(kContent))
            contents << request.form.value(QStringLiteral("content"));
        return contents;
    }

    // True once there is nothing more to wait for.
    bool settled() {
        switch (what.expect) {
        case Expect::LostPhone:
            if (!misbehaving && attrs.isLoadOk()) {
                misbehaving = true;
                sinceMisbehaving.start();
            }
            return lostAfterMs >= 0;
        case Expect::NeverLoaded: {
            // Once a load was answered, three more heartbeats: its answer has been handled.
            const int heartbeats = phone.requestCount(kHeartBeat);
            if (heartbeatsAtLoadServed < 0 && phone.requestCount(kGetNote) > 0)
                heartbeatsAtLoadServed = heartbeats;
            return heartbeatsAtLoadServed >= 0 && heartbeats >= heartbeatsAtLoadServed + 3;
        }
        case Expect::Loaded:
            return attrs.isLoadOk() && !pushed().isEmpty();
        }
        return false;
    }
};

Reply json(const QJsonObject& object) {
    return Reply::json(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

} // namespace

class LinkMisbehavingTest : public QObject {
    Q_OBJECT

private slots:
    void everyPhoneAtOnce() {
        NoteServer elsewhere;
        QVERIFY(elsewhere.start(kElsewhere, 8080));
        const QByteArray location = "http://" + kElsewhere.toLatin1() + ":8080/desktop/heartBeat/";
        const QByteArray hugeCount = "{\"editingNoteId\":37,\"editingCharCount\":\"" +
                                     QByteArray(20 * 1000 * 1000, '9') + "\"}";
        const auto normal = [](NoteServer& phone, const Request& request) {
            return phone.phoneReply(request);
        };

        const QList<Case> cases{
            {"heartbeat: a chunk every 50 ms for ever", Expect::LostPhone,
             [](NoteServer&, const Request&) { return Reply::chunkedForever(" ", 50); }},
            {"heartbeat: headers and 10 bytes, then silence", Expect::LostPhone,
             [normal](NoteServer& phone, const Request& request) {
                 return Reply::stallAfter(normal(phone, request), 10);
             }},
            {"heartbeat: headers and half a chunk, then silence", Expect::LostPhone,
             [normal](NoteServer& phone, const Request& request) {
                 Reply reply = normal(phone, request);
                 reply.chunked = true;
                 return Reply::stallAfter(reply, 6);
             }},
            {"heartbeat: a gzip bomb", Expect::LostPhone,
             [](NoteServer&, const Request&) { return Reply::gzipBomb(64LL * 1024 * 1024); }},
            {"heartbeat: redirected elsewhere", Expect::LostPhone,
             [location](NoteServer&, const Request&) { return Reply::redirect(302, location); }},
            {"heartbeat: a 20 MB char count", Expect::LostPhone,
             [hugeCount](NoteServer&, const Request&) { return Reply::json(hugeCount); }},
            {"heartbeat: Content-Length beyond the body", Expect::LostPhone,
             [normal](NoteServer& phone, const Request& request) {
                 return Reply::lyingLength(normal(phone, request), 500);
             }},
            {"note: Content-Length 500 over its bytes, then a close", Expect::NeverLoaded,
             [normal](NoteServer& phone, const Request& request) {
                 return Reply::lyingLength(normal(phone, request), 500);
             }},
            {"note: reset mid-body", Expect::NeverLoaded,
             [normal](NoteServer& phone, const Request& request) {
                 return Reply::resetAfter(normal(phone, request), 30);
             }},
            // The whole JSON in its chunk, but no last chunk: cut by a close, then by a reset.
            {"note: chunked body without its last chunk, then a close", Expect::NeverLoaded,
             [normal](NoteServer& phone, const Request& request) {
                 Reply reply = normal(phone, request);
                 reply.chunked = true;
                 reply.cutAfter =
                     QByteArray::number(reply.body.size(), 16).size() + 2 + reply.body.size() + 2;
                 return reply;
             }},
            {"note: chunked body without its last chunk, then a reset", Expect::NeverLoaded,
             [normal](NoteServer& phone, const Request& request) {
                 Reply reply = normal(phone, request);
                 reply.chunked = true;
                 return Reply::resetAfter(reply, QByteArray::number(reply.body.size(), 16).size() +
                                                     2 + reply.body.size() + 2);
             }},
            {"note: an unknown charset", Expect::NeverLoaded,
             [normal](NoteServer& phone, const Request& request) {
                 Reply reply = normal(phone, request);
                 reply.contentType = "application/json; charset=x-no-such-charset";
                 return reply;
             }},
            {"note: a lone surrogate in the content", Expect::NeverLoaded,
             [](NoteServer&, const Request&) {
                 return Reply::json("{\"code\":1,\"data\":{\"noteId\":37,\"markdown\":false,"
                                    "\"content\":\"a\\ud800b\"}}");
             }},
            {"note: a lone surrogate in the id", Expect::NeverLoaded,
             [](NoteServer&, const Request&) {
                 return Reply::json("{\"code\":1,\"data\":{\"noteId\":\"37\\udc00\","
                                    "\"markdown\":false,\"content\":\"x\"}}");
             }},
            {"note: UTF-16", Expect::Loaded,
             [normal](NoteServer& phone, const Request& request) {
                 return *Reply::encoded(QString::fromUtf8(normal(phone, request).body), "UTF-16");
             }},
            {"note: EBCDIC", Expect::Loaded,
             [](NoteServer&, const Request&) {
                 // Only what EBCDIC has: no CJK.
                 return *Reply::encoded(
                     QStringLiteral("{\"code\":1,\"data\":{\"noteId\":37,\"markdown\":false,"
                                    "\"content\":\"ebcdic\"}}"),
                     "IBM037");
             }},
            {"note: gzip", Expect::Loaded,
             [normal](NoteServer& phone, const Request& request) {
                 return Reply::gzip(normal(phone, request));
             }},
        };

        std::vector<std::unique_ptr<Rig>> rigs;
        for (int i = 0; i < cases.size(); ++i) {
            rigs.push_back(
                std::make_unique<Rig>(cases[i], QStringLiteral("127.0.9.%1").arg(40 + i)));
            QVERIFY2(rigs.back()->start(), cases[i].name);
        }
        QVERIFY(QTest::qWaitFor(
            [&] {
                bool all = true;
                for (auto& rig : rigs)
                    all = rig->settled() && all;
                return all;
            },
            kWait));

        for (auto& rig : rigs) {
            const QByteArray name = rig->what.name;
            switch (rig->what.expect) {
            case Expect::LostPhone:
                // Within the deadline of the heartbeat that misbehaved, give or take a tick.
                QVERIFY2(rig->lostAfterMs <= kHeartbeatDeadlineMs + kHeartbeatIntervalMs + 700,
                         name + ": " + QByteArray::number(rig->lostAfterMs));
                QVERIFY2(!rig->attrs.isLoadOk(), name);
                QVERIFY2(rig->link.charCountText().toString().size() <=
                             tavrin::protocol::kMaxCharCountTextLength,
                         name);
                break;
            case Expect::NeverLoaded:
                QVERIFY2(!rig->attrs.isLoadOk(), name);
                QVERIFY2(rig->pushed().isEmpty(), name);
                // Nothing of it shown: the editor holds nothing or one of the link's hints.
                QVERIFY2(rig->editorText.isEmpty() || tavrin::link::isHintText(rig->editorText),
                         name + ": " + rig->editorText.toUtf8());
                QVERIFY2(rig->phone.requestCount(QLatin1String(tavrin::protocol::kSaveNowPath)) ==
                             0,
                         name);
                break;
            case Expect::Loaded: {
                const QString expected = name.contains("EBCDIC") ? QStringLiteral("ebcdic") : kNote;
                QCOMPARE(rig->editorText, expected);
                QCOMPARE(rig->pushed().first(), expected);
                break;
            }
            }
        }
        QCOMPARE(elsewhere.requests().size(), 0);
    }
};

QTEST_GUILESS_MAIN(LinkMisbehavingTest)
#include "tst_link_misbehaving.moc"
