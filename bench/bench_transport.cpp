// SPDX-License-Identifier: GPL-3.0-or-later
// What a request to the phone costs end to end: the round trip of a heartbeat GET and of content
// pushes of 1 K, 100 K and 1 M characters (mixed CJK and ASCII, percent-encoded as the pushes
// carry them) through HttpTransport, against the simulator on loopback (127.0.9.121), which runs
// in this process and decodes and applies every push. Prints p50, p95 and the slowest, in ms,
// after a few warm-up requests; requests go one after another, as typing sends them. Each
// request is timed first on the floor: the same bytes written by hand to a blocking socket on
// a kept connection to the same server, with no event loop; what HttpTransport adds is the
// difference.

#include "link/protocol/Protocol.h"
#include "link/transport/Transport.h"
#include "sim/NoteServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMetaEnum>
#include <QTextStream>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

using tavrin::sim::NoteServer;
using namespace tavrin;

namespace {

const QString kHost = QStringLiteral("127.0.9.121");
const QByteArray kContentTypeHeader =
    QByteArray(transport::kContentTypeName) + ": " + transport::kContentTypeValue;
constexpr int kWarmUp = 5;

QString mixedText(int characters) {
    const QString line = QStringLiteral("用电脑的键盘写手机上的便签。Every keystroke goes back.\n");
    QString text = line.repeated(characters / int(line.size()) + 1);
    text.truncate(characters);
    return text;
}

QUrl phoneUrl(const char* path) {
    return QUrl(QStringLiteral("http://%1:8080%2").arg(kHost, QLatin1String(path)));
}

// One request and its answer, in nanoseconds; a failure ends the run.
qint64 roundTrip(transport::HttpTransport& http, const char* path,
                 const std::optional<QByteArray>& form, QString* failure) {
    QEventLoop loop;
    transport::Answer result;
    QElapsedTimer clock;
    const auto done = [&](const transport::Answer& answer) {
        result = answer;
        loop.quit();
    };
    clock.start();
    if (form)
        http.postForm(phoneUrl(path), *form, {30000, protocol::kMaxPushAnswerBytes}, &loop, done);
    else
        http.get(phoneUrl(path), {3000, protocol::kMaxHeartbeatAnswerBytes}, &loop, done);
    loop.exec();
    const qint64 elapsed = clock.nsecsElapsed();
    if (!result.isOk()) {
        *failure = QStringLiteral("status %1, %2")
                       .arg(result.status)
                       .arg(QLatin1String(QMetaEnum::fromType<transport::Failure>().valueToKey(
                           int(result.failure))));
    }
    return elapsed;
}

// The floor under HttpTransport: the same request, written by hand to a blocking socket on a
// kept connection to the same server, and its answer read back, with no event loop at all.
class BlockingClient {
public:
    ~BlockingClient() { disconnect(); }

    // The round trip in nanoseconds; -1 when it failed.
    qint64 roundTrip(const QByteArray& request) {
        QElapsedTimer clock;
        clock.start();
        if (m_socket < 0 && !connectToPhone())
            return -1;
        if (!writeAll(request))
            return -1;
        QByteArray answer;
        int headEnd = -1;
        while ((headEnd = answer.indexOf("\r\n\r\n")) < 0) {
            if (!readSome(&answer))
                return -1;
        }
        const QByteArray head = answer.left(headEnd).toLower();
        const int lengthAt = head.indexOf("content-length:");
        const qint64 length =
            lengthAt < 0 ? 0
                         : head.mid(lengthAt + 15, head.indexOf('\r', lengthAt) - lengthAt - 15)
                               .trimmed()
                               .toLongLong();
        while (answer.size() < headEnd + 4 + length) {
            if (!readSome(&answer))
                return -1;
        }
        const qint64 elapsed = clock.nsecsElapsed();
        if (head.contains("connection: close"))
            disconnect(); // the server ends a connection after a few requests
        return elapsed;
    }

private:
    bool connectToPhone() {
        m_socket = ::socket(AF_INET, SOCK_STREAM, 0);
        const int yes = 1;
        ::setsockopt(m_socket, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(8080);
        ::inet_pton(AF_INET, kHost.toLatin1().constData(), &address.sin_addr);
        return ::connect(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    void disconnect() {
        if (m_socket >= 0)
            ::close(m_socket);
        m_socket = -1;
    }
    bool writeAll(const QByteArray& bytes) {
        for (qint64 at = 0; at < bytes.size();) {
            const ssize_t put =
                ::write(m_socket, bytes.constData() + at, size_t(bytes.size() - at));
            if (put <= 0)
                return false;
            at += put;
        }
        return true;
    }
    bool readSome(QByteArray* into) {
        char piece[16384];
        const ssize_t got = ::read(m_socket, piece, sizeof piece);
        if (got <= 0)
            return false;
        into->append(piece, int(got));
        return true;
    }

    int m_socket = -1;
};

QByteArray handWritten(const char* path, const std::optional<QByteArray>& form) {
    QByteArray request = QByteArray(form ? "POST " : "GET ") + path +
                         " HTTP/1.1\r\nHost: " + kHost.toLatin1() + ":8080\r\n" +
                         kContentTypeHeader + "\r\n";
    if (form)
        request += "Content-Length: " + QByteArray::number(form->size()) + "\r\n\r\n" + *form;
    else
        request += "\r\n";
    return request;
}

double percentile(std::vector<qint64> sorted, double fraction) {
    const size_t at =
        std::min(sorted.size() - 1, size_t(fraction * double(sorted.size() - 1) + 0.5));
    return double(sorted[at]) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    NoteServer phone;
    if (!phone.start(kHost, 8080)) {
        out << "cannot listen on " << kHost << ":8080\n";
        return 1;
    }
    const QJsonValue id(7);
    phone.openNote(id, QStringLiteral("start"));

    struct Row {
        QString name;
        const char* path;
        std::optional<QByteArray> form;
        int count;
    };
    std::vector<Row> rows;
    rows.push_back({QStringLiteral("heartbeat GET"), protocol::kHeartBeatPath, std::nullopt, 200});
    for (const auto& [characters, count] : {std::pair{1000, 200}, {100000, 200}, {1000000, 30}}) {
        const auto body = protocol::contentBody(id, mixedText(characters));
        rows.push_back({QStringLiteral("POST %1 K chars (%2 KiB)")
                            .arg(characters / 1000)
                            .arg(body->size() / 1024),
                        protocol::kModifyContentPath, body, count});
    }

    const auto print = [&out](const QString& name, std::vector<qint64> times) {
        std::sort(times.begin(), times.end());
        out << name << " | " << times.size() << " | "
            << QString::number(percentile(times, 0.5), 'f', 3) << " | "
            << QString::number(percentile(times, 0.95), 'f', 3) << " | "
            << QString::number(double(times.back()) / 1e6, 'f', 3) << "\n";
        out.flush();
    };

    out << "request | client | count | p50 ms | p95 ms | max ms\n";
    transport::HttpTransport http;
    for (const Row& row : rows) {
        for (const bool floor : {true, false}) {
            std::vector<qint64> times;
            QString failure;
            BlockingClient blocking;
            const QByteArray request = handWritten(row.path, row.form);
            for (int i = 0; i < kWarmUp + row.count && failure.isEmpty(); ++i) {
                qint64 ns = 0;
                if (floor) {
                    ns = blocking.roundTrip(request);
                    if (ns < 0)
                        failure = QStringLiteral("no answer");
                } else {
                    ns = roundTrip(http, row.path, row.form, &failure);
                }
                // The server keeps every request it saw: let it forget them, outside the timing.
                phone.clearRequests();
                if (i >= kWarmUp)
                    times.push_back(ns);
            }
            const QString client =
                floor ? QStringLiteral("blocking socket") : QStringLiteral("HttpTransport");
            if (!failure.isEmpty()) {
                out << row.name << " | " << client << " | failed: " << failure << "\n";
                return 1;
            }
            std::sort(times.begin(), times.end());
            out << row.name << " | " << client << " | " << times.size() << " | "
                << QString::number(percentile(times, 0.5), 'f', 3) << " | "
                << QString::number(percentile(times, 0.95), 'f', 3) << " | "
                << QString::number(double(times.back()) / 1e6, 'f', 3) << "\n";
            out.flush();
        }
    }
    return 0;
}
