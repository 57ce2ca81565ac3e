// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Bytes of HTTP answers as the note server writes them itself, for answers cpp-httplib cannot
// give (dripped, cut short, lying, endless, compressed, raw), and the encodings they use.

#include <QByteArray>
#include <QString>

#include <optional>

namespace tavrin::sim {
struct Reply;
}

namespace tavrin::sim::wire {

// The reason phrase of a status, "Unknown" for codes without one.
QByteArray reasonPhrase(int status);

// The status line and header fields of the reply, up to and including the empty line.
// Content-Type, Content-Length (or Transfer-Encoding: chunked) and Connection: close come
// first, each unless the reply's own header fields name it; then the reply's header fields.
QByteArray head(const Reply& reply);

// The body as it goes on the wire: chunk-framed when the reply is chunked (the last chunk
// included, unless the reply repeats its chunk for ever), else the body itself.
QByteArray framedBody(const Reply& reply);

// One chunk of a chunked body: "<hex size>\r\n<data>\r\n".
QByteArray chunk(const QByteArray& data);

// How a reply the server writes itself goes, for logs: "drip 4 B every 20 ms, stall after 7 B".
QString summary(const Reply& reply);

// The status code of an answer's status line ("HTTP/1.1 200 ..."); 0 when there is none.
int statusOf(const QByteArray& answer);

// The data as a gzip member (RFC 1952), compressed at the given zlib level.
QByteArray gzipCompress(const QByteArray& data, int level = 9);

// A gzip member that inflates to count zero bytes. It never holds them: the deflate stream is
// made of one full-flushed piece for a MiB of zeros, repeated, then a final piece for the rest,
// and the CRC of the zeros is combined arithmetically. The result is about count / 1000 bytes.
QByteArray gzipOfZeros(qint64 count);

// The text in the named charset (any QTextCodec name); nullopt when Qt has no such codec.
// A byte order mark leads only where the charset's name leaves the byte order open
// ("UTF-16", "UTF-32"); the LE/BE variants and all others are written without one.
std::optional<QByteArray> encodeText(const QString& text, const QByteArray& charset);

// Bytes from the text with C escapes: \r \n \t \0 \\ and \xHH; everything else as Latin-1.
QByteArray unescape(const QString& text);

} // namespace tavrin::sim::wire
