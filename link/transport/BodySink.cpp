// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/transport/BodySink.h"

#include "link/transport/Inflater.h"

namespace tavrin::transport {

BodySink::BodySink(qint64 maxBytes)
    : m_maxBytes(maxBytes) {}

BodySink::~BodySink() = default;

bool BodySink::setContentEncoding(const QByteArray& header) {
    const QByteArray encoding = header.trimmed().toLower();
    if (encoding == "gzip" || encoding == "x-gzip")
        m_inflater = std::make_unique<Inflater>(Inflater::Format::Gzip);
    else if (encoding == "deflate")
        m_inflater = std::make_unique<Inflater>(Inflater::Format::Deflate);
    else if (!encoding.isEmpty() && encoding != "identity")
        return false;
    return true;
}

Failure BodySink::take(const QByteArray& wireBytes) {
    if (m_failed)
        return Failure::BadEncoding;
    if (wireBytes.isEmpty())
        return Failure::None;
    m_wireBytes += wireBytes.size();
    Failure failure = Failure::None;
    if (!m_inflater) {
        if (m_body.size() + wireBytes.size() > m_maxBytes)
            failure = Failure::TooLarge;
        else
            m_body.append(wireBytes);
    } else if (m_wireBytes > m_maxBytes + m_maxBytes / 16 + 64 * 1024) {
        // Compressed data barely grows: more than this is no honest answer within the limit.
        failure = Failure::TooLarge;
    } else {
        switch (m_inflater->feed(wireBytes, m_body, m_maxBytes)) {
        case Inflater::Result::Ok:
            break;
        case Inflater::Result::TooLarge:
            failure = Failure::TooLarge;
            break;
        case Inflater::Result::Corrupt:
            failure = Failure::BadEncoding;
            break;
        }
    }
    if (failure != Failure::None) {
        m_failed = true;
        m_body.clear();
        m_inflater.reset();
    }
    return failure;
}

Failure BodySink::finish() const {
    if (m_failed)
        return Failure::BadEncoding;
    return m_inflater && !m_inflater->isComplete() ? Failure::Truncated : Failure::None;
}

} // namespace tavrin::transport
