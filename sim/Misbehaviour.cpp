// SPDX-License-Identifier: GPL-3.0-or-later
#include "Misbehaviour.h"

#include "Wire.h"

#include <QStringList>
#include <QTextCodec>

#include <limits>

namespace tavrin::sim {
namespace {

constexpr qint64 kMaxBomb = qint64(1) << 30;
constexpr int kMaxIntervalMs = 3600 * 1000;

// A whole number within [low, high]; nullopt otherwise.
std::optional<qint64> numberIn(const QString& text, qint64 low, qint64 high) {
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

// "1048576", "64K", "512M", "1G" (powers of 1024).
std::optional<qint64> sizeIn(QString text, qint64 high) {
    qint64 unit = 1;
    const QChar last = text.isEmpty() ? QChar() : text.back().toUpper();
    if (last == QLatin1Char('K') || last == QLatin1Char('M') || last == QLatin1Char('G')) {
        unit = last == QLatin1Char('K')   ? 1024
               : last == QLatin1Char('M') ? 1024 * 1024
                                          : 1024 * 1024 * 1024;
        text.chop(1);
    }
    const std::optional<qint64> count = numberIn(text, 0, high / unit);
    if (!count) {
        return std::nullopt;
    }
    return *count * unit;
}

// The media type of a Content-Type without its parameters: "application/json".
QByteArray mediaType(const QByteArray& contentType) {
    const int semicolon = contentType.indexOf(';');
    return (semicolon < 0 ? contentType : contentType.left(semicolon)).trimmed();
}

} // namespace

std::optional<Misbehaviour> Misbehaviour::parse(const QString& modeAndArguments, QString* error) {
    const QString line = modeAndArguments.trimmed();
    const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString mode = words.value(0);
    const int arguments = words.size() - 1;
    Misbehaviour result;
    result.m_text = words.join(QLatin1Char(' '));
    const auto fail = [error](const QString& reason) {
        *error = reason;
        return std::nullopt;
    };

    if (mode == QLatin1String("drip") && arguments == 2) {
        const auto bytes = numberIn(words[1], 1, 1 << 20);
        const auto interval = numberIn(words[2], 0, kMaxIntervalMs);
        if (!bytes || !interval) {
            return fail(QStringLiteral("drip <bytes from 1> <ms from 0>"));
        }
        result.m_mode = Mode::Drip;
        result.m_count = *bytes;
        result.m_intervalMs = static_cast<int>(*interval);
    } else if (mode == QLatin1String("chunked") && arguments >= 1) {
        const auto interval = numberIn(words[1], 0, kMaxIntervalMs);
        if (!interval) {
            return fail(QStringLiteral("chunked <ms from 0> [text]"));
        }
        result.m_mode = Mode::Chunked;
        result.m_intervalMs = static_cast<int>(*interval);
        result.m_bytes = words.mid(2).join(QLatin1Char(' ')).toUtf8();
    } else if ((mode == QLatin1String("stall") || mode == QLatin1String("reset")) &&
               (arguments == 1 || (arguments == 2 && words[2] == QLatin1String("chunked")))) {
        const auto bytes = numberIn(words[1], 0, std::numeric_limits<int>::max());
        if (!bytes) {
            return fail(mode + QStringLiteral(" <body bytes from 0> [chunked]"));
        }
        result.m_mode = mode == QLatin1String("stall") ? Mode::Stall : Mode::Reset;
        result.m_count = *bytes;
        result.m_chunked = arguments == 2;
    } else if (mode == QLatin1String("lie") && arguments == 1) {
        const auto length = numberIn(words[1], 0, std::numeric_limits<qint64>::max());
        if (!length) {
            return fail(QStringLiteral("lie <announced length from 0>"));
        }
        result.m_mode = Mode::Lie;
        result.m_count = *length;
    } else if (mode == QLatin1String("redirect") && arguments == 2) {
        const auto status = numberIn(words[1], 300, 399);
        if (!status) {
            return fail(QStringLiteral("redirect <status 300-399> <url>"));
        }
        result.m_mode = Mode::Redirect;
        result.m_count = *status;
        result.m_bytes = words[2].toUtf8();
    } else if (mode == QLatin1String("charset") && (arguments == 1 || arguments == 2)) {
        if (!QTextCodec::codecForName(words[1].toLatin1())) {
            return fail(QStringLiteral("no charset \"%1\" here").arg(words[1]));
        }
        result.m_mode = Mode::Charset;
        result.m_bytes = words[1].toLatin1();
        result.m_label = words.value(2, words[1]).toLatin1();
    } else if (mode == QLatin1String("gzip") && arguments == 0) {
        result.m_mode = Mode::Gzip;
    } else if (mode == QLatin1String("bomb") && arguments == 1) {
        const auto size = sizeIn(words[1], kMaxBomb);
        if (!size) {
            return fail(QStringLiteral("bomb <size up to 1G, as 1048576, 64K, 512M or 1G>"));
        }
        result.m_mode = Mode::Bomb;
        result.m_count = *size;
        result.m_bytes = wire::gzipOfZeros(*size); // once, not at every request
    } else if (mode == QLatin1String("raw") && arguments >= 1) {
        result.m_mode = Mode::Raw;
        // The rest of the line as typed, its spaces included.
        result.m_bytes = wire::unescape(line.mid(line.indexOf(QLatin1Char(' ')) + 1));
        result.m_text = line;
    } else {
        return fail(mode.isEmpty() ? QStringLiteral("no mode given; modes:\n") + modesHelp()
                                   : QStringLiteral("\"%1\" is no mode, or not with those "
                                                    "arguments; modes:\n%2")
                                         .arg(line, modesHelp()));
    }
    return result;
}

Reply Misbehaviour::apply(const Reply& normal) const {
    switch (m_mode) {
    case Mode::Drip:
        return Reply::drip(normal, static_cast<int>(m_count), m_intervalMs);
    case Mode::Chunked: {
        Reply reply = Reply::chunkedForever(m_bytes.isEmpty() ? normal.body : m_bytes, m_intervalMs,
                                            normal.contentType);
        reply.status = normal.status;
        return reply;
    }
    case Mode::Stall:
    case Mode::Reset: {
        Reply reply = normal;
        reply.chunked = m_chunked;
        return m_mode == Mode::Stall ? Reply::stallAfter(reply, m_count)
                                     : Reply::resetAfter(reply, m_count);
    }
    case Mode::Lie:
        return Reply::lyingLength(normal, m_count);
    case Mode::Redirect:
        return Reply::redirect(static_cast<int>(m_count), m_bytes);
    case Mode::Charset: {
        const QByteArray type = mediaType(normal.contentType);
        std::optional<Reply> reply =
            Reply::encoded(QString::fromUtf8(normal.body), m_bytes, m_label,
                           type.isEmpty() ? QByteArray("text/plain") : type);
        if (!reply) {
            return normal; // the codec was there when parsed; it does not go away
        }
        reply->status = normal.status;
        return *reply;
    }
    case Mode::Gzip:
        return Reply::gzip(normal);
    case Mode::Bomb: {
        Reply reply = normal;
        reply.body = m_bytes;
        reply.headers.append(qMakePair(QByteArray("Content-Encoding"), QByteArray("gzip")));
        return reply;
    }
    case Mode::Raw:
        return Reply::raw(m_bytes);
    }
    return normal;
}

QString Misbehaviour::modesHelp() {
    return QStringLiteral(
        "    drip <bytes> <ms>         the answer, headers too, <bytes> at a time, <ms> apart\n"
        "    chunked <ms> [text]       chunked headers, then a chunk of text (default: the "
        "answer's body) every <ms>, never ending\n"
        "    stall <bytes> [chunked]   headers and <bytes> of the body (chunk-framed with "
        "chunked), then silence, the connection kept open\n"
        "    reset <bytes> [chunked]   headers and <bytes> of the body, then an RST\n"
        "    lie <length>              Content-Length: <length> over the real body, then close\n"
        "    redirect <status> <url>   status 301/302/303/307/308 with Location: <url>\n"
        "    charset <name> [label]    the body encoded in <name> (UTF-16, GB18030, IBM037...),"
        " labelled charset=<label> (default <name>)\n"
        "    gzip                      the body gzip-compressed, Content-Encoding: gzip\n"
        "    bomb <size>               the gzip of <size> zero bytes (64K, 512M, up to 1G)\n"
        "    raw <bytes>               the rest of the line as the whole answer; escapes \\r "
        "\\n \\t \\0 \\\\ \\xHH");
}

QString Misbehaviour::pathNamed(const QString& word) {
    static const QList<QPair<QString, QString>> names{
        {QStringLiteral("heartbeat"), QStringLiteral("/desktop/heartBeat/")},
        {QStringLiteral("note"), QStringLiteral("/desktop/getNote/")},
        {QStringLiteral("content"), QStringLiteral("/desktop/modifyNoteContent/")},
        {QStringLiteral("selection"), QStringLiteral("/desktop/updateSelection/")},
        {QStringLiteral("save"), QStringLiteral("/desktop/saveNow/")},
        {QStringLiteral("background"), QStringLiteral("/desktop/bgPicture/")},
        {QStringLiteral("font"), QStringLiteral("/desktop/fonts")},
    };
    if (word.startsWith(QLatin1Char('/'))) {
        return word;
    }
    for (const auto& [name, path] : names) {
        if (word == name) {
            return path;
        }
    }
    return {};
}

} // namespace tavrin::sim
