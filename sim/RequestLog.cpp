// SPDX-License-Identifier: GPL-3.0-or-later
#include "RequestLog.h"

#include <QDateTime>
#include <QStringList>
#include <QTextCodec>

#include <algorithm>

namespace tavrin::sim {
namespace {

constexpr int kContentShown = 40;
constexpr int kAnswerShown = 120;

QString formSummary(const QMap<QString, QString>& form) {
    // The protocol's fields in the order the desktop writes them, then any others.
    QStringList keys{QStringLiteral("noteId"), QStringLiteral("start"), QStringLiteral("end"),
                     QStringLiteral("content")};
    for (const QString& key : form.keys()) {
        if (!keys.contains(key)) {
            keys << key;
        }
    }
    QStringList parts;
    for (const QString& key : qAsConst(keys)) {
        if (!form.contains(key)) {
            continue;
        }
        const QString value = form.value(key);
        if (key == QLatin1String("content")) {
            parts << QStringLiteral("content(%1 chars)=\"%2\"")
                         .arg(QString::number(value.toUcs4().size()),
                              abbreviated(value, kContentShown));
        } else {
            parts << key + QLatin1Char('=') + abbreviated(value, kContentShown);
        }
    }
    return parts.join(QLatin1Char(' '));
}

QString endingText(Served::Ending ending) {
    switch (ending) {
    case Served::Ending::Kept:
        return {};
    case Served::Ending::Closed:
        return QStringLiteral("closed");
    case Served::Ending::Reset:
        return QStringLiteral("reset");
    case Served::Ending::ClosedByClient:
        return QStringLiteral("closed by the client");
    case Served::Ending::Stopped:
        return QStringLiteral("cut by the stop");
    }
    return {};
}

QString answerSummary(const Served& served) {
    if (served.body.isEmpty()) {
        return QStringLiteral("(empty)");
    }
    if (served.body.startsWith("\x1f\x8b")) {
        return QStringLiteral("%1 bytes gzip").arg(served.body.size());
    }
    const QByteArray type = served.contentType.toLower();
    if (type.contains("json") || type.startsWith("text/")) {
        // In the charset it is labelled with, when Qt knows it.
        const int charset = type.indexOf("charset=");
        QTextCodec* codec =
            charset < 0 ? nullptr
                        : QTextCodec::codecForName(served.contentType.mid(charset + 8).trimmed());
        return abbreviated(codec ? codec->toUnicode(served.body) : QString::fromUtf8(served.body),
                           kAnswerShown);
    }
    if (served.contentType.isEmpty()) {
        // A raw answer: its bytes as Latin-1.
        return abbreviated(
            QString::fromLatin1(served.body).replace(QLatin1Char('\r'), QLatin1String("\\r")),
            kAnswerShown);
    }
    return QStringLiteral("%1 bytes %2")
        .arg(QString::number(served.body.size()), QString::fromLatin1(served.contentType));
}

} // namespace

QString abbreviated(const QString& text, int maxLength) {
    QString shown = text.size() > maxLength ? text.left(maxLength) + QChar(0x2026) : text;
    return shown.replace(QLatin1Char('\n'), QLatin1String("\\n"));
}

QString requestLogLine(const Request& request, const Served& served) {
    QString line = QDateTime::fromMSecsSinceEpoch(request.receivedAtMs)
                       .toString(QStringLiteral("HH:mm:ss.zzz"));
    line += QLatin1Char(' ') + request.method.leftJustified(4) + QLatin1Char(' ') + request.path;
    if (!request.query.isEmpty()) {
        line += QLatin1Char('?') + request.query;
    }
    line += QLatin1Char(' ') +
            (served.dropped ? QStringLiteral("drop") : QString::number(served.status));
    if (!request.form.isEmpty()) {
        line += QLatin1Char(' ') + formSummary(request.form);
    }
    if (!served.dropped) {
        line += QStringLiteral(" -> ") + answerSummary(served);
    }
    if (!served.wire.isEmpty()) {
        // Misbehaving answers: how they went, what went out and how the connection ended.
        line += QStringLiteral(" [%1; %2 bytes written, %3]")
                    .arg(served.wire, QString::number(std::max<qint64>(served.wireBytes, 0)),
                         endingText(served.ending));
    }
    return line;
}

} // namespace tavrin::sim
