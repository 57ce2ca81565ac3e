// SPDX-License-Identifier: GPL-3.0-or-later
#include "Wire.h"

#include "NoteServer.h"

#include <QMap>
#include <QStringList>
#include <QTextCodec>

#include <zlib.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace tavrin::sim::wire {
namespace {

bool namesField(const Reply& reply, const char* name) {
    return std::any_of(reply.headers.cbegin(), reply.headers.cend(), [name](const auto& field) {
        return qstricmp(field.first.constData(), name) == 0;
    });
}

void appendField(QByteArray& head, const QByteArray& name, const QByteArray& value) {
    head += name + ": " + value + "\r\n";
}

// Deflates the whole input in one go, raw or gzip-wrapped; flush is Z_FINISH or Z_FULL_FLUSH.
QByteArray deflateAll(const QByteArray& input, int level, int windowBits, int flush) {
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, windowBits, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
        return {};
    }
    QByteArray output;
    std::vector<unsigned char> buffer(64 * 1024);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.constData()));
    stream.avail_in = static_cast<uInt>(input.size());
    do {
        stream.next_out = buffer.data();
        stream.avail_out = static_cast<uInt>(buffer.size());
        deflate(&stream, flush);
        output.append(reinterpret_cast<const char*>(buffer.data()),
                      static_cast<int>(buffer.size() - stream.avail_out));
    } while (stream.avail_out == 0);
    deflateEnd(&stream);
    return output;
}

void appendLittleEndian32(QByteArray& bytes, quint32 value) {
    for (int shift = 0; shift < 32; shift += 8) {
        bytes.append(static_cast<char>((value >> shift) & 0xff));
    }
}

// The CRC-32 of count zero bytes, by doubling: O(log count) combinations, no buffer of them.
uLong crcOfZeros(qint64 count) {
    uLong result = crc32(0L, Z_NULL, 0);
    const unsigned char zero = 0;
    uLong power = crc32(0L, &zero, 1); // the CRC of 2^k zeros, k rising
    qint64 powerLength = 1;
    while (count > 0) {
        if (count & 1) {
            result = crc32_combine(result, power, powerLength);
        }
        count >>= 1;
        if (count > 0) {
            power = crc32_combine(power, power, powerLength);
            powerLength *= 2;
        }
    }
    return result;
}

} // namespace

QByteArray reasonPhrase(int status) {
    static const QMap<int, QByteArray> phrases{
        {100, "Continue"},
        {200, "OK"},
        {201, "Created"},
        {204, "No Content"},
        {206, "Partial Content"},
        {300, "Multiple Choices"},
        {301, "Moved Permanently"},
        {302, "Found"},
        {303, "See Other"},
        {304, "Not Modified"},
        {307, "Temporary Redirect"},
        {308, "Permanent Redirect"},
        {400, "Bad Request"},
        {401, "Unauthorized"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {408, "Request Timeout"},
        {410, "Gone"},
        {413, "Payload Too Large"},
        {418, "I'm a teapot"},
        {429, "Too Many Requests"},
        {500, "Internal Server Error"},
        {502, "Bad Gateway"},
        {503, "Service Unavailable"},
        {504, "Gateway Timeout"},
    };
    return phrases.value(status, "Unknown");
}

QByteArray head(const Reply& reply) {
    QByteArray head =
        "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status) + "\r\n";
    if (!reply.contentType.isEmpty() && !namesField(reply, "Content-Type")) {
        appendField(head, "Content-Type", reply.contentType);
    }
    if (reply.chunked) {
        if (!namesField(reply, "Transfer-Encoding")) {
            appendField(head, "Transfer-Encoding", "chunked");
        }
    } else if (!namesField(reply, "Content-Length")) {
        const qint64 length =
            reply.announcedLength >= 0 ? reply.announcedLength : reply.body.size();
        appendField(head, "Content-Length", QByteArray::number(length));
    }
    if (!namesField(reply, "Connection")) {
        appendField(head, "Connection", "close");
    }
    for (const auto& [name, value] : reply.headers) {
        appendField(head, name, value);
    }
    return head + "\r\n";
}

QByteArray chunk(const QByteArray& data) {
    return QByteArray::number(data.size(), 16) + "\r\n" + data + "\r\n";
}

QByteArray framedBody(const Reply& reply) {
    if (!reply.chunked) {
        return reply.body;
    }
    if (reply.repeatChunkEveryMs >= 0) {
        return chunk(reply.body);
    }
    QByteArray framed = reply.body.isEmpty() ? QByteArray() : chunk(reply.body);
    return framed + "0\r\n\r\n";
}

QString summary(const Reply& reply) {
    QStringList parts;
    if (reply.rawAnswer) {
        parts << QStringLiteral("raw %1 B").arg(reply.rawAnswer->size());
    }
    if (reply.chunked) {
        parts << (reply.repeatChunkEveryMs >= 0
                      ? QStringLiteral("chunked for ever, %1 B every %2 ms")
                            .arg(QString::number(reply.body.size()),
                                 QString::number(reply.repeatChunkEveryMs))
                      : QStringLiteral("chunked"));
    }
    for (const auto& [name, value] : reply.headers) {
        if (qstricmp(name.constData(), "Content-Encoding") == 0) {
            parts << QString::fromLatin1(value);
        }
    }
    if (reply.announcedLength >= 0) {
        parts << QStringLiteral("Content-Length %1 for %2 B")
                     .arg(QString::number(reply.announcedLength),
                          QString::number(reply.body.size()));
    }
    if (reply.pieceBytes > 0) {
        parts << QStringLiteral("drip %1 B every %2 ms")
                     .arg(QString::number(reply.pieceBytes),
                          QString::number(reply.pieceIntervalMs));
    }
    const QString cut =
        reply.cutAfter >= 0 ? QStringLiteral(" after %1 B").arg(reply.cutAfter) : QString();
    switch (reply.ending) {
    case Reply::Ending::Stall:
        parts << QStringLiteral("stall") + cut;
        break;
    case Reply::Ending::Reset:
        parts << QStringLiteral("reset") + cut;
        break;
    case Reply::Ending::Close:
        if (!cut.isEmpty()) {
            parts << QStringLiteral("close") + cut;
        }
        break;
    }
    return parts.isEmpty() ? QStringLiteral("written raw") : parts.join(QStringLiteral(", "));
}

int statusOf(const QByteArray& answer) {
    // "HTTP/1.1 200 OK": the three digits after the first space.
    if (!answer.startsWith("HTTP/")) {
        return 0;
    }
    const int space = answer.indexOf(' ');
    if (space < 0 || answer.size() < space + 4) {
        return 0;
    }
    bool ok = false;
    const int status = answer.mid(space + 1, 3).toInt(&ok);
    return ok ? status : 0;
}

QByteArray gzipCompress(const QByteArray& data, int level) {
    return deflateAll(data, level, 15 + 16, Z_FINISH);
}

QByteArray gzipOfZeros(qint64 count) {
    constexpr int kPieceZeros = 1024 * 1024;
    count = std::max<qint64>(count, 0);
    const QByteArray zeros(static_cast<int>(std::min<qint64>(count, kPieceZeros)), '\0');

    // A full flush ends the piece on a byte boundary with no reference to what came before,
    // so the same bytes can follow themselves any number of times.
    const qint64 wholePieces = count / kPieceZeros;
    const QByteArray piece =
        wholePieces > 0 ? deflateAll(zeros, 9, -15, Z_FULL_FLUSH) : QByteArray();
    const QByteArray last =
        deflateAll(zeros.left(static_cast<int>(count % kPieceZeros)), 9, -15, Z_FINISH);

    // RFC 1952 header: magic, deflate, no flags, no time, maximum compression, unknown OS.
    QByteArray gzip("\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\xff", 10);
    gzip.reserve(static_cast<int>(10 + wholePieces * piece.size() + last.size() + 8));
    for (qint64 i = 0; i < wholePieces; ++i) {
        gzip += piece;
    }
    gzip += last;
    appendLittleEndian32(gzip, static_cast<quint32>(crcOfZeros(count)));
    appendLittleEndian32(gzip, static_cast<quint32>(count & 0xffffffff)); // ISIZE: size mod 2^32
    return gzip;
}

std::optional<QByteArray> encodeText(const QString& text, const QByteArray& charset) {
    QTextCodec* codec = QTextCodec::codecForName(charset);
    if (!codec) {
        return std::nullopt;
    }
    const QByteArray name = codec->name().toUpper();
    const bool byteOrderOpen = name == "UTF-16" || name == "UTF-32";
    if (byteOrderOpen) {
        return codec->fromUnicode(text);
    }
    const std::unique_ptr<QTextEncoder> encoder(codec->makeEncoder(QTextCodec::IgnoreHeader));
    return encoder->fromUnicode(text);
}

QByteArray unescape(const QString& text) {
    const QByteArray latin1 = text.toLatin1();
    QByteArray bytes;
    for (int i = 0; i < latin1.size(); ++i) {
        const char c = latin1[i];
        if (c != '\\' || i + 1 == latin1.size()) {
            bytes += c;
            continue;
        }
        const char next = latin1[++i];
        switch (next) {
        case 'r':
            bytes += '\r';
            break;
        case 'n':
            bytes += '\n';
            break;
        case 't':
            bytes += '\t';
            break;
        case '0':
            bytes += '\0';
            break;
        case '\\':
            bytes += '\\';
            break;
        case 'x': {
            bool ok = false;
            const int value = latin1.mid(i + 1, 2).toInt(&ok, 16);
            if (ok && i + 2 < latin1.size()) {
                bytes += static_cast<char>(value);
                i += 2;
            } else {
                bytes += "\\x";
            }
            break;
        }
        default:
            bytes += '\\';
            bytes += next;
        }
    }
    return bytes;
}

} // namespace tavrin::sim::wire
