#include "RequestLog.h"

#include <QDateTime>
#include <QStringList>

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

QString answerSummary(const Served& served) {
    if (served.body.isEmpty()) {
        return QStringLiteral("(empty)");
    }
    if (served.contentType.contains("json") || served.contentType.startsWith("text/")) {
        return abbreviated(QString::fromUtf8(served.body), kAnswerShown);
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
    return line;
}

} // namespace tavrin::sim
