// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Inflates a gzip or deflate body piece by piece as it arrives, never holding
// more than the caller allows: a small answer that inflates to gigabytes is
// stopped after the first piece beyond the limit.

#include <QByteArray>
#include <memory>

namespace tavrin::transport {

class Inflater {
public:
    enum class Format {
        Gzip,    // RFC 1952; several members in a row are one body
        Deflate, // as HTTP servers send it: zlib-wrapped (RFC 1950), or raw (RFC 1951)
    };
    enum class Result { Ok, Corrupt, TooLarge };

    explicit Inflater(Format format);
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    // Inflates `input` onto the end of `out`. TooLarge as soon as `out` would
    // grow beyond `maxOut` bytes; Corrupt for data that is no such stream, or
    // for data after its end. Once either is returned, nothing more is taken.
    Result feed(const QByteArray& input, QByteArray& out, qint64 maxOut);
    // The stream came to its end (a body without it was cut short).
    bool isComplete() const { return m_complete; }

private:
    struct Stream;

    Result inflateSome(const char* data, qint64 size, QByteArray& out, qint64 maxOut);

    Format m_format;
    std::unique_ptr<Stream> m_stream;
    bool m_complete = false;
    bool m_failed = false;
    bool m_rawTried = false; // a deflate body without the zlib wrapper
    bool m_anyOutput = false;
};

} // namespace tavrin::transport
