// SPDX-License-Identifier: GPL-3.0-or-later
// What reading the phone's answers costs: a note load near the limit (plain, chunked,
// gzip-compressed), decoded and parsed, and gzip bombs stopped at the heartbeat's and the
// note's limits. Prints milliseconds and the growth of the process's peak resident memory,
// against the simulator on loopback (127.0.9.120), which runs in this process: its own
// copies of the answer count in the memory figures too.

#include "link/protocol/Protocol.h"
#include "link/transport/Transport.h"
#include "sim/NoteServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaEnum>
#include <QTextStream>

using tavrin::sim::NoteServer;
using tavrin::sim::Reply;
using tavrin::sim::Request;
using namespace tavrin;

namespace {

const QString kHost = QStringLiteral("127.0.9.120");

qint64 peakResidentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

void resetPeak() {
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (clearRefs.open(QIODevice::WriteOnly))
        clearRefs.write("5");
}

transport::Answer fetch(transport::HttpTransport& http, qint64 maxBytes) {
    transport::Answer result;
    QEventLoop loop;
    http.get(QUrl(QStringLiteral("http://%1:8080/desktop/getNote/").arg(kHost)), {30000, maxBytes},
             &loop, [&](const transport::Answer& answer) {
                 result = answer;
                 loop.quit();
             });
    loop.exec();
    return result;
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
    // A note whose JSON is just below 8 MiB: CJK and ASCII lines.
    const QString line = QStringLiteral("用电脑的键盘写手机上的便签。Every keystroke goes back.\n");
    const QByteArray lineJson =
        QJsonDocument(QJsonObject{{"c", line}}).toJson(QJsonDocument::Compact);
    const int lineBytes = lineJson.size() - int(sizeof("{\"c\":\"\"}") - 1);
    const QString content = line.repeated(int((protocol::kMaxNoteAnswerBytes - 4096) / lineBytes));
    phone.openNote(QJsonValue(7), content);

    struct Row {
        const char* name;
        std::function<Reply(const Reply&)> make;
        qint64 maxBytes;
    };
    const QList<Row> rows{
        {"note near 8 MiB, plain", [](const Reply& r) { return r; }, protocol::kMaxNoteAnswerBytes},
        {"note near 8 MiB, chunked",
         [](const Reply& r) {
             Reply chunked = r;
             chunked.chunked = true;
             return chunked;
         },
         protocol::kMaxNoteAnswerBytes},
        {"note near 8 MiB, gzip", [](const Reply& r) { return Reply::gzip(r); },
         protocol::kMaxNoteAnswerBytes},
        {"1 GiB gzip bomb as a heartbeat", [](const Reply&) { return Reply::gzipBomb(1LL << 30); },
         protocol::kMaxHeartbeatAnswerBytes},
        {"1 GiB gzip bomb as a note", [](const Reply&) { return Reply::gzipBomb(1LL << 30); },
         protocol::kMaxNoteAnswerBytes},
    };

    transport::HttpTransport http;
    out << "case | ms | failure | body bytes | peak resident growth KiB\n";
    for (const Row& row : rows) {
        // Made once: the bomb's gzip takes a while to write.
        const Reply reply = row.make(phone.phoneReply(
            Request{QStringLiteral("GET"), QLatin1String(protocol::kGetNotePath)}));
        phone.setOverride(QLatin1String(protocol::kGetNotePath),
                          [reply](const Request&) { return reply; });
        for (int run = 0; run < 3; ++run) {
            resetPeak();
            const qint64 before = peakResidentKiB();
            QElapsedTimer clock;
            clock.start();
            const transport::Answer answer = fetch(http, row.maxBytes);
            qint64 parsed = 0;
            if (answer.isOk()) {
                const auto note = protocol::parseNoteLoad(answer.text());
                parsed = note ? note->content.size() : -1;
            }
            const qint64 ms = clock.elapsed();
            out << row.name << " | " << ms << " | "
                << QMetaEnum::fromType<transport::Failure>().valueToKey(int(answer.failure))
                << " | " << answer.body.size() << (parsed > 0 ? " (note parsed)" : "") << " | "
                << peakResidentKiB() - before << "\n";
            out.flush();
        }
    }
    return 0;
}
