// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Takes an answer's body as it comes off the wire: counts it, inflates it when
// it is compressed, and holds it to the caller's limit.

#include "link/transport/Transport.h"

#include <QByteArray>
#include <memory>

namespace tavrin::transport {

class Inflater;

class BodySink {
public:
    explicit BodySink(qint64 maxBytes);
    ~BodySink();
    BodySink(const BodySink&) = delete;
    BodySink& operator=(const BodySink&) = delete;

    // The Content-Encoding header, before any of the body: false for one that is
    // not gzip, deflate or identity.
    bool setContentEncoding(const QByteArray& header);
    bool isCompressed() const { return m_inflater != nullptr; }

    // Failure::None, TooLarge or BadEncoding; after a failure nothing more is taken.
    Failure take(const QByteArray& wireBytes);
    // The body came to its end on the wire: None, or Truncated for a compressed
    // stream without its own end.
    Failure finish() const;

    // The bytes as they came, compressed or not.
    qint64 wireBytes() const { return m_wireBytes; }
    // The body, inflated.
    QByteArray takeBody() { return std::move(m_body); }

private:
    qint64 m_maxBytes;
    qint64 m_wireBytes = 0;
    std::unique_ptr<Inflater> m_inflater;
    QByteArray m_body;
    bool m_failed = false;
};

} // namespace tavrin::transport
