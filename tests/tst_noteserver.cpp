// SPDX-License-Identifier: GPL-3.0-or-later
// The fake phone itself, checked over real HTTP: its answers from the phone state, the pushes
// it applies, its programmable behaviour and its record of requests.

#include "sim/NoteServer.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTest>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

using tavrin::sim::NoteServer;
using tavrin::sim::Reply;
using tavrin::sim::Request;

namespace {

const QString kHost = QStringLiteral("127.0.0.40");
constexpr quint16 kPort = 8080;
constexpr int kTimeoutMs = 10000;

const QByteArray kFormType = "application/x-www-form-urlencoded";

struct Answer {
    bool finished = false;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QVariant status; // invalid when no answer came
    QByteArray contentType;
    QByteArray body;
};

QJsonObject jsonObject(const QByteArray& body) {
    return QJsonDocument::fromJson(body).object();
}

qint64 steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

class NoteServerTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<NoteServer> server;
    std::unique_ptr<QNetworkAccessManager> manager;

    // Sends like the desktop: every request but the two resources carries the form header.
    QNetworkReply* send(const QByteArray& method, const QString& path, const QByteArray& body = {},
                        bool formHeader = true) {
        QNetworkRequest request(
            QUrl(QStringLiteral("http://%1:%2%3").arg(kHost).arg(kPort).arg(path)));
        if (formHeader) {
            request.setRawHeader("Content-type", kFormType);
        }
        if (method == "POST") {
            return manager->post(request, body);
        }
        return manager->get(request);
    }

    static Answer await(QNetworkReply* reply) {
        Answer answer;
        answer.finished = QTest::qWaitFor([reply] { return reply->isFinished(); }, kTimeoutMs);
        answer.error = reply->error();
        answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        answer.contentType = reply->rawHeader("Content-Type");
        answer.body = reply->readAll();
        reply->deleteLater();
        return answer;
    }

    Answer fetch(const QByteArray& method, const QString& path, const QByteArray& body = {},
                 bool formHeader = true) {
        return await(send(method, path, body, formHeader));
    }

private slots:
    void init() {
        server = std::make_unique<NoteServer>();
        QVERIFY(server->start(kHost, kPort));
        manager = std::make_unique<QNetworkAccessManager>();
        manager->setProxy(QNetworkProxy::NoProxy);
    }

    void cleanup() {
        manager.reset();
        server.reset();
    }

    void heartBeatReportsTheOpenNote_data() {
        QTest::addColumn<bool>("open");
        QTest::addColumn<QJsonValue>("id");
        QTest::addColumn<QString>("content");
        QTest::addColumn<bool>("markdown");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("numeric id, plain")
            << true << QJsonValue(7) << "abc" << false
            << QByteArray(R"({"editingNoteId":7,"editingCharCount":3,"editingMarkdown":false})");
        // Code points: the emoji is one character although it takes two UTF-16 units.
        QTest::newRow("string id, markdown, CJK and emoji")
            << true << QJsonValue("n-1") << QStringLiteral("中文😀") << true
            << QByteArray(R"({"editingNoteId":"n-1","editingCharCount":3,"editingMarkdown":true})");
        QTest::newRow("no note open")
            << false << QJsonValue(7) << "abc" << true
            << QByteArray(R"({"editingNoteId":0,"editingCharCount":0,"editingMarkdown":false})");
    }

    void heartBeatReportsTheOpenNote() {
        QFETCH(bool, open);
        QFETCH(QJsonValue, id);
        QFETCH(QString, content);
        QFETCH(bool, markdown);
        QFETCH(QByteArray, expected);

        server->openNote(id, content, markdown);
        if (!open) {
            server->closeNote();
        }
        const Answer answer = fetch("GET", "/desktop/heartBeat/");
        QVERIFY(answer.finished);
        QCOMPARE(answer.status.toInt(), 200);
        QVERIFY(answer.contentType.startsWith("application/json"));
        QCOMPARE(jsonObject(answer.body), jsonObject(expected));
        QCOMPARE(jsonObject(answer.body).value("editingNoteId").type(),
                 jsonObject(expected).value("editingNoteId").type());
    }

    void getNoteGivesTheOpenNote_data() {
        QTest::addColumn<bool>("open");
        QTest::addColumn<QJsonValue>("id");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("numeric id")
            << true << QJsonValue(12)
            << QByteArray(R"({"code":1,"data":{"noteId":12,"markdown":true,"content":"a\nb 中"}})");
        QTest::newRow("string id")
            << true << QJsonValue("12")
            << QByteArray(
                   R"({"code":1,"data":{"noteId":"12","markdown":true,"content":"a\nb 中"}})");
        QTest::newRow("no note open") << false << QJsonValue(12) << QByteArray(R"({"code":0})");
    }

    void getNoteGivesTheOpenNote() {
        QFETCH(bool, open);
        QFETCH(QJsonValue, id);
        QFETCH(QByteArray, expected);

        server->openNote(id, QStringLiteral("a\nb 中"), true);
        if (!open) {
            server->closeNote();
        }
        const Answer answer = fetch("GET", "/desktop/getNote/");
        QCOMPARE(answer.status.toInt(), 200);
        const QJsonObject got = jsonObject(answer.body);
        QCOMPARE(got, jsonObject(expected));
        if (open) {
            QCOMPARE(got.value("data").toObject().value("noteId").type(), id.type());
        }
    }

    void contentPushAppliesOnlyToTheOpenNote_data() {
        QTest::addColumn<QJsonValue>("openId");
        QTest::addColumn<bool>("open");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expectedContent");

        const QString old = QStringLiteral("old");
        QTest::newRow("same numeric id, encoded marks and CJK")
            << QJsonValue(42) << true
            << QByteArray("noteId=42&content=a%20b%2Bc%26d%3De%0A%E4%B8%AD%F0%9F%98%80")
            << QStringLiteral("a b+c&d=e\n中😀");
        QTest::newRow("empty content")
            << QJsonValue(42) << true << QByteArray("noteId=42&content=") << QString();
        QTest::newRow("same string id")
            << QJsonValue("ab-1") << true << QByteArray("noteId=ab-1&content=new") << "new";
        QTest::newRow("other id") << QJsonValue(42) << true << QByteArray("noteId=43&content=new")
                                  << old;
        QTest::newRow("id written with a fraction")
            << QJsonValue(42) << true << QByteArray("noteId=42.0&content=new") << old;
        QTest::newRow("string id of the same digits only matches its text")
            << QJsonValue("042") << true << QByteArray("noteId=42&content=new") << old;
        QTest::newRow("no content field")
            << QJsonValue(42) << true << QByteArray("noteId=42") << old;
        QTest::newRow("no note open")
            << QJsonValue(42) << false << QByteArray("noteId=42&content=new") << old;
    }

    void contentPushAppliesOnlyToTheOpenNote() {
        QFETCH(QJsonValue, openId);
        QFETCH(bool, open);
        QFETCH(QByteArray, body);
        QFETCH(QString, expectedContent);

        server->openNote(openId, QStringLiteral("old"));
        if (!open) {
            server->closeNote();
        }
        std::mutex mutex;
        QStringList heard;
        server->setContentListener([&](const QString& content) {
            std::lock_guard lock(mutex);
            heard << content;
        });

        const Answer answer = fetch("POST", "/desktop/modifyNoteContent/", body);
        QCOMPARE(answer.status.toInt(), 200);
        QCOMPARE(server->content(), expectedContent);
        const bool applied = expectedContent != QLatin1String("old");
        QCOMPARE(server->appliedContentCount(), applied ? 1 : 0);
        std::lock_guard lock(mutex);
        QCOMPARE(heard, applied ? QStringList{expectedContent} : QStringList{});
        server->setContentListener(nullptr);
    }

    // Pushes take effect in the order they are handled, so a late one overwrites a newer one.
    void latePushOverwritesNewerOne() {
        server->openNote(1, QString());
        server->setDelay([](const Request& request) {
            return request.form.value("content") == QLatin1String("older") ? 800 : 0;
        });
        std::mutex mutex;
        QStringList heard;
        server->setContentListener([&](const QString& content) {
            std::lock_guard lock(mutex);
            heard << content;
        });

        QNetworkReply* older =
            send("POST", "/desktop/modifyNoteContent/", "noteId=1&content=older");
        QTRY_COMPARE_WITH_TIMEOUT(server->requestCount("/desktop/modifyNoteContent/"), 1,
                                  kTimeoutMs);
        QNetworkReply* newer =
            send("POST", "/desktop/modifyNoteContent/", "noteId=1&content=newer");
        QCOMPARE(await(newer).status.toInt(), 200);
        QCOMPARE(await(older).status.toInt(), 200);

        QCOMPARE(server->content(), QStringLiteral("older"));
        std::lock_guard lock(mutex);
        QCOMPARE(heard, (QStringList{"newer", "older"}));
        server->setContentListener(nullptr);
    }

    // Long notes make form bodies far above the small limits some HTTP servers put on them.
    void longContentPushIsApplied() {
        server->openNote(3, QString());
        const QString content = QString(20000, QChar(0x4E2D)) + QStringLiteral("\nend");
        const QByteArray body = "noteId=3&content=" + content.toUtf8().toPercentEncoding();
        QVERIFY(body.size() > 180000);

        const Answer answer = fetch("POST", "/desktop/modifyNoteContent/", body);
        QCOMPARE(answer.status.toInt(), 200);
        QCOMPARE(server->content(), content);
        QCOMPARE(server->requests().last().body, body);
    }

    void selectionAndSaveAreKept() {
        server->openNote(5, QStringLiteral("0123456789"));
        QCOMPARE(
            fetch("POST", "/desktop/updateSelection/", "noteId=5&start=3&end=9").status.toInt(),
            200);
        QCOMPARE(
            fetch("POST", "/desktop/updateSelection/", "noteId=6&start=4&end=4").status.toInt(),
            200);
        QCOMPARE(server->selectionCount(), 2);
        QCOMPARE(server->lastSelection().noteId, QStringLiteral("6"));
        QCOMPARE(server->lastSelection().start, 4);
        QCOMPARE(server->lastSelection().end, 4);

        QCOMPARE(server->saveCount(), 0);
        const Answer saved = fetch("POST", "/desktop/saveNow/", "noteId=5");
        QCOMPARE(saved.status.toInt(), 200);
        QCOMPARE(jsonObject(saved.body).value("code").toInt(), 1);
        fetch("POST", "/desktop/saveNow/", "noteId=str");
        QCOMPARE(server->saveCount(), 2);
        QCOMPARE(server->lastSavedNoteId(), QStringLiteral("str"));
        // Neither touches the content.
        QCOMPARE(server->content(), QStringLiteral("0123456789"));
    }

    void resourcesAreServedAsBytes() {
        const QByteArray picture("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
        const QByteArray font("\0\1\0\0\0\x0f\0\x80", 8);
        server->setBackground(picture, "image/png");
        server->setFont(font);

        const Answer background = fetch("GET", "/desktop/bgPicture/", {}, false);
        QCOMPARE(background.status.toInt(), 200);
        QCOMPARE(background.contentType, QByteArray("image/png"));
        QCOMPARE(background.body, picture);

        const Answer fontAnswer = fetch("GET", "/desktop/fonts", {}, false);
        QCOMPARE(fontAnswer.status.toInt(), 200);
        QCOMPARE(fontAnswer.contentType, QByteArray("font/ttf"));
        QCOMPARE(fontAnswer.body, font);
    }

    void otherRequestsAreNotFound_data() {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");

        QTest::newRow("heartbeat without trailing slash")
            << QByteArray("GET") << "/desktop/heartBeat";
        QTest::newRow("heartbeat in other case") << QByteArray("GET") << "/desktop/heartbeat/";
        QTest::newRow("heartbeat by POST") << QByteArray("POST") << "/desktop/heartBeat/";
        QTest::newRow("content push by GET") << QByteArray("GET") << "/desktop/modifyNoteContent/";
        QTest::newRow("fonts with trailing slash") << QByteArray("GET") << "/desktop/fonts/";
        QTest::newRow("no background set") << QByteArray("GET") << "/desktop/bgPicture/";
        QTest::newRow("no font set") << QByteArray("GET") << "/desktop/fonts";
        QTest::newRow("root") << QByteArray("GET") << "/";
    }

    void otherRequestsAreNotFound() {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);

        server->openNote(1, QStringLiteral("x"));
        const Answer answer = fetch(method, path, "noteId=1&content=y");
        QCOMPARE(answer.status.toInt(), 404);
        QCOMPARE(server->content(), QStringLiteral("x"));
    }

    void overrideDecidesTheReply() {
        server->openNote(1, QStringLiteral("x"));
        std::atomic<int> calls{0};
        server->setOverride("/desktop/heartBeat/",
                            [&](const Request& request) -> std::optional<Reply> {
                                ++calls;
                                if (request.query == QLatin1String("normal")) {
                                    return std::nullopt;
                                }
                                Reply reply = Reply::json("not json", 500);
                                reply.contentType = "text/plain";
                                return reply;
                            });

        const Answer overridden = fetch("GET", "/desktop/heartBeat/");
        QCOMPARE(overridden.status.toInt(), 500);
        QCOMPARE(overridden.body, QByteArray("not json"));
        QCOMPARE(overridden.contentType, QByteArray("text/plain"));

        const Answer fallback = fetch("GET", "/desktop/heartBeat/?normal");
        QCOMPARE(fallback.status.toInt(), 200);
        QCOMPARE(jsonObject(fallback.body).value("editingNoteId").toInt(), 1);
        QCOMPARE(calls.load(), 2);

        // Other paths keep the phone's answers.
        QCOMPARE(jsonObject(fetch("GET", "/desktop/getNote/").body).value("code").toInt(), 1);

        server->clearOverrides();
        QCOMPARE(fetch("GET", "/desktop/heartBeat/").status.toInt(), 200);
        QCOMPARE(calls.load(), 2);
    }

    // Delays only ever lengthen the wait, so lower bounds are safe to check.
    void delaysHoldTheAnswerBack() {
        server->openNote(1, QStringLiteral("x"));
        server->setDelay([](const Request& request) {
            return request.path == QLatin1String("/desktop/heartBeat/") ? 400 : 0;
        });
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(fetch("GET", "/desktop/heartBeat/").status.toInt(), 200);
        const qint64 answeredNs = steadyNowNs();
        QVERIFY2(timer.elapsed() >= 400, qPrintable(QString::number(timer.elapsed())));
        // The arrival is stamped before the delay, not when the answer goes.
        const qint64 arrivedNs = server->requests().constLast().receivedAtSteadyNs;
        QVERIFY2(answeredNs - arrivedNs >= 400'000'000,
                 qPrintable(QString::number(answeredNs - arrivedNs)));

        server->setDelay(nullptr);
        server->setOverride("/desktop/getNote/", [](const Request&) -> std::optional<Reply> {
            Reply reply = Reply::json(R"({"code":0})");
            reply.delayMs = 300;
            return reply;
        });
        timer.restart();
        const Answer answer = fetch("GET", "/desktop/getNote/");
        QVERIFY2(timer.elapsed() >= 300, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(answer.body, QByteArray(R"({"code":0})"));
    }

    void hangingRequestWaitsForRelease() {
        server->openNote(1, QStringLiteral("x"));
        server->setOverride("/desktop/getNote/", [](const Request&) -> std::optional<Reply> {
            Reply reply = Reply::json(R"({"code":0})");
            reply.hang = true;
            return reply;
        });
        QNetworkReply* hanging = send("GET", "/desktop/getNote/");
        QTRY_COMPARE_WITH_TIMEOUT(server->hangingCount(), 1, kTimeoutMs);

        // The others are still served meanwhile.
        QCOMPARE(fetch("GET", "/desktop/heartBeat/").status.toInt(), 200);
        QVERIFY(!hanging->isFinished());

        server->releaseHanging();
        const Answer answer = await(hanging);
        QCOMPARE(answer.status.toInt(), 200);
        QCOMPARE(answer.body, QByteArray(R"({"code":0})"));
        QCOMPARE(server->hangingCount(), 0);
    }

    void hangAllHoldsEveryRequestUntilSwitchedOff() {
        server->openNote(9, QStringLiteral("x"));
        server->setHangAll(true);
        QList<QNetworkReply*> replies;
        for (int i = 0; i < 3; ++i) {
            replies << send("GET", "/desktop/heartBeat/");
        }
        QTRY_COMPARE_WITH_TIMEOUT(server->hangingCount(), 3, kTimeoutMs);
        for (QNetworkReply* reply : replies) {
            QVERIFY(!reply->isFinished());
        }

        server->setHangAll(false);
        for (QNetworkReply* reply : replies) {
            const Answer answer = await(reply);
            QCOMPARE(answer.status.toInt(), 200);
            QCOMPARE(jsonObject(answer.body).value("editingNoteId").toInt(), 9);
        }
    }

    void stopEndsHangingAndIdleConnections() {
        server->openNote(1, QStringLiteral("x"));
        // An answered request leaves an idle keep-alive connection behind.
        QCOMPARE(fetch("GET", "/desktop/heartBeat/").status.toInt(), 200);
        server->setHangAll(true);
        QList<QNetworkReply*> replies;
        for (int i = 0; i < 3; ++i) {
            replies << send("GET", "/desktop/getNote/");
        }
        QTRY_COMPARE_WITH_TIMEOUT(server->hangingCount(), 3, kTimeoutMs);

        std::atomic<bool> stopped{false};
        std::thread stopper([&] {
            server->stop();
            stopped = true;
        });
        const bool stoppedInTime = QTest::qWaitFor([&] { return stopped.load(); }, kTimeoutMs);
        if (!stoppedInTime) {
            stopper.detach();
            QFAIL("stop() did not return");
        }
        stopper.join();
        QVERIFY(!server->isRunning());

        for (QNetworkReply* reply : replies) {
            const Answer answer = await(reply);
            QVERIFY(answer.finished);
            QVERIFY(answer.error != QNetworkReply::NoError);
            QVERIFY(!answer.status.isValid());
        }

        // The address is free again at once.
        QVERIFY(server->start(kHost, kPort));
        server->setHangAll(false);
        QCOMPARE(fetch("GET", "/desktop/heartBeat/").status.toInt(), 200);
    }

    void dropClosesWithoutAnswer() {
        server->setOverride("/desktop/heartBeat/", [](const Request&) -> std::optional<Reply> {
            return Reply::dropped();
        });
        const Answer answer = fetch("GET", "/desktop/heartBeat/");
        QVERIFY(answer.finished);
        QVERIFY2(answer.error != QNetworkReply::NoError, "a dropped request must fail");
        QVERIFY(!answer.status.isValid());
        QVERIFY(answer.body.isEmpty());
        // The client may try again on a new connection; each attempt is dropped and recorded.
        QVERIFY(server->requestCount("/desktop/heartBeat/") >= 1);

        // The server goes on serving.
        QCOMPARE(fetch("GET", "/desktop/getNote/").status.toInt(), 200);
    }

    void requestsAreRecordedAsSent() {
        server->openNote(1, QString());
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        const qint64 steadyBefore = steadyNowNs();
        const QByteArray body = "noteId=1&content=a%20b%2Bc+d%E4%B8%AD%E6%96%87%F0%9F%98%80";
        QCOMPARE(fetch("POST", "/desktop/modifyNoteContent/", body).status.toInt(), 200);
        QCOMPARE(fetch("GET", "/desktop/heartBeat/?x=1").status.toInt(), 200);
        fetch("GET", "/desktop/fonts", {}, false);
        const qint64 after = QDateTime::currentMSecsSinceEpoch();
        const qint64 steadyAfter = steadyNowNs();

        const QList<Request> all = server->requests();
        QCOMPARE(all.size(), 3);

        const Request& push = all[0];
        QCOMPARE(push.method, QStringLiteral("POST"));
        QCOMPARE(push.path, QStringLiteral("/desktop/modifyNoteContent/"));
        QVERIFY2(push.headers.contains("Content-type"), qPrintable(push.headers.keys().join(',')));
        QCOMPARE(push.headers.value("Content-type"), QString::fromLatin1(kFormType));
        QCOMPARE(push.header("CONTENT-TYPE"), QString::fromLatin1(kFormType));
        QCOMPARE(push.body, body);
        QCOMPARE(push.form.value("noteId"), QStringLiteral("1"));
        QCOMPARE(push.form.value("content"), QStringLiteral("a b+c d中文😀"));
        QVERIFY(push.receivedAtMs >= before && push.receivedAtMs <= after);
        QVERIFY(push.receivedAtSteadyNs >= steadyBefore && push.receivedAtSteadyNs <= steadyAfter);

        const Request& heartBeat = all[1];
        QCOMPARE(heartBeat.method, QStringLiteral("GET"));
        QCOMPARE(heartBeat.path, QStringLiteral("/desktop/heartBeat/"));
        QCOMPARE(heartBeat.query, QStringLiteral("x=1"));
        QCOMPARE(heartBeat.header("content-type"), QString::fromLatin1(kFormType));
        QVERIFY(heartBeat.body.isEmpty());
        QVERIFY(heartBeat.form.isEmpty());
        QVERIFY(heartBeat.receivedAtMs >= push.receivedAtMs);
        QVERIFY(heartBeat.receivedAtSteadyNs > push.receivedAtSteadyNs);

        QVERIFY(all[2].header("Content-Type").isEmpty());
        QVERIFY(!all[2].headers.contains("REMOTE_ADDR"));

        QCOMPARE(server->requests("/desktop/heartBeat/").size(), 1);
        server->clearRequests();
        QVERIFY(server->requests().isEmpty());
    }

    void requestsServedWhileNotRecordingAreLeftOut() {
        server->openNote(1, QString());
        QCOMPARE(fetch("GET", "/desktop/heartBeat/").status.toInt(), 200);
        server->setRecordingRequests(false);
        const Answer push = fetch("POST", "/desktop/modifyNoteContent/", "noteId=1&content=kept");
        QCOMPARE(push.status.toInt(), 200);
        QCOMPARE(server->content(), QStringLiteral("kept")); // served and applied all the same
        server->setRecordingRequests(true);
        QCOMPARE(fetch("GET", "/desktop/getNote/").status.toInt(), 200);

        const QList<Request> all = server->requests();
        QCOMPARE(all.size(), 2);
        QCOMPARE(all[0].path, QStringLiteral("/desktop/heartBeat/"));
        QCOMPARE(all[1].path, QStringLiteral("/desktop/getNote/"));
    }

    void secondServerCannotTakeTheAddress() {
        NoteServer second;
        QVERIFY(!second.start(kHost, kPort));
        QVERIFY(!second.isRunning());
        QVERIFY(!server->start(kHost, kPort)); // already running
        QCOMPARE(fetch("GET", "/desktop/heartBeat/").status.toInt(), 200);
    }

    void decodeForm_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("keysAndValues");

        QTest::newRow("empty") << QByteArray() << QStringList{};
        QTest::newRow("percent and plus")
            << QByteArray("a=%20%2B+x&b=%E4%B8%AD") << QStringList{"a", " + x", "b", "中"};
        QTest::newRow("empty value and missing equals")
            << QByteArray("content=&flag") << QStringList{"content", "", "flag", ""};
        QTest::newRow("first of repeated keys wins")
            << QByteArray("k=1&k=2") << QStringList{"k", "1"};
        QTest::newRow("equals inside the value") << QByteArray("k=a=b") << QStringList{"k", "a=b"};
        // A U+FEFF that starts a value, and a NUL, are text.
        QTest::newRow("leading U+FEFF and NUL kept")
            << QByteArray("content=%EF%BB%BFa%00b")
            << QStringList{"content", QString(QChar(0xFEFF)) + QStringLiteral("a") + QChar(0) +
                                          QStringLiteral("b")};
    }

    void decodeForm() {
        QFETCH(QByteArray, body);
        QFETCH(QStringList, keysAndValues);
        QMap<QString, QString> expected;
        for (int i = 0; i + 1 < keysAndValues.size(); i += 2) {
            expected.insert(keysAndValues[i], keysAndValues[i + 1]);
        }
        QCOMPARE(NoteServer::decodeForm(body), expected);
    }

    void idText_data() {
        QTest::addColumn<QJsonValue>("id");
        QTest::addColumn<QString>("text");

        QTest::newRow("integer") << QJsonValue(1700000000123LL) << "1700000000123";
        QTest::newRow("negative") << QJsonValue(-3) << "-3";
        QTest::newRow("fraction") << QJsonValue(1.5) << "1.5";
        QTest::newRow("string kept") << QJsonValue("007") << "007";
    }

    void idText() {
        QFETCH(QJsonValue, id);
        QFETCH(QString, text);
        QCOMPARE(NoteServer::idText(id), text);
    }
};

QTEST_GUILESS_MAIN(NoteServerTest)
#include "tst_noteserver.moc"
