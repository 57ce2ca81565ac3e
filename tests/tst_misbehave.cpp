// SPDX-License-Identifier: GPL-3.0-or-later
// The fake phone misbehaving on request, checked byte for byte from raw clients: what arrives,
// in what pieces and when, and how each connection ends.

#include "sim/Misbehaviour.h"
#include "sim/NoteServer.h"
#include "sim/Sockets.h"
#include "sim/Wire.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTest>
#include <QTextCodec>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using tavrin::sim::Misbehaviour;
using tavrin::sim::NoteServer;
using tavrin::sim::Reply;
using tavrin::sim::Request;
using tavrin::sim::Served;
namespace wire = tavrin::sim::wire;

// How an answer is cut short or lies, for a table of them.
enum class Cut { Reset, ResetInChunk, Lie };

Q_DECLARE_METATYPE(Served::Ending)
Q_DECLARE_METATYPE(Cut)

namespace {

// 127.0.0.40-78 belong to other tests that may run at the same time.
const QString kHost = QStringLiteral("127.0.0.120");
constexpr quint16 kPort = 8080;
constexpr int kTimeoutMs = 5000;
// Long enough to see that nothing more comes, short enough for a quick run.
constexpr int kSilenceMs = 200;
const QByteArray kElsewhere = "http://127.0.0.99:8080/desktop/getNote/";

const QString kHeartBeat = QStringLiteral("/desktop/heartBeat/");
const QString kGetNote = QStringLiteral("/desktop/getNote/");
const QString kModifyContent = QStringLiteral("/desktop/modifyNoteContent/");
const QString kUpdateSelection = QStringLiteral("/desktop/updateSelection/");
const QString kSaveNow = QStringLiteral("/desktop/saveNow/");
const QString kBgPicture = QStringLiteral("/desktop/bgPicture/");
const QString kFonts = QStringLiteral("/desktop/fonts");

QByteArray requestFor(const QString& path, const QByteArray& form = {}) {
    const QByteArray method = form.isEmpty() ? "GET" : "POST";
    QByteArray request = method + ' ' + path.toLatin1() + " HTTP/1.1\r\nHost: " + kHost.toLatin1() +
                         ":8080\r\nConnection: close\r\n";
    if (!form.isEmpty()) {
        request += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                   QByteArray::number(form.size()) + "\r\n";
    }
    return request + "\r\n" + form;
}

// An answer taken apart: status line, header fields (names in lower case), the rest.
struct Answer {
    int status = 0;
    QByteArray statusLine;
    QMap<QByteArray, QByteArray> headers;
    QByteArray body;
    bool headComplete = false;
};

Answer parse(const QByteArray& bytes) {
    Answer answer;
    const int end = bytes.indexOf("\r\n\r\n");
    if (end < 0) {
        return answer;
    }
    answer.headComplete = true;
    const QList<QByteArray> lines = bytes.left(end).split('\n');
    answer.statusLine = lines.value(0).trimmed();
    answer.status = answer.statusLine.split(' ').value(1).toInt();
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines[i].indexOf(':');
        answer.headers.insert(lines[i].left(colon).trimmed().toLower(),
                              lines[i].mid(colon + 1).trimmed());
    }
    answer.body = bytes.mid(end + 4);
    return answer;
}

// A chunked body taken apart; *complete when the last chunk came.
QList<QByteArray> chunksOf(QByteArray framed, bool* complete) {
    QList<QByteArray> chunks;
    *complete = false;
    for (;;) {
        const int lineEnd = framed.indexOf("\r\n");
        if (lineEnd < 0) {
            return chunks;
        }
        bool ok = false;
        const int size = framed.left(lineEnd).toInt(&ok, 16);
        if (!ok || framed.size() < lineEnd + 2 + size + 2) {
            return chunks;
        }
        if (size == 0) {
            *complete = true;
            return chunks;
        }
        chunks << framed.mid(lineEnd + 2, size);
        framed.remove(0, lineEnd + 2 + size + 2);
    }
}

QByteArray gunzip(const QByteArray& gzip, qint64* inflatedSize = nullptr, bool* valid = nullptr) {
    z_stream stream{};
    inflateInit2(&stream, 15 + 16);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gzip.constData()));
    stream.avail_in = static_cast<uInt>(gzip.size());
    QByteArray kept;
    std::vector<char> buffer(1 << 20);
    qint64 total = 0;
    bool allZero = true;
    int result = Z_OK;
    do {
        stream.next_out = reinterpret_cast<Bytef*>(buffer.data());
        stream.avail_out = static_cast<uInt>(buffer.size());
        result = inflate(&stream, Z_NO_FLUSH);
        const int produced = static_cast<int>(buffer.size() - stream.avail_out);
        total += produced;
        if (inflatedSize) {
            // Counting only, as for a bomb: nothing kept but whether it was all zeros.
            for (int i = 0; i < produced && allZero; ++i) {
                allZero = buffer[static_cast<size_t>(i)] == 0;
            }
        } else {
            kept.append(buffer.data(), produced);
        }
    } while (result == Z_OK);
    inflateEnd(&stream);
    if (inflatedSize) {
        *inflatedSize = allZero ? total : -1;
    }
    if (valid) {
        // Z_STREAM_END only once the CRC and the length in the trailer matched.
        *valid = result == Z_STREAM_END && stream.avail_in == 0;
    }
    return kept;
}

quint32 littleEndian32At(const QByteArray& bytes, int at) {
    quint32 value = 0;
    for (int i = 3; i >= 0; --i) {
        value = (value << 8) | static_cast<quint8>(bytes[at + i]);
    }
    return value;
}

// A client on a QTcpSocket that records every piece as it arrives.
struct Exchange {
    struct Piece {
        qint64 atMs;
        QByteArray bytes;
    };
    QTcpSocket socket;
    QElapsedTimer clock; // started when the request went out
    QList<Piece> pieces;
    bool disconnected = false;
    QAbstractSocket::SocketError error = QAbstractSocket::UnknownSocketError;
    bool failed = false;

    QByteArray received() const {
        QByteArray all;
        for (const Piece& piece : pieces) {
            all += piece.bytes;
        }
        return all;
    }
    qint64 size() const { return received().size(); }
};

std::unique_ptr<Exchange> exchange(const QByteArray& request) {
    auto ex = std::make_unique<Exchange>();
    Exchange* e = ex.get();
    QObject::connect(&e->socket, &QTcpSocket::readyRead, [e] {
        e->pieces.append({e->clock.elapsed(), e->socket.readAll()});
    });
    QObject::connect(&e->socket, &QTcpSocket::disconnected, [e] { e->disconnected = true; });
    QObject::connect(&e->socket, &QTcpSocket::errorOccurred,
                     [e](QAbstractSocket::SocketError error) {
                         e->error = error;
                         e->failed = true;
                     });
    e->socket.connectToHost(kHost, kPort);
    if (!e->socket.waitForConnected(kTimeoutMs)) {
        return nullptr;
    }
    e->clock.start();
    e->socket.write(request);
    return ex;
}

// What a plain POSIX client sees: unlike QTcpSocket, which reports a FIN and an RST alike as
// RemoteHostClosedError, it tells the two apart (read returns 0, or fails with ECONNRESET).
struct PosixEnd {
    QByteArray received;
    bool endOfFile = false;
    int error = 0; // errno of the failed read
    bool timedOut = false;
};

PosixEnd readToTheEnd(const QByteArray& request) {
    PosixEnd end;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(kPort);
    ::inet_pton(AF_INET, kHost.toLatin1().constData(), &address.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::send(fd, request.constData(), static_cast<size_t>(request.size()), MSG_NOSIGNAL) !=
            request.size()) {
        end.error = errno;
        ::close(fd);
        return end;
    }
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        pollfd pfd{fd, POLLIN, 0};
        const int left = kTimeoutMs - static_cast<int>(clock.elapsed());
        if (left <= 0 || ::poll(&pfd, 1, left) == 0) {
            end.timedOut = true;
            break;
        }
        char buffer[65536];
        const ssize_t length = ::recv(fd, buffer, sizeof buffer, 0);
        if (length > 0) {
            end.received.append(buffer, static_cast<int>(length));
        } else if (length == 0) {
            end.endOfFile = true;
            break;
        } else if (errno != EINTR) {
            end.error = errno;
            break;
        }
    }
    ::close(fd);
    return end;
}

} // namespace

class MisbehaveTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<NoteServer> server;
    std::mutex servedMutex;
    QList<Served> served;

    QList<Served> servedSoFar() {
        std::lock_guard lock(servedMutex);
        return served;
    }

    bool awaitServed(int count) {
        return QTest::qWaitFor([&] { return servedSoFar().size() >= count; }, kTimeoutMs);
    }

    // Every path answers with what the factory makes of the phone's own answer.
    void misbehaveEverywhere(std::function<Reply(const Reply& normal)> make) {
        NoteServer* phone = server.get();
        server->setDefaultOverride([phone, make](const Request& request) {
            return std::optional<Reply>(make(phone->phoneReply(request)));
        });
    }

    static bool awaitEnd(Exchange& ex) {
        return QTest::qWaitFor([&] { return ex.disconnected; }, kTimeoutMs);
    }

    // Stops the server on another thread; the time stop() took, or -1 when it did not return.
    qint64 timedStop() {
        std::atomic<bool> stopped{false};
        QElapsedTimer clock;
        clock.start();
        std::thread stopper([&] {
            server->stop();
            stopped = true;
        });
        if (!QTest::qWaitFor([&] { return stopped.load(); }, kTimeoutMs)) {
            stopper.detach();
            return -1;
        }
        stopper.join();
        return clock.elapsed();
    }

private slots:
    void init() {
        server = std::make_unique<NoteServer>();
        server->openNote(7, QStringLiteral("abc"));
        server->setBackground(QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), "image/png");
        server->setFont(QByteArray("\0\1\0\0\0\x0f\0\x80", 8));
        {
            std::lock_guard lock(servedMutex);
            served.clear();
        }
        server->setServedListener([this](const Request&, const Served& result) {
            std::lock_guard lock(servedMutex);
            served.append(result);
        });
        QVERIFY(server->start(kHost, kPort));
    }

    void cleanup() { server.reset(); }

    // Latency is measured against this server, so the small writes of an answer must not wait
    // for the ACK of the previous one.
    void acceptedConnectionsHaveNoDelay() {
        QTcpSocket socket;
        socket.connectToHost(kHost, kPort);
        QVERIFY(socket.waitForConnected(kTimeoutMs));
        // Kept alive after the answer, so the server's end is still there to look at.
        socket.write("GET /desktop/heartBeat/ HTTP/1.1\r\nHost: x\r\n\r\n");
        QByteArray bytes;
        QVERIFY(QTest::qWaitFor(
            [&] {
                bytes += socket.readAll();
                const Answer answer = parse(bytes);
                return answer.headComplete &&
                       answer.body.size() >= answer.headers.value("content-length").toInt();
            },
            kTimeoutMs));
        QCOMPARE(parse(bytes).status, 200);

        const int fd = tavrin::sim::sockets::connectionDescriptor(
            {kHost, kPort}, {socket.localAddress().toString(), socket.localPort()});
        QVERIFY(fd >= 0);
        const std::vector<int> accepted = tavrin::sim::sockets::acceptedConnections({kHost, kPort});
        QVERIFY(std::find(accepted.cbegin(), accepted.cend(), fd) != accepted.cend());
        int noDelay = 0;
        socklen_t length = sizeof noDelay;
        QCOMPARE(::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, &length), 0);
        QCOMPARE(noDelay, 1);
    }

    void dripWritesTheAnswerInPieces_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("form");
        QTest::addColumn<QByteArray>("expectedBody");

        QTest::newRow("heartbeat")
            << kHeartBeat << QByteArray()
            << QByteArray(R"({"editingCharCount":3,"editingMarkdown":false,"editingNoteId":7})");
        QTest::newRow("note load")
            << kGetNote << QByteArray()
            << QByteArray(R"({"code":1,"data":{"content":"abc","markdown":false,"noteId":7}})");
        QTest::newRow("background")
            << kBgPicture << QByteArray() << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
        QTest::newRow("font") << kFonts << QByteArray() << QByteArray("\0\1\0\0\0\x0f\0\x80", 8);
        QTest::newRow("content push") << kModifyContent << QByteArray("noteId=7&content=dripped")
                                      << QByteArray(R"({"code":1})");
        QTest::newRow("selection push") << kUpdateSelection << QByteArray("noteId=7&start=1&end=2")
                                        << QByteArray(R"({"code":1})");
        QTest::newRow("save") << kSaveNow << QByteArray("noteId=7") << QByteArray(R"({"code":1})");
    }

    void dripWritesTheAnswerInPieces() {
        QFETCH(QString, path);
        QFETCH(QByteArray, form);
        QFETCH(QByteArray, expectedBody);
        constexpr int kPieceBytes = 20;
        constexpr int kIntervalMs = 15;
        misbehaveEverywhere(
            [](const Reply& normal) { return Reply::drip(normal, kPieceBytes, kIntervalMs); });

        const auto ex = exchange(requestFor(path, form));
        QVERIFY(ex);
        QVERIFY(awaitEnd(*ex));
        const QByteArray bytes = ex->received();
        const Answer answer = parse(bytes);
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.headers.value("content-length").toInt(), expectedBody.size());
        QCOMPARE(answer.headers.value("connection"), QByteArray("close"));
        QCOMPARE(answer.body, expectedBody);

        // The pieces left one interval apart, so the last cannot have come sooner than this.
        const int pieces = (bytes.size() + kPieceBytes - 1) / kPieceBytes;
        QVERIFY(pieces >= 5); // the shortest answer, the font's, has 89 bytes
        const qint64 lastAt = ex->pieces.last().atMs;
        QVERIFY2(lastAt >= (pieces - 1) * kIntervalMs,
                 qPrintable(QStringLiteral("%1 pieces in %2 ms").arg(pieces).arg(lastAt)));
        QVERIFY2(ex->pieces.size() >= 3, qPrintable(QString::number(ex->pieces.size())));
        if (path == kModifyContent) {
            QCOMPARE(server->content(), QStringLiteral("dripped")); // applied, then dripped
        }

        QVERIFY(awaitServed(1));
        const Served result = servedSoFar().first();
        QCOMPARE(result.status, 200);
        QCOMPARE(result.ending, Served::Ending::Closed);
        QCOMPARE(result.wireBytes, qint64(bytes.size()));
        QCOMPARE(result.wire, QStringLiteral("drip 20 B every 15 ms"));
    }

    void chunkedAnswerNeverEnds() {
        constexpr int kIntervalMs = 30;
        server->setOverride(kFonts, [](const Request&) {
            return std::optional<Reply>(Reply::chunkedForever("tick\n", kIntervalMs));
        });
        const auto ex = exchange(requestFor(kFonts));
        QVERIFY(ex);
        bool complete = false;
        QVERIFY(QTest::qWaitFor(
            [&] { return chunksOf(parse(ex->received()).body, &complete).size() >= 4; },
            kTimeoutMs));
        const Answer answer = parse(ex->received());
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.headers.value("transfer-encoding"), QByteArray("chunked"));
        QVERIFY(!answer.headers.contains("content-length"));
        const QList<QByteArray> chunks = chunksOf(answer.body, &complete);
        QVERIFY(!complete);
        for (const QByteArray& chunk : chunks) {
            QCOMPARE(chunk, QByteArray("tick\n"));
        }
        QVERIFY(ex->clock.elapsed() >= (chunks.size() - 1) * kIntervalMs);
        QVERIFY(!ex->disconnected);

        const qint64 stopMs = timedStop();
        QVERIFY2(stopMs >= 0 && stopMs < 1000, qPrintable(QString::number(stopMs)));
        QVERIFY(awaitEnd(*ex));
        QVERIFY(!chunksOf(parse(ex->received()).body, &complete).isEmpty());
        QVERIFY2(!complete, "the chunked body must never end properly");
        QVERIFY(awaitServed(1));
        QCOMPARE(servedSoFar().first().ending, Served::Ending::Stopped);
    }

    void stallKeepsTheConnectionOpenAndSilent_data() {
        QTest::addColumn<bool>("chunked");
        QTest::addColumn<int>("bodyBytes");
        QTest::addColumn<QByteArray>("expectedBody");

        const QByteArray body =
            R"({"editingCharCount":3,"editingMarkdown":false,"editingNoteId":7})";
        QTest::newRow("part of a Content-Length body") << false << 5 << body.left(5);
        // The size line and half the data of the chunk.
        const QByteArray sizeLine = QByteArray::number(body.size(), 16) + "\r\n";
        QTest::newRow("half a chunk")
            << true << int(sizeLine.size()) + 32 << sizeLine + body.left(32);
        QTest::newRow("headers only") << false << 0 << QByteArray();
    }

    void stallKeepsTheConnectionOpenAndSilent() {
        QFETCH(bool, chunked);
        QFETCH(int, bodyBytes);
        QFETCH(QByteArray, expectedBody);
        misbehaveEverywhere([chunked, bodyBytes](Reply normal) {
            normal.chunked = chunked;
            return Reply::stallAfter(normal, bodyBytes);
        });

        const auto ex = exchange(requestFor(kHeartBeat));
        QVERIFY(ex);
        QVERIFY(QTest::qWaitFor([&] { return server->stalledCount() == 1; }, kTimeoutMs));
        QVERIFY(QTest::qWaitFor(
            [&] {
                const Answer answer = parse(ex->received());
                return answer.headComplete && answer.body.size() >= expectedBody.size();
            },
            kTimeoutMs));
        const qint64 sizeAtStall = ex->size();
        const Answer answer = parse(ex->received());
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.body, expectedBody);
        QCOMPARE(answer.headers.contains("transfer-encoding"), chunked);

        // Nothing more, and no close, for a while.
        QVERIFY(!QTest::qWaitFor([&] { return ex->size() > sizeAtStall || ex->disconnected; },
                                 kSilenceMs));
        QCOMPARE(ex->socket.state(), QAbstractSocket::ConnectedState);
        QVERIFY(servedSoFar().isEmpty()); // its fate is not known yet

        // The client gives up: the stall ends with it.
        ex->socket.abort();
        QVERIFY(awaitServed(1));
        const Served result = servedSoFar().first();
        QCOMPARE(result.ending, Served::Ending::ClosedByClient);
        QCOMPARE(result.wireBytes, sizeAtStall);
        QCOMPARE(server->stalledCount(), 0);
    }

    // Answers that end early or lie, seen by a POSIX client that tells an RST from a FIN.
    void answersEndAsAsked_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<Cut>("cut");
        QTest::addColumn<qint64>("number");
        QTest::addColumn<qint64>("announced"); // -1: no Content-Length expected
        QTest::addColumn<QByteArray>("expectedBody");
        QTest::addColumn<bool>("reset");
        QTest::addColumn<Served::Ending>("ending");

        const QByteArray note =
            R"({"code":1,"data":{"content":"abc","markdown":false,"noteId":7}})";
        QTest::newRow("reset after 7 body bytes")
            << kGetNote << Cut::Reset << qint64(7) << qint64(note.size()) << note.left(7) << true
            << Served::Ending::Reset;
        QTest::newRow("reset after the headers of a content push")
            << kModifyContent << Cut::Reset << qint64(0) << qint64(10) << QByteArray() << true
            << Served::Ending::Reset;
        QTest::newRow("reset inside a chunk of the selection answer")
            << kUpdateSelection << Cut::ResetInChunk << qint64(6) << qint64(-1)
            << QByteArray("a\r\n{\"c") << true << Served::Ending::Reset;
        QTest::newRow("Content-Length above the body, then a FIN")
            << kFonts << Cut::Lie << qint64(100) << qint64(100)
            << QByteArray("\0\1\0\0\0\x0f\0\x80", 8) << false << Served::Ending::Closed;
        QTest::newRow("Content-Length below the body")
            << kGetNote << Cut::Lie << qint64(3) << qint64(3) << note << false
            << Served::Ending::Closed;
    }

    void answersEndAsAsked() {
        QFETCH(QString, path);
        QFETCH(Cut, cut);
        QFETCH(qint64, number);
        QFETCH(qint64, announced);
        QFETCH(QByteArray, expectedBody);
        QFETCH(bool, reset);
        QFETCH(Served::Ending, ending);
        misbehaveEverywhere([cut, number](Reply normal) {
            switch (cut) {
            case Cut::Reset:
                return Reply::resetAfter(normal, number);
            case Cut::ResetInChunk:
                normal.chunked = true;
                return Reply::resetAfter(normal, number);
            case Cut::Lie:
                break;
            }
            return Reply::lyingLength(normal, number);
        });

        const QByteArray form = path == kGetNote || path == kFonts
                                    ? QByteArray()
                                    : QByteArray("noteId=7&start=1&end=2&content=x");
        const PosixEnd end = readToTheEnd(requestFor(path, form));
        QVERIFY(!end.timedOut);
        if (reset) {
            QVERIFY2(end.error == ECONNRESET, qPrintable(QString::fromLatin1(strerror(end.error))));
        } else {
            QVERIFY(end.endOfFile);
        }
        const Answer answer = parse(end.received);
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.headers.value("content-length", "-1").toLongLong(), announced);
        QCOMPARE(answer.body, expectedBody);
        if (path == kModifyContent) {
            QCOMPARE(server->content(), QStringLiteral("x")); // applied before the reset
        }

        QVERIFY(awaitServed(1));
        const Served result = servedSoFar().first();
        QCOMPARE(result.ending, ending);
        QCOMPARE(result.wireBytes, qint64(end.received.size()));
    }

    // Qt's view of the same RST: the error a desktop client built on it will get.
    void resetIsSeenByQtAsRemoteClose() {
        server->setOverride(kGetNote, [this](const Request& request) {
            return std::optional<Reply>(Reply::resetAfter(server->phoneReply(request), 4));
        });
        const auto ex = exchange(requestFor(kGetNote));
        QVERIFY(ex);
        QVERIFY(awaitEnd(*ex));
        QVERIFY(ex->failed);
        QCOMPARE(ex->error, QAbstractSocket::RemoteHostClosedError);
        QCOMPARE(parse(ex->received()).body, QByteArray("{\"co"));
    }

    void redirectCarriesTheLocation_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("reason");
        QTest::newRow("301") << 301 << QByteArray("Moved Permanently");
        QTest::newRow("302") << 302 << QByteArray("Found");
        QTest::newRow("303") << 303 << QByteArray("See Other");
        QTest::newRow("307") << 307 << QByteArray("Temporary Redirect");
        QTest::newRow("308") << 308 << QByteArray("Permanent Redirect");
    }

    void redirectCarriesTheLocation() {
        QFETCH(int, status);
        QFETCH(QByteArray, reason);
        server->setOverride(kSaveNow, [status](const Request&) {
            return std::optional<Reply>(Reply::redirect(status, kElsewhere));
        });
        const auto ex = exchange(requestFor(kSaveNow, "noteId=7"));
        QVERIFY(ex);
        QVERIFY(awaitEnd(*ex));
        const Answer answer = parse(ex->received());
        QCOMPARE(answer.status, status);
        QCOMPARE(answer.statusLine, "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason);
        QCOMPARE(answer.headers.value("location"), kElsewhere);
        QVERIFY(answer.body.isEmpty());
        QCOMPARE(server->saveCount(), 0); // the override answered, not the phone

        QVERIFY(awaitServed(1));
        QCOMPARE(servedSoFar().first().status, status);
        QCOMPARE(servedSoFar().first().ending, Served::Ending::Kept);
    }

    void charsetRoundTrip_data() {
        QTest::addColumn<QByteArray>("charset");
        QTest::addColumn<QByteArray>("label"); // empty: labelled with the charset itself
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("expectedHex");

        // The bytes as other encoders write them.
        const QString simplified = QStringLiteral("Hi 便签 note");
        QTest::newRow("UTF-16 with a byte order mark")
            << QByteArray("UTF-16") << QByteArray() << simplified
            << QByteArray("fffe480069002000bf4f7e7b20006e006f0074006500");
        QTest::newRow("UTF-16LE") << QByteArray("UTF-16LE") << QByteArray() << simplified
                                  << QByteArray("480069002000bf4f7e7b20006e006f0074006500");
        QTest::newRow("UTF-16BE") << QByteArray("UTF-16BE") << QByteArray() << simplified
                                  << QByteArray("0048006900204fbf7b7e0020006e006f00740065");
        QTest::newRow("UTF-32") << QByteArray("UTF-32") << QByteArray() << simplified
                                << QByteArray("fffe0000480000006900000020000000bf4f00007e7b0000"
                                              "200000006e0000006f0000007400000065000000");
        QTest::newRow("GB18030") << QByteArray("GB18030") << QByteArray() << simplified
                                 << QByteArray("486920b1e3c7a9206e6f7465");
        QTest::newRow("Big5") << QByteArray("Big5") << QByteArray()
                              << QStringLiteral("Hi 便簽 note")
                              << QByteArray("486920ab4bc3b1206e6f7465");
        QTest::newRow("EBCDIC") << QByteArray("IBM 037") << QByteArray()
                                << QStringLiteral("Note ¢1 [ok]")
                                << QByteArray("d596a385404af140ba9692bb");
        QTest::newRow("GB18030 labelled UTF-8")
            << QByteArray("GB18030") << QByteArray("UTF-8") << simplified
            << QByteArray("486920b1e3c7a9206e6f7465");
    }

    void charsetRoundTrip() {
        QFETCH(QByteArray, charset);
        QFETCH(QByteArray, label);
        QFETCH(QString, text);
        QFETCH(QByteArray, expectedHex);
        const std::optional<Reply> reply = Reply::encoded(text, charset, label, "text/plain");
        QVERIFY(reply);
        server->setOverride(kGetNote, [reply](const Request&) { return reply; });

        const auto ex = exchange(requestFor(kGetNote));
        QVERIFY(ex);
        QVERIFY(awaitEnd(*ex));
        const Answer answer = parse(ex->received());
        QCOMPARE(answer.status, 200);
        const QByteArray labelled = label.isEmpty() ? charset : label;
        QCOMPARE(answer.headers.value("content-type"), "text/plain; charset=" + labelled);
        QCOMPARE(answer.body.toHex(), expectedHex);

        // Decoding by the label gives the text back, unless the label lies.
        QTextCodec* byLabel = QTextCodec::codecForName(labelled);
        QVERIFY(byLabel);
        QCOMPARE(byLabel->toUnicode(answer.body) == text, label.isEmpty());
        QCOMPARE(QTextCodec::codecForName(charset)->toUnicode(answer.body), text);
    }

    void unknownCharsetGivesNoReply() {
        QVERIFY(!Reply::encoded(QStringLiteral("x"), "no-such-charset-9"));
        QVERIFY(!wire::encodeText(QStringLiteral("x"), "no-such-charset-9"));
    }

    void gzipRoundTrip() {
        server->openNote(7, QString(3000, QLatin1Char('z')) + QStringLiteral(" 便签"));
        server->setOverride(kGetNote, [this](const Request& request) {
            return std::optional<Reply>(Reply::gzip(server->phoneReply(request)));
        });
        const auto ex = exchange(requestFor(kGetNote));
        QVERIFY(ex);
        QVERIFY(awaitEnd(*ex));
        const Answer answer = parse(ex->received());
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.headers.value("content-encoding"), QByteArray("gzip"));
        QCOMPARE(answer.headers.value("content-length").toInt(), answer.body.size());
        QVERIFY(answer.body.startsWith("\x1f\x8b")); // once, not compressed again
        bool valid = false;
        const QByteArray inflated = gunzip(answer.body, nullptr, &valid);
        QVERIFY(valid);
        Request load;
        load.method = QStringLiteral("GET");
        load.path = kGetNote;
        QCOMPARE(inflated, server->phoneReply(load).body);
        QVERIFY(answer.body.size() < inflated.size() / 10);
    }

    void bombIsSmallAndInflatesToZeros_data() {
        QTest::addColumn<qint64>("zeros");
        QTest::addColumn<bool>("inflate"); // all of it, to be sure; the largest is only measured

        constexpr qint64 kMiB = 1024 * 1024;
        QTest::newRow("nothing") << qint64(0) << true;
        QTest::newRow("one byte") << qint64(1) << true;
        QTest::newRow("just under a piece") << kMiB - 1 << true;
        QTest::newRow("one piece") << kMiB << true;
        QTest::newRow("one piece and a byte") << kMiB + 1 << true;
        QTest::newRow("64 MiB and some") << 64 * kMiB + 12345 << true;
        QTest::newRow("1 GiB") << 1024 * kMiB << false;
    }

    void bombIsSmallAndInflatesToZeros() {
        QFETCH(qint64, zeros);
        QFETCH(bool, inflate);
        const QByteArray bomb = wire::gzipOfZeros(zeros);
        QVERIFY(bomb.startsWith("\x1f\x8b\x08"));
        // Deflate cannot do better than about 1:1032; this stays within a few per cent of it.
        QVERIFY2(bomb.size() <= zeros / 1000 + 64, qPrintable(QString::number(bomb.size())));
        // The trailer announces the inflated size (modulo 2^32).
        QCOMPARE(littleEndian32At(bomb, bomb.size() - 4), quint32(zeros & 0xffffffff));
        if (inflate) {
            qint64 inflated = -1;
            bool valid = false;
            gunzip(bomb, &inflated, &valid);
            QVERIFY(valid); // the CRC of the zeros and the length matched
            QCOMPARE(inflated, zeros);
        }
    }

    void bombOverTheWire() {
        constexpr qint64 kZeros = 8 * 1024 * 1024;
        server->setOverride(kBgPicture, [](const Request&) {
            return std::optional<Reply>(Reply::gzipBomb(kZeros, "image/png"));
        });
        const PosixEnd end = readToTheEnd(requestFor(kBgPicture));
        QVERIFY(end.endOfFile);
        const Answer answer = parse(end.received);
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.headers.value("content-type"), QByteArray("image/png"));
        QCOMPARE(answer.headers.value("content-encoding"), QByteArray("gzip"));
        QCOMPARE(answer.headers.value("content-length").toInt(), answer.body.size());
        QVERIFY(answer.body.size() < kZeros / 1000);
        qint64 inflated = -1;
        bool valid = false;
        gunzip(answer.body, &inflated, &valid);
        QVERIFY(valid);
        QCOMPARE(inflated, kZeros);
    }

    void rawBytesAreTheWholeAnswer_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status"); // as reported to the listener

        QTest::newRow("an old status line and a bare LF")
            << QByteArray("HTTP/1.0 418 I'm a teapot\nX-A: b\n\nshort") << 418;
        QTest::newRow("NUL bytes in a header")
            << QByteArray("HTTP/1.1 200 OK\r\nX-Nul: a\0b\r\nContent-Length: 2\r\n\r\nok", 46)
            << 200;
        QTest::newRow("no HTTP at all") << QByteArray("\xff\xfe garbage \r\n\r\n", 15) << 0;
        QTest::newRow("a folded header and two lengths")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 5\r\n"
                          "X-Folded: a\r\n b\r\n\r\nhello")
            << 200;
    }

    void rawBytesAreTheWholeAnswer() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, status);
        server->setOverride(kHeartBeat, [bytes](const Request&) {
            return std::optional<Reply>(Reply::raw(bytes));
        });
        const PosixEnd end = readToTheEnd(requestFor(kHeartBeat));
        QVERIFY(end.endOfFile);
        QCOMPARE(end.received, bytes);
        QVERIFY(awaitServed(1));
        const Served result = servedSoFar().first();
        QCOMPARE(result.status, status);
        QCOMPARE(result.body, bytes);
        QCOMPARE(result.ending, Served::Ending::Closed);
    }

    // stop() ends every answer still being written, wherever it is, and returns quickly.
    void stopEndsEveryAnswerInProgress() {
        server->setOverride(kFonts, [](const Request&) {
            return std::optional<Reply>(Reply::chunkedForever("x", 0)); // as fast as read
        });
        server->setOverride(kHeartBeat, [this](const Request& request) {
            return std::optional<Reply>(Reply::stallAfter(server->phoneReply(request), 2));
        });
        server->setOverride(kGetNote, [this](const Request& request) {
            return std::optional<Reply>(Reply::drip(server->phoneReply(request), 1, 60000));
        });
        const auto flood = exchange(requestFor(kFonts));
        const auto stall = exchange(requestFor(kHeartBeat));
        const auto drip = exchange(requestFor(kGetNote));
        QVERIFY(flood && stall && drip);
        QVERIFY(QTest::qWaitFor(
            [&] {
                return flood->size() > 100000 && server->stalledCount() == 1 && drip->size() == 1;
            },
            kTimeoutMs));

        const qint64 stopMs = timedStop();
        QVERIFY2(stopMs >= 0 && stopMs < 1000, qPrintable(QString::number(stopMs)));
        QVERIFY(awaitEnd(*flood));
        QVERIFY(awaitEnd(*stall));
        QVERIFY(awaitEnd(*drip));
        QCOMPARE(drip->received(), QByteArray("H"));
        QVERIFY(awaitServed(3));
        for (const Served& result : servedSoFar()) {
            QVERIFY2(result.ending == Served::Ending::Stopped,
                     qPrintable(QStringLiteral("%1 ended as %2")
                                    .arg(result.wire)
                                    .arg(static_cast<int>(result.ending))));
        }
    }

    // The console's modes, parsed and applied to an answer of the phone.
    void consoleModes_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("expectedWire"); // how the reply goes, when written raw

        QTest::newRow("drip") << "drip 4 20" << true << "drip 4 B every 20 ms";
        QTest::newRow("chunked") << "chunked 50 tick tock" << true
                                 << "chunked for ever, 9 B every 50 ms";
        QTest::newRow("stall") << "stall 5" << true << "stall after 5 B";
        QTest::newRow("stall in a chunk")
            << "stall 5 chunked" << true << "chunked, stall after 5 B";
        QTest::newRow("reset") << "reset 0" << true << "reset after 0 B";
        QTest::newRow("lie") << "lie 999" << true << "Content-Length 999 for 10 B";
        QTest::newRow("redirect") << "redirect 307 http://127.0.0.99:8080/" << true << "";
        QTest::newRow("charset with a lying label") << "charset GB18030 UTF-8" << true << "";
        QTest::newRow("gzip") << "gzip" << true << "gzip";
        QTest::newRow("bomb") << "bomb 64K" << true << "gzip";
        QTest::newRow("raw keeps its spaces")
            << "raw HTTP/1.1 200 OK\\r\\n\\r\\n  x" << true << "raw 22 B";
        QTest::newRow("drip without an interval") << "drip 4" << false << "";
        QTest::newRow("drip of no bytes") << "drip 0 10" << false << "";
        QTest::newRow("stall before the body") << "stall -1" << false << "";
        QTest::newRow("redirect with 200") << "redirect 200 http://127.0.0.99/" << false << "";
        QTest::newRow("unknown charset") << "charset no-such-charset-9" << false << "";
        QTest::newRow("bomb above 1G") << "bomb 2G" << false << "";
        QTest::newRow("bomb in odd units") << "bomb 12Q" << false << "";
        QTest::newRow("raw of nothing") << "raw" << false << "";
        QTest::newRow("no such mode") << "sulk 3" << false << "";
        QTest::newRow("nothing") << "" << false << "";
    }

    void consoleModes() {
        QFETCH(QString, command);
        QFETCH(bool, valid);
        QFETCH(QString, expectedWire);
        QString error;
        const std::optional<Misbehaviour> misbehaviour = Misbehaviour::parse(command, &error);
        QCOMPARE(bool(misbehaviour), valid);
        if (!valid) {
            QVERIFY(!error.isEmpty());
            return;
        }
        QCOMPARE(misbehaviour->text(), command);
        const Reply normal = Reply::json(R"({"code":1})");
        const Reply reply = misbehaviour->apply(normal);
        QCOMPARE(reply.writtenRaw(), !expectedWire.isEmpty());
        if (reply.writtenRaw()) {
            QCOMPARE(wire::summary(reply), expectedWire);
        }
        if (command.startsWith(QLatin1String("raw"))) {
            QCOMPARE(*reply.rawAnswer, QByteArray("HTTP/1.1 200 OK\r\n\r\n  x"));
        } else if (command.startsWith(QLatin1String("charset"))) {
            QCOMPARE(reply.contentType, QByteArray("application/json; charset=UTF-8"));
            QCOMPARE(QTextCodec::codecForName("GB18030")->toUnicode(reply.body),
                     QStringLiteral(R"({"code":1})"));
        } else if (command.startsWith(QLatin1String("bomb"))) {
            QCOMPARE(littleEndian32At(reply.body, reply.body.size() - 4), quint32(64 * 1024));
        } else if (command.startsWith(QLatin1String("redirect"))) {
            QCOMPARE(reply.status, 307);
        }
    }

    void consolePathNames_data() {
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("path");
        QTest::newRow("heartbeat") << "heartbeat" << kHeartBeat;
        QTest::newRow("note") << "note" << kGetNote;
        QTest::newRow("content") << "content" << kModifyContent;
        QTest::newRow("selection") << "selection" << kUpdateSelection;
        QTest::newRow("save") << "save" << kSaveNow;
        QTest::newRow("background") << "background" << kBgPicture;
        QTest::newRow("font") << "font" << kFonts;
        QTest::newRow("a path as is") << "/any/path"
                                      << "/any/path";
        QTest::newRow("other words") << "fonts" << QString();
    }

    void consolePathNames() {
        QFETCH(QString, word);
        QFETCH(QString, path);
        QCOMPARE(Misbehaviour::pathNamed(word), path);
    }

    // A path's own override comes before the default one, and clearing it brings the default.
    void defaultOverrideYieldsToThePathsOwn() {
        server->setDefaultOverride(
            [](const Request&) { return std::optional<Reply>(Reply::json("{}", 503)); });
        server->setOverride(
            kGetNote, [](const Request&) { return std::optional<Reply>(Reply::json("{}", 410)); });
        const auto statusOf = [](const QString& path) {
            return parse(readToTheEnd(requestFor(path)).received).status;
        };
        QCOMPARE(statusOf(kHeartBeat), 503);
        QCOMPARE(statusOf(kGetNote), 410);
        server->clearOverride(kGetNote);
        QCOMPARE(statusOf(kGetNote), 503);
        server->clearOverrides();
        QCOMPARE(statusOf(kGetNote), 200);
    }
};

QTEST_GUILESS_MAIN(MisbehaveTest)
#include "tst_misbehave.moc"
