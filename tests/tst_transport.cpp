// SPDX-License-Identifier: GPL-3.0-or-later
// The transport against the fake phone misbehaving over real HTTP: every
// answer that is not whole and good comes back as its failure, within its
// deadline, never as a good answer; nothing follows a redirect; a gzip bomb
// is stopped before it is in memory; ids arrive intact as one form field.
// The same for the guarded manager the scene's loaders fetch through. Connections
// to the phone are kept and used again, a kept one the phone closed costs no
// failure, and no proxy of the environment ever sees a request.

#include "link/protocol/Protocol.h"
#include "link/transport/GuardedNetwork.h"
#include "link/transport/Inflater.h"
#include "link/transport/Transport.h"
#include "sim/NoteServer.h"

#include "sim/Wire.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkReply>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <memory>
#include <thread>

using tavrin::sim::NoteServer;
using tavrin::sim::Reply;
using tavrin::sim::Request;
using tavrin::transport::Answer;
using tavrin::transport::Failure;
using tavrin::transport::HttpTransport;
using tavrin::transport::Inflater;
using tavrin::transport::Limits;

Q_DECLARE_METATYPE(Reply)
Q_DECLARE_METATYPE(Failure)
Q_DECLARE_METATYPE(Inflater::Result)

namespace {

// A keep-alive HTTP server of the test's own, on the test's thread: it answers every request
// with kJson and keeps the connection open, except where told to end it the ways a phone
// does: while it is idle, or when the next request on it comes.
class KeptConnectionServer {
public:
    // What the first connection does with its second request.
    enum class Second { Answer, CloseUnanswered, ResetUnanswered };

    explicit KeptConnectionServer(const QByteArray& answerBody)
        : m_answerBody(answerBody) {
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] { accept(); });
    }

    ~KeptConnectionServer() {
        // The sockets go with the server, after the members their handlers use.
        for (QTcpSocket* socket : m_server.findChildren<QTcpSocket*>())
            QObject::disconnect(socket, nullptr, nullptr, nullptr);
    }
    KeptConnectionServer(const KeptConnectionServer&) = delete;
    KeptConnectionServer& operator=(const KeptConnectionServer&) = delete;

    bool listen(const QString& host, quint16 port) {
        return m_server.listen(QHostAddress(host), port);
    }
    void setSecond(Second second) { m_second = second; }
    int connections() const { return m_connections; }
    QList<QByteArray> bodies() const { return m_bodies; } // of every request, in order
    int openConnections() const { return int(m_open.size()); }

    // Ends every connection now, as a phone ends those idle for a while.
    void closeAll() {
        const QSet<QTcpSocket*> open = m_open; // each leaves the set as it closes
        for (QTcpSocket* socket : open)
            socket->disconnectFromHost();
    }

    void clear() {
        const QSet<QTcpSocket*> open = m_open;
        for (QTcpSocket* socket : open)
            socket->abort();
        m_connections = 0;
        m_bodies.clear();
        m_second = Second::Answer;
    }

private:
    void accept() {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            const int number = ++m_connections;
            m_open.insert(socket);
            auto buffer = std::make_shared<QByteArray>();
            auto served = std::make_shared<int>(0);
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [=] {
                *buffer += socket->readAll();
                while (takeRequest(socket, buffer.get(), number, served.get())) {
                }
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
                m_open.remove(socket);
                socket->deleteLater();
            });
        }
    }

    // Takes one whole request from the buffer and deals with it; false when none is whole.
    bool takeRequest(QTcpSocket* socket, QByteArray* buffer, int connection, int* served) {
        const int headEnd = buffer->indexOf("\r\n\r\n");
        if (headEnd < 0)
            return false;
        qint64 length = 0;
        for (const QByteArray& line : buffer->left(headEnd).split('\n')) {
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        }
        if (buffer->size() < headEnd + 4 + length)
            return false;
        m_bodies.append(buffer->mid(headEnd + 4, int(length)));
        buffer->remove(0, headEnd + 4 + int(length));
        if (connection == 1 && ++*served == 2 && m_second != Second::Answer) {
            if (m_second == Second::ResetUnanswered) {
                const linger reset{1, 0};
                setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset,
                           sizeof reset);
                socket->abort();
            } else {
                socket->disconnectFromHost();
            }
            return false;
        }
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                      QByteArray::number(m_answerBody.size()) + "\r\n\r\n" + m_answerBody);
        return true;
    }

    QTcpServer m_server;
    QByteArray m_answerBody;
    QSet<QTcpSocket*> m_open;
    Second m_second = Second::Answer;
    int m_connections = 0;
    QList<QByteArray> m_bodies;
};

} // namespace

namespace {

// 127.0.9.x belongs to this test alone.
const QString kPhoneHost = QStringLiteral("127.0.9.1");
// Where the redirects point: it must never see a request.
const QString kElsewhereHost = QStringLiteral("127.0.9.2");
constexpr quint16 kPort = 8080;
const QString kPath = QStringLiteral("/desktop/heartBeat/");
constexpr int kDeadlineMs = 150;
constexpr int kWait = 5000;
const QByteArray kJson = R"({"editingNoteId":37,"editingCharCount":57,"editingMarkdown":false})";
// The test's own keep-alive server, and a proxy that must never be asked.
const QString kKeptHost = QStringLiteral("127.0.9.5");
const QString kProxyHost = QStringLiteral("127.0.9.4");

QUrl phoneUrl(const QString& path = kPath) {
    return QUrl(QStringLiteral("http://%1:%2%3").arg(kPhoneHost).arg(kPort).arg(path));
}

struct Outcome {
    bool came = false;
    int count = 0; // how often it was answered
    Answer answer;
    qint64 elapsedMs = 0;
};

Reply withHeader(Reply reply, const QByteArray& name, const QByteArray& value) {
    reply.headers.append(qMakePair(name, value));
    return reply;
}

// A zlib-wrapped (or raw, windowBits -15) deflate stream.
QByteArray deflated(const QByteArray& data, int windowBits) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&z, uLong(data.size()))), Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.truncate(int(z.total_out));
    deflateEnd(&z);
    return out;
}

// The body as written raw, framed by the connection's close alone.
Reply closeFramed(const QByteArray& head, const QByteArray& body) {
    return Reply::raw("HTTP/1.1 200 OK\r\n" + head + "Connection: close\r\n\r\n" + body);
}

// The process's resident memory, and the highest it has been since resetPeak().
qint64 residentBytes() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    return statm.readAll().split(' ').value(1).toLongLong() * sysconf(_SC_PAGESIZE);
}

bool resetPeak() {
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
}

qint64 peakResidentBytes() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}

} // namespace

class TransportTest : public QObject {
    Q_OBJECT

    NoteServer m_phone;
    NoteServer m_elsewhere;
    KeptConnectionServer m_kept{kJson};
    HttpTransport m_transport;

    std::shared_ptr<Outcome> send(const QUrl& url, const Limits& limits,
                                  const std::optional<QByteArray>& form = std::nullopt,
                                  HttpTransport* via = nullptr) {
        HttpTransport& transport = via ? *via : m_transport;
        auto outcome = std::make_shared<Outcome>();
        auto clock = std::make_shared<QElapsedTimer>();
        clock->start();
        QEventLoop loop;
        const auto done = [outcome, clock,
                           loop = QPointer<QEventLoop>(&loop)](const Answer& answer) {
            outcome->came = true;
            ++outcome->count;
            outcome->answer = answer;
            outcome->elapsedMs = clock->elapsed();
            if (loop)
                loop->quit();
        };
        if (form)
            transport.postForm(url, *form, limits, this, done);
        else
            transport.get(url, limits, this, done);
        // Never inside the call.
        if (outcome->came)
            return nullptr;
        // Waits on the answer itself, not in steps: timings stay exact.
        QTimer::singleShot(kWait, &loop, &QEventLoop::quit);
        loop.exec();
        return outcome;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_phone.start(kPhoneHost, kPort));
        QVERIFY(m_elsewhere.start(kElsewhereHost, kPort));
        QVERIFY(m_kept.listen(kKeptHost, kPort));
        // The place the redirects point to answers whoever asks.
        QNetworkAccessManager direct;
        std::unique_ptr<QNetworkReply> probe(direct.get(QNetworkRequest(
            QUrl(QStringLiteral("http://%1:%2%3").arg(kElsewhereHost).arg(kPort).arg(kPath)))));
        QTRY_VERIFY_WITH_TIMEOUT(probe->isFinished(), kWait);
        QCOMPARE(probe->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
        QCOMPARE(m_elsewhere.requestCount(kPath), 1);
    }

    void init() {
        m_phone.clearOverrides();
        m_phone.clearRequests();
        m_elsewhere.clearRequests();
    }

    void cleanup() {
        m_phone.releaseHanging();
        // Nothing that failed or went elsewhere ever reaches the other host.
        QCOMPARE(m_elsewhere.requests().size(), 0);
    }

    void answers_data() {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<qint64>("maxBytes");
        QTest::addColumn<Failure>("failure");
        QTest::addColumn<int>("status");      // -1: any
        QTest::addColumn<QByteArray>("body"); // of a whole answer

        const Reply good = Reply::json(kJson);
        const qint64 small = 8 * 1024;
        const QByteArray big(10 * 1024, 'x');
        const QByteArray gzipped = tavrin::sim::wire::gzipCompress(kJson);

        QTest::newRow("whole answer")
            << good << kDeadlineMs << small << Failure::None << 200 << kJson;
        QTest::newRow("error status, whole") << Reply::json("{}", 500) << kDeadlineMs << small
                                             << Failure::None << 500 << QByteArray("{}");
        QTest::newRow("not found, whole") << Reply::json("gone", 404) << kDeadlineMs << small
                                          << Failure::None << 404 << QByteArray("gone");
        QTest::newRow("no limit on time")
            << good << tavrin::transport::kNoTimeout << small << Failure::None << 200 << kJson;

        // Cut short.
        QTest::newRow("Content-Length 500 over 70 bytes, then a close")
            << Reply::lyingLength(good, 500) << kDeadlineMs << small << Failure::Truncated << 200
            << QByteArray();
        QTest::newRow("Content-Length shorter: the body is what it frames")
            << Reply::lyingLength(good, 5) << kDeadlineMs << small << Failure::None << 200
            << kJson.left(5);
        QTest::newRow("reset mid-body") << Reply::resetAfter(good, 20) << kDeadlineMs << small
                                        << Failure::Truncated << 200 << QByteArray();
        QTest::newRow("reset after the headers")
            << Reply::resetAfter(good, 0) << kDeadlineMs << small << Failure::Truncated << 200
            << QByteArray();
        Reply chunkCut = good;
        chunkCut.chunked = true;
        chunkCut.cutAfter = 10;
        QTest::newRow("chunked body that stops, then a close")
            << chunkCut << kDeadlineMs << small << Failure::Truncated << 200 << QByteArray();
        chunkCut.ending = Reply::Ending::Reset;
        QTest::newRow("chunked body reset inside a chunk")
            << chunkCut << kDeadlineMs << small << Failure::Truncated << 200 << QByteArray();
        // Every byte of the JSON came, only the last chunk did not.
        Reply lastChunkMissing = good;
        lastChunkMissing.chunked = true;
        lastChunkMissing.cutAfter =
            QByteArray::number(kJson.size(), 16).size() + 2 + kJson.size() + 2;
        QTest::newRow("chunked body without its last chunk, then a close")
            << lastChunkMissing << kDeadlineMs << small << Failure::Truncated << 200
            << QByteArray();
        lastChunkMissing.ending = Reply::Ending::Reset;
        QTest::newRow("chunked body without its last chunk, then a reset")
            << lastChunkMissing << kDeadlineMs << small << Failure::Truncated << 200
            << QByteArray();
        Reply chunkedWhole = good;
        chunkedWhole.chunked = true;
        QTest::newRow("chunked body, whole")
            << chunkedWhole << kDeadlineMs << small << Failure::None << 200 << kJson;
        QTest::newRow("gzip cut, framed by the close")
            << closeFramed("Content-Encoding: gzip\r\n", gzipped.left(gzipped.size() / 2))
            << kDeadlineMs << small << Failure::Truncated << 200 << QByteArray();
        // The framing is whole, the compressed stream in it is not.
        QTest::newRow("gzip cut, whole Content-Length")
            << withHeader(Reply::json(gzipped.left(gzipped.size() / 2)), "Content-Encoding", "gzip")
            << kDeadlineMs << small << Failure::Truncated << 200 << QByteArray();
        Reply gzipCutChunked =
            withHeader(Reply::json(gzipped.left(gzipped.size() / 2)), "Content-Encoding", "gzip");
        gzipCutChunked.chunked = true;
        QTest::newRow("gzip cut, whole chunked body")
            << gzipCutChunked << kDeadlineMs << small << Failure::Truncated << 200 << QByteArray();
        QTest::newRow("close-framed plain body is whole")
            << closeFramed("Content-Type: application/json\r\n", kJson) << kDeadlineMs << small
            << Failure::None << 200 << kJson;

        // Never ending: the deadline holds for the whole answer, whatever keeps arriving.
        QTest::newRow("chunk every 50 ms for ever")
            << Reply::chunkedForever(" ", 50) << kDeadlineMs << small << Failure::Timeout << 200
            << QByteArray();
        QTest::newRow("headers and half a chunk, then silence")
            << Reply::stallAfter(chunkCut, 8) << kDeadlineMs << small << Failure::Timeout << 200
            << QByteArray();
        QTest::newRow("headers and 10 bytes, then silence")
            << Reply::stallAfter(good, 10) << kDeadlineMs << small << Failure::Timeout << 200
            << QByteArray();
        QTest::newRow("headers only, then silence")
            << Reply::stallAfter(good, 0) << kDeadlineMs << small << Failure::Timeout << 200
            << QByteArray();
        QTest::newRow("dripped slower than the deadline")
            << Reply::drip(good, 8, 30) << kDeadlineMs << small << Failure::Timeout << -1
            << QByteArray();
        QTest::newRow("no answer at all")
            << Reply::hanging() << kDeadlineMs << small << Failure::Timeout << 0 << QByteArray();
        QTest::newRow("dripped within the deadline")
            << Reply::drip(good, 64, 5) << 2000 << small << Failure::None << 200 << kJson;

        // Too large, however it comes.
        QTest::newRow("announced beyond the limit")
            << Reply::json(big) << kDeadlineMs << small << Failure::TooLarge << 200 << QByteArray();
        QTest::newRow("exactly the limit")
            << Reply::json(big) << kDeadlineMs << qint64(big.size()) << Failure::None << 200 << big;
        QTest::newRow("chunked beyond the limit")
            << Reply::chunkedForever(QByteArray(1000, 'x'), 0) << 2000 << small << Failure::TooLarge
            << 200 << QByteArray();
        QTest::newRow("close-framed beyond the limit")
            << closeFramed("", big) << kDeadlineMs << small << Failure::TooLarge << 200
            << QByteArray();
        QTest::newRow("gzip inflating beyond the limit")
            << Reply::gzip(Reply::json(big)) << kDeadlineMs << small << Failure::TooLarge << 200
            << QByteArray();

        // Compressed: inflated here, within the limit.
        QTest::newRow("gzip") << Reply::gzip(good) << kDeadlineMs << small << Failure::None << 200
                              << kJson;
        QTest::newRow("deflate, zlib-wrapped")
            << withHeader(Reply::json(deflated(kJson, 15)), "Content-Encoding", "deflate")
            << kDeadlineMs << small << Failure::None << 200 << kJson;
        QTest::newRow("deflate, raw")
            << closeFramed("Content-Encoding: deflate\r\n", deflated(kJson, -15)) << kDeadlineMs
            << small << Failure::None << 200 << kJson;
        QTest::newRow("corrupt gzip")
            << closeFramed("Content-Encoding: gzip\r\n",
                           QByteArray("\x1f\x8b\x08\0\0\0\0\0\0\x03\xff\xff\xff", 13))
            << kDeadlineMs << small << Failure::BadEncoding << 200 << QByteArray();
        QTest::newRow("an encoding not asked for")
            << closeFramed("Content-Encoding: br\r\n", "\x0b\x02\x80{}\x03") << kDeadlineMs << small
            << Failure::BadEncoding << 200 << QByteArray();

        // Not HTTP, or nothing.
        QTest::newRow("dropped") << Reply::dropped() << kDeadlineMs << small << Failure::NoAnswer
                                 << 0 << QByteArray();
        QTest::newRow("no status line") << Reply::raw("hello\r\n\r\n") << kDeadlineMs << small
                                        << Failure::NoAnswer << 0 << QByteArray();
        QTest::newRow("status line, then a close")
            << Reply::raw("HTTP/1.1 200 OK\r\nContent-") << kDeadlineMs << small
            << Failure::NoAnswer << 0 << QByteArray();

        // No redirect is followed: 127.0.9.2 sees nothing (checked after each row).
        for (int status : {301, 302, 303, 307, 308}) {
            const QByteArray location = QStringLiteral("http://%1:%2%3")
                                            .arg(kElsewhereHost)
                                            .arg(kPort)
                                            .arg(kPath)
                                            .toLatin1();
            QTest::addRow("redirect %d", status)
                << Reply::redirect(status, location) << kDeadlineMs << small << Failure::Redirected
                << status << QByteArray();
        }
        QTest::newRow("redirect with a body")
            << withHeader(Reply::json("moved", 302), "Location", "http://127.0.9.2:8080/")
            << kDeadlineMs << small << Failure::Redirected << 302 << QByteArray();
    }

    void answers() {
        QFETCH(Reply, reply);
        QFETCH(int, timeoutMs);
        QFETCH(qint64, maxBytes);
        QFETCH(Failure, failure);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        m_phone.setOverride(kPath, [reply](const Request&) { return reply; });

        const auto outcome = send(phoneUrl(), {timeoutMs, maxBytes});
        QVERIFY2(outcome, "answered inside the call");
        QVERIFY(outcome->came);
        QCOMPARE(outcome->answer.failure, failure);
        if (status >= 0)
            QCOMPARE(outcome->answer.status, status);
        QCOMPARE(outcome->answer.body, body);
        QCOMPARE(outcome->answer.isOk(), failure == Failure::None && status == 200);
        if (failure == Failure::Timeout) {
            // Not before the deadline (a coarse timer may be a little early), and soon after it.
            QVERIFY2(outcome->elapsedMs >= timeoutMs * 9 / 10,
                     qPrintable(QString::number(outcome->elapsedMs)));
            QVERIFY2(outcome->elapsedMs < timeoutMs + 1000,
                     qPrintable(QString::number(outcome->elapsedMs)));
        }
        // Answered once, even when the server goes on sending.
        m_phone.clearOverrides();
        const auto next = send(phoneUrl(), {2000, 8 * 1024});
        QVERIFY(next && next->answer.isOk());
        QCOMPARE(outcome->count, 1);
    }

    void refusedConnectionIsNoAnswer() {
        // 127.0.9.3 has nobody listening.
        const auto outcome = send(QUrl(QStringLiteral("http://127.0.9.3:8080/desktop/heartBeat/")),
                                  {kDeadlineMs, 1024});
        QVERIFY(outcome && outcome->came);
        QCOMPARE(outcome->answer.failure, Failure::NoAnswer);
        QCOMPARE(outcome->answer.status, 0);
    }

    void requestCarriesTheHeaderAndAsksForWhatItInflates() {
        send(phoneUrl(), {2000, 8 * 1024}, QByteArray("noteId=1"));
        const QList<Request> requests = m_phone.requests(kPath);
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].header(QStringLiteral("Content-type")),
                 QStringLiteral("application/x-www-form-urlencoded"));
        QCOMPARE(requests[0].header(QStringLiteral("Accept-Encoding")),
                 QStringLiteral("gzip, deflate"));
        QCOMPARE(requests[0].body, QByteArray("noteId=1"));
    }

    // On a kept connection a push is written before the call returns, not on
    // the event loop's next round, which a repaint of a long note may hold up.
    void requestLeavesBeforeTheEventLoopRuns() {
        QVERIFY(send(phoneUrl(), 2000)); // a connection to keep
        m_phone.clearRequests();
        bool answered = false;
        m_transport.postForm(phoneUrl(), QByteArray("noteId=1&content=a"), 2000, this,
                             [&](const Answer&) { answered = true; });
        // The phone's own threads read it; this thread runs no events meanwhile.
        QElapsedTimer waited;
        waited.start();
        while (m_phone.requestCount(kPath) == 0 && waited.elapsed() < kWait)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        QCOMPARE(m_phone.requestCount(kPath), 1);
        QVERIFY(!answered);
        QTRY_VERIFY_WITH_TIMEOUT(answered, kWait);
    }

    void contextGoneMeansNoCall() {
        m_phone.setOverride(kPath, [](const Request&) { return Reply::json(kJson); });
        bool called = false;
        auto context = std::make_unique<QObject>();
        m_transport.get(phoneUrl(), {2000, 1024}, context.get(),
                        [&](const Answer&) { called = true; });
        context.reset();
        // The request is still answered by the phone; its answer goes nowhere.
        QTRY_COMPARE_WITH_TIMEOUT(m_phone.requestCount(kPath), 1, kWait);
        const auto control = send(phoneUrl(), {2000, 1024});
        QVERIFY(control && control->answer.isOk());
        QVERIFY(!called);
    }

    // A kept connection serves the next request; one the phone ended, while it was idle or
    // as the next request came, is replaced by a fresh one without a failure, for a GET and
    // a POST alike (the POST sent again whole).
    void keptConnections_data() {
        using Second = KeptConnectionServer::Second;
        QTest::addColumn<int>("second");
        QTest::addColumn<bool>("closedWhileIdle");
        QTest::addColumn<bool>("post");
        QTest::addColumn<int>("connections");
        QTest::addColumn<int>("requests"); // as the server saw them: one sent again counts twice
        for (const bool post : {false, true}) {
            const char* method = post ? "POST" : "GET";
            QTest::addRow("%s, kept and used again", method)
                << int(Second::Answer) << false << post << 1 << 3;
            QTest::addRow("%s, closed while idle", method)
                << int(Second::Answer) << true << post << 2 << 3;
            QTest::addRow("%s, closed as the next request came", method)
                << int(Second::CloseUnanswered) << false << post << 2 << 4;
            QTest::addRow("%s, reset as the next request came", method)
                << int(Second::ResetUnanswered) << false << post << 2 << 4;
        }
    }

    void keptConnections() {
        QFETCH(int, second);
        QFETCH(bool, closedWhileIdle);
        QFETCH(bool, post);
        QFETCH(int, connections);
        QFETCH(int, requests);
        m_kept.clear();
        m_kept.setSecond(KeptConnectionServer::Second(second));
        const QUrl url(QStringLiteral("http://%1:%2%3").arg(kKeptHost).arg(kPort).arg(kPath));
        const QByteArray form = "noteId=7&content=" + QByteArray(3000, 'k');
        const std::optional<QByteArray> body = post ? std::optional(form) : std::nullopt;

        for (int i = 0; i < 3; ++i) {
            const auto outcome = send(url, {2000, 1024}, body);
            QVERIFY(outcome && outcome->came);
            QCOMPARE(outcome->answer.failure, Failure::None);
            QCOMPARE(outcome->answer.body, kJson);
            if (i == 0 && closedWhileIdle) {
                m_kept.closeAll();
                QTRY_COMPARE_WITH_TIMEOUT(m_kept.openConnections(), 0, kWait);
            }
        }
        QCOMPARE(m_kept.connections(), connections);
        QCOMPARE(m_kept.bodies().size(), requests);
        for (const QByteArray& received : m_kept.bodies())
            QCOMPARE(received, post ? form : QByteArray());
    }

    // An http_proxy (or all_proxy) in the environment is for the web: a request to the phone
    // goes straight to it, and the proxy never sees a connection.
    void proxyOfTheEnvironmentIsNeverUsed() {
        m_phone.setOverride(kPath, [](const Request&) { return Reply::json(kJson); });
        QTcpServer proxy;
        QVERIFY(proxy.listen(QHostAddress(kProxyHost), kPort));
        const QByteArray proxyUrl = "http://" + kProxyHost.toLatin1() + ":8080";
        const QList<QByteArray> proxies{"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"};
        const QList<QByteArray> exceptions{"no_proxy", "NO_PROXY"};
        QList<QPair<QByteArray, std::optional<QByteArray>>> saved;
        for (const QByteArray& name : proxies + exceptions)
            saved.append({name, qEnvironmentVariableIsSet(name.constData())
                                    ? std::optional(qgetenv(name.constData()))
                                    : std::nullopt});
        for (const QByteArray& name : proxies)
            qputenv(name.constData(), proxyUrl);
        for (const QByteArray& name : exceptions)
            qunsetenv(name.constData());

        // A fresh transport: nothing kept from before the environment changed.
        HttpTransport fresh;
        const auto got = send(phoneUrl(), {2000, 8 * 1024}, std::nullopt, &fresh);
        const auto posted = send(phoneUrl(), {2000, 8 * 1024}, QByteArray("noteId=1"), &fresh);
        for (const auto& [name, value] : saved) {
            if (value)
                qputenv(name.constData(), *value);
            else
                qunsetenv(name.constData());
        }
        QVERIFY(got && got->answer.isOk());
        QVERIFY(posted && posted->answer.isOk());
        QCOMPARE(m_phone.requestCount(kPath), 2);
        QVERIFY(!proxy.hasPendingConnections());
    }

    // Megabytes of a push go at once: no "Expect: 100-continue" to wait for, and the
    // connection is kept.
    void largePushGoesAtOnce() {
        m_phone.setOverride(kPath, [](const Request&) { return Reply::json(kJson); });
        const QByteArray form = "noteId=7&content=" + QByteArray(3 * 1024 * 1024, 'a');
        const auto outcome = send(phoneUrl(), {5000, 8 * 1024}, form);
        QVERIFY(outcome && outcome->answer.isOk());
        const QList<Request> requests = m_phone.requests(kPath);
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0].body.size(), form.size());
        QVERIFY(requests[0].body == form);
        QCOMPARE(requests[0].header(QStringLiteral("Expect")), QString());
        QVERIFY(requests[0]
                    .header(QStringLiteral("Connection"))
                    .compare(QLatin1String("close"), Qt::CaseInsensitive) != 0);
        QCOMPARE(requests[0].header(QStringLiteral("Content-type")),
                 QStringLiteral("application/x-www-form-urlencoded"));
    }

    // 256 MiB of zeros in about 256 KB of gzip, as a heartbeat (8 KiB) and as a background
    // picture through the scene's manager (20 MiB): each is stopped at its limit, and the
    // process never holds more than a little beyond it.
    void gzipBombIsStoppedEarly_data() {
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<bool>("scene");
        QTest::newRow("heartbeat limit") << tavrin::protocol::kMaxHeartbeatAnswerBytes << false;
        QTest::newRow("background limit, scene's manager")
            << tavrin::protocol::kMaxBackgroundBytes << true;
    }

    void gzipBombIsStoppedEarly() {
        QFETCH(qint64, limit);
        QFETCH(bool, scene);
        constexpr qint64 kBomb = 256LL * 1024 * 1024;
        constexpr qint64 kSlack = 48LL * 1024 * 1024;
        const Reply bomb = Reply::gzipBomb(kBomb, "image/png");
        QVERIFY(bomb.body.size() < 1024 * 1024);
        m_phone.setOverride(kPath, [bomb](const Request&) { return bomb; });

        const qint64 before = residentBytes();
        QVERIFY(before > 0);
        const bool peakKnown = resetPeak();
        qint64 sampledPeak = before;
        QTimer sampler;
        connect(&sampler, &QTimer::timeout,
                [&] { sampledPeak = qMax(sampledPeak, residentBytes()); });
        sampler.start(1);

        if (!scene) {
            const auto outcome = send(phoneUrl(), {5000, limit});
            QVERIFY(outcome && outcome->came);
            QCOMPARE(outcome->answer.failure, Failure::TooLarge);
        } else {
            tavrin::transport::GuardedNetworkAccessManager network(
                [limit](const QUrl&) { return Limits(5000, limit); });
            std::unique_ptr<QNetworkReply> reply(network.get(QNetworkRequest(phoneUrl())));
            QSignalSpy finished(reply.get(), &QNetworkReply::finished);
            QVERIFY(finished.wait(kWait));
            QCOMPARE(reply->error(), QNetworkReply::UnknownContentError);
            QCOMPARE(reply->bytesAvailable(), 0);
        }
        sampler.stop();
        const qint64 peak = peakKnown ? qMax(peakResidentBytes(), sampledPeak) : sampledPeak;
        qInfo("resident before %lld MiB, peak %lld MiB (%s)", before >> 20, peak >> 20,
              peakKnown ? "VmHWM" : "sampled");
        QVERIFY2(peak - before < limit + kSlack,
                 qPrintable(QStringLiteral("grew by %1 MiB").arg((peak - before) >> 20)));
    }

    // Ids that hold form syntax, line breaks, NUL or CJK arrive as the one field they are:
    // decoded by the phone's own form decoder, and matched to its open note.
    void idsArriveIntact_data() {
        QTest::addColumn<QJsonValue>("id");
        QTest::newRow("number") << QJsonValue(37);
        QTest::newRow("large number") << QJsonValue(9007199254740991.0);
        QTest::newRow("another field in it") << QJsonValue("5&content=INJECT");
        QTest::newRow("equals and plus") << QJsonValue("a=b+c");
        QTest::newRow("line breaks") << QJsonValue("n\r\n1");
        QTest::newRow("NUL") << QJsonValue(QString(QChar(0)) + QStringLiteral("7"));
        QTest::newRow("percent") << QJsonValue("%41%");
        QTest::newRow("CJK and an emoji")
            << QJsonValue(QString::fromUtf8("便签 7 \xF0\x9F\x98\x80"));
    }

    void idsArriveIntact() {
        QFETCH(QJsonValue, id);
        const QString idText = tavrin::protocol::idText(id);
        const QString content = QStringLiteral("new text & more=1+1\n第二行");
        m_phone.openNote(id, QStringLiteral("old"));
        const int appliedBefore = m_phone.appliedContentCount();

        // All three at once: a POST on loopback waits some 40 ms for a delayed ACK.
        const QList<QPair<const char*, QByteArray>> pushes{
            {tavrin::protocol::kModifyContentPath,
             tavrin::protocol::contentBody(id, content).value_or(QByteArray())},
            {tavrin::protocol::kUpdateSelectionPath, tavrin::protocol::selectionBody(id, 2, 5)},
            {tavrin::protocol::kSaveNowPath, tavrin::protocol::saveBody(id)},
        };
        int answered = 0;
        int good = 0;
        QEventLoop loop;
        for (const auto& [path, body] : pushes) {
            QVERIFY(!body.isEmpty());
            m_transport.postForm(phoneUrl(QLatin1String(path)), body, {2000, 1024}, &loop,
                                 [&](const Answer& answer) {
                                     good += answer.isOk() ? 1 : 0;
                                     if (++answered == pushes.size())
                                         loop.quit();
                                 });
        }
        QTimer::singleShot(kWait, &loop, &QEventLoop::quit);
        loop.exec();
        QCOMPARE(answered, 3);
        QCOMPARE(good, 3);
        for (const auto& [path, body] : pushes) {
            const QList<Request> requests = m_phone.requests(QLatin1String(path));
            QCOMPARE(requests.size(), 1);
            QCOMPARE(requests.last().body, body);
            QCOMPARE(requests.last().form.value(QStringLiteral("noteId")), idText);
        }

        const Request push =
            m_phone.requests(QLatin1String(tavrin::protocol::kModifyContentPath)).last();
        QCOMPARE(push.form.keys(),
                 (QStringList{QStringLiteral("content"), QStringLiteral("noteId")}));
        QCOMPARE(push.form.value(QStringLiteral("content")), content);
        // The phone took it for its open note.
        QCOMPARE(m_phone.appliedContentCount(), appliedBefore + 1);
        QCOMPARE(m_phone.content(), content);
        const Request selection =
            m_phone.requests(QLatin1String(tavrin::protocol::kUpdateSelectionPath)).last();
        QCOMPARE(selection.form.size(), 3);
        QCOMPARE(m_phone.lastSelection().noteId, idText);
        QCOMPARE(m_phone.lastSelection().start, 2);
        QCOMPARE(m_phone.lastSelection().end, 5);
        QCOMPARE(m_phone.lastSavedNoteId(), idText);
    }

    // ---- The guarded manager, as the scene's loaders use it ----------------

    void guardedManager_data() {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<QNetworkReply::NetworkError>("error");
        QTest::addColumn<QByteArray>("body");
        const QByteArray picture(3000, 'p');
        QTest::newRow("whole") << Reply::json(picture) << QNetworkReply::NoError << picture;
        QTest::newRow("gzip, inflated")
            << Reply::gzip(Reply::json(picture)) << QNetworkReply::NoError << picture;
        QTest::newRow("not found")
            << Reply::json("no", 404) << QNetworkReply::ContentNotFoundError << QByteArray();
        QTest::newRow("too large") << Reply::json(QByteArray(5000, 'p'))
                                   << QNetworkReply::UnknownContentError << QByteArray();
        QTest::newRow("cut short") << Reply::lyingLength(Reply::json(picture), 3500)
                                   << QNetworkReply::RemoteHostClosedError << QByteArray();
        QTest::newRow("never ending")
            << Reply::chunkedForever("p", 50) << QNetworkReply::TimeoutError << QByteArray();
        for (int status : {301, 302, 303, 307, 308})
            QTest::addRow("redirect %d", status)
                << Reply::redirect(status, "http://127.0.9.2:8080/desktop/bgPicture/")
                << QNetworkReply::ProtocolFailure << QByteArray();
    }

    void guardedManager() {
        QFETCH(Reply, reply);
        QFETCH(QNetworkReply::NetworkError, error);
        QFETCH(QByteArray, body);
        const QString path = QLatin1String(tavrin::protocol::kBgPicturePath);
        m_phone.setOverride(path, [reply](const Request&) { return reply; });
        tavrin::transport::GuardedNetworkAccessManager network(
            [](const QUrl&) { return Limits(kDeadlineMs, 4096); });

        std::unique_ptr<QNetworkReply> fetched(network.get(QNetworkRequest(phoneUrl(path))));
        QSignalSpy finished(fetched.get(), &QNetworkReply::finished);
        QVERIFY(finished.wait(kWait));
        QVERIFY(fetched->isFinished());
        QCOMPARE(finished.count(), 1);
        QCOMPARE(fetched->error(), error);
        // What a loader reads to follow a redirect by itself is never there.
        QVERIFY(!fetched->attribute(QNetworkRequest::RedirectionTargetAttribute).isValid());
        QCOMPARE(fetched->readAll(), body);
        if (error == QNetworkReply::NoError) {
            QCOMPARE(fetched->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
            QCOMPARE(fetched->header(QNetworkRequest::ContentLengthHeader).toLongLong(),
                     qint64(body.size()));
            QVERIFY(!fetched->hasRawHeader("Content-Encoding"));
        }
    }

    void guardedManagerAbort() {
        m_phone.setOverride(kPath, [](const Request&) { return Reply::hanging(); });
        tavrin::transport::GuardedNetworkAccessManager network(
            [](const QUrl&) { return Limits(5000, 4096); });
        std::unique_ptr<QNetworkReply> fetched(network.get(QNetworkRequest(phoneUrl())));
        QTRY_COMPARE_WITH_TIMEOUT(m_phone.hangingCount(), 1, kWait);
        int finishedCount = 0;
        connect(fetched.get(), &QNetworkReply::finished, [&] { ++finishedCount; });
        fetched->abort();
        QCOMPARE(finishedCount, 1);
        QCOMPARE(fetched->error(), QNetworkReply::OperationCanceledError);
        fetched->abort();
        QCOMPARE(finishedCount, 1);
        // Deleting it, and the manager with all its replies, mid-transfer is safe too.
        std::unique_ptr<QNetworkReply> second(network.get(QNetworkRequest(phoneUrl())));
        QTRY_COMPARE_WITH_TIMEOUT(m_phone.hangingCount(), 2, kWait);
        second.release(); // the manager deletes it
        m_phone.releaseHanging();
    }

    // ---- The inflater on its own --------------------------------------------

    void inflaterInPieces_data() {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<int>("format");
        QTest::addColumn<qint64>("maxOut");
        QTest::addColumn<Inflater::Result>("result");
        QTest::addColumn<bool>("complete");
        QByteArray text;
        for (int i = 0; i < 2000; ++i)
            text += QByteArray::number(i) + ',';
        const QByteArray gzip = tavrin::sim::wire::gzipCompress(text);
        const int gz = int(Inflater::Format::Gzip);
        const int df = int(Inflater::Format::Deflate);
        QTest::newRow("gzip") << gzip << gz << qint64(text.size()) << Inflater::Result::Ok << true;
        QTest::newRow("gzip, one byte short of room")
            << gzip << gz << qint64(text.size() - 1) << Inflater::Result::TooLarge << false;
        QTest::newRow("two gzip members")
            << gzip + gzip << gz << qint64(2 * text.size()) << Inflater::Result::Ok << true;
        QTest::newRow("gzip then garbage")
            << gzip + "xy" << gz << qint64(text.size() * 2) << Inflater::Result::Corrupt << false;
        QTest::newRow("gzip cut") << gzip.left(gzip.size() - 4) << gz << qint64(text.size())
                                  << Inflater::Result::Ok << false;
        QTest::newRow("zlib deflate")
            << deflated(text, 15) << df << qint64(text.size()) << Inflater::Result::Ok << true;
        QTest::newRow("raw deflate")
            << deflated(text, -15) << df << qint64(text.size()) << Inflater::Result::Ok << true;
        QTest::newRow("deflate then garbage")
            << deflated(text, 15) + "x" << df << qint64(text.size()) << Inflater::Result::Corrupt
            << true;
        QTest::newRow("not compressed") << QByteArray("plain text, not a stream") << gz
                                        << qint64(1000) << Inflater::Result::Corrupt << false;
    }

    void inflaterInPieces() {
        QFETCH(QByteArray, stream);
        QFETCH(int, format);
        QFETCH(qint64, maxOut);
        QFETCH(Inflater::Result, result);
        QFETCH(bool, complete);
        // Whole, and in pieces of every size from 1 to 7 bytes: the same outcome.
        for (int piece : {int(stream.size()), 1, 2, 3, 7}) {
            Inflater inflater{Inflater::Format(format)};
            QByteArray out;
            Inflater::Result got = Inflater::Result::Ok;
            for (int at = 0; at < stream.size() && got == Inflater::Result::Ok; at += piece)
                got = inflater.feed(stream.mid(at, piece), out, maxOut);
            QCOMPARE(got, result);
            QCOMPARE(inflater.isComplete(), complete);
            QVERIFY(out.size() <= maxOut);
            if (result == Inflater::Result::Ok && complete)
                QVERIFY(out.endsWith("1999,"));
            // Nothing more is taken after a failure.
            if (got != Inflater::Result::Ok)
                QCOMPARE(inflater.feed("more", out, maxOut), Inflater::Result::Corrupt);
        }
    }
};

QTEST_GUILESS_MAIN(TransportTest)
#include "tst_transport.moc"
