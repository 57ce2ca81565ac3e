// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/transport/HttpExchange.h"

#include "link/transport/BodySink.h"

#include <QTcpSocket>
#include <QTimer>

namespace tavrin::transport {

namespace {

// The extra deadline a request with a body gets: one millisecond for every this many bytes.
constexpr qint64 kUploadBytesPerMs = 1024;

bool isDigits(const QByteArray& text) {
    if (text.isEmpty() || text.size() > 18)
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

bool isHexDigits(const QByteArray& text) {
    if (text.isEmpty() || text.size() > 15)
        return false;
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

QByteArray requestTarget(const QUrl& url) {
    QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty())
        target = "/";
    if (url.hasQuery())
        target += '?' + url.query(QUrl::FullyEncoded).toLatin1();
    return target;
}

QByteArray hostField(const QUrl& url) {
    QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':'))
        host = '[' + host + ']';
    if (url.port(80) != 80)
        host += ':' + QByteArray::number(url.port());
    return host;
}

} // namespace

HttpExchange::HttpExchange(const QUrl& url, const QByteArray& method, const Headers& headers,
                           const QByteArray& body, const Limits& limits, Finished finished,
                           QObject* parent)
    : QObject(parent)
    , m_limits(limits)
    , m_finished(std::move(finished))
    , m_body(std::make_unique<BodySink>(limits.maxBytes)) {
    if (!url.isValid() || url.scheme() != QLatin1String("http") || url.host().isEmpty()) {
        // Answered like any other request: later, from the event loop.
        QMetaObject::invokeMethod(
            this, [this] { fail(Failure::NoAnswer); }, Qt::QueuedConnection);
        return;
    }

    m_request = method + ' ' + requestTarget(url) + " HTTP/1.1\r\nHost: " + hostField(url) + "\r\n";
    for (const auto& [name, value] : headers)
        m_request += name + ": " + value + "\r\n";
    m_request += "Accept-Encoding: gzip, deflate\r\nConnection: close\r\n";
    if (!body.isNull())
        m_request += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    m_request += "\r\n" + body;

    if (limits.timeoutMs > kNoTimeout) {
        m_deadline = new QTimer(this);
        m_deadline->setSingleShot(true);
        connect(m_deadline, &QTimer::timeout, this, [this] { fail(Failure::Timeout); });
        m_deadline->start(
            int(qMin<qint64>(limits.timeoutMs + body.size() / kUploadBytesPerMs, INT_MAX)));
    }

    m_socket = new QTcpSocket(this);
    connect(m_socket, &QTcpSocket::connected, this, &HttpExchange::onConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpExchange::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &HttpExchange::onEnded);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &HttpExchange::onEnded);
    m_socket->connectToHost(url.host(), quint16(url.port(80)));
}

HttpExchange::~HttpExchange() = default;

void HttpExchange::onConnected() {
    if (m_stage != Stage::Connecting)
        return;
    m_stage = Stage::Head;
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_socket->write(m_request);
    m_request.clear();
}

void HttpExchange::onReadyRead() {
    if (m_stage == Stage::Done)
        return;
    m_buffer += m_socket->readAll();
    parse();
}

void HttpExchange::onEnded() {
    if (m_stage == Stage::Done)
        return;
    if (m_socket->bytesAvailable() > 0)
        onReadyRead();
    if (m_stage == Stage::Done)
        return;
    if (m_stage != Stage::Body)
        fail(Failure::NoAnswer);
    else if (m_framing == Framing::Close)
        complete(); // the close is the end of such a body
    else
        fail(Failure::Truncated);
}

void HttpExchange::parse() {
    while (m_stage == Stage::Head || m_stage == Stage::Body) {
        const bool progressed = m_stage == Stage::Head ? parseHead() : parseBody();
        if (!progressed)
            break;
    }
    if (m_stage != Stage::Done) {
        m_buffer.remove(0, m_pos);
        m_pos = 0;
    }
}

bool HttpExchange::readLine(QByteArray* line, int limit, Failure tooLong, bool head) {
    const int end = m_buffer.indexOf('\n', m_pos);
    if (end < 0 || end - m_pos > limit) {
        if (end >= 0 || m_buffer.size() - m_pos > limit)
            fail(tooLong);
        return false;
    }
    *line = m_buffer.mid(m_pos, end - m_pos);
    if (line->endsWith('\r'))
        line->chop(1);
    const int consumed = end + 1 - m_pos;
    m_pos = end + 1;
    if (head && (m_headBytes += consumed) > kMaxHeadBytes) {
        fail(Failure::TooLarge);
        return false;
    }
    return true;
}

bool HttpExchange::parseHead() {
    QByteArray line;
    while (readLine(&line, kMaxHeadBytes, Failure::TooLarge, true)) {
        if (m_status == 0) {
            // "HTTP/1.1 200 OK": anything else is no HTTP answer.
            const QList<QByteArray> parts = line.split(' ');
            bool valid = false;
            const int status = parts.value(1).toInt(&valid);
            if (!line.startsWith("HTTP/1.") || !valid || status < 100 || status > 999) {
                fail(Failure::NoAnswer);
                return false;
            }
            m_status = status;
            continue;
        }
        if (!line.isEmpty()) {
            if (line.startsWith(' ') || line.startsWith('\t')) {
                if (m_headers.isEmpty()) {
                    fail(Failure::BadEncoding);
                    return false;
                }
                m_headers.last().second += ' ' + line.trimmed();
                continue;
            }
            const int colon = line.indexOf(':');
            if (colon <= 0) {
                fail(Failure::BadEncoding);
                return false;
            }
            m_headers.append({line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed()});
            continue;
        }
        if (m_status < 200) {
            // An interim answer (100 Continue...): the real one follows.
            m_status = 0;
            m_headers.clear();
            continue;
        }
        m_stage = Stage::Body;
        if (m_status >= 300 && m_status < 400) {
            fail(Failure::Redirected);
            return false;
        }
        if (!m_body->setContentEncoding(header("content-encoding"))) {
            fail(Failure::BadEncoding);
            return false;
        }
        QList<QByteArray> lengths;
        for (const auto& [name, value] : m_headers) {
            if (name == "content-length")
                lengths.append(value);
        }
        const QByteArray transferEncoding = header("transfer-encoding").toLower();
        if (!transferEncoding.isEmpty()) {
            if (transferEncoding != "chunked") {
                fail(Failure::BadEncoding);
                return false;
            }
            m_framing = Framing::Chunked;
        } else if (!lengths.isEmpty()) {
            // Several lengths that disagree frame nothing.
            if (!isDigits(lengths.first()) || lengths.count(lengths.first()) != lengths.size()) {
                fail(Failure::BadEncoding);
                return false;
            }
            m_framing = Framing::Length;
            m_remaining = lengths.first().toLongLong();
            if (!m_body->isCompressed() && m_remaining > m_limits.maxBytes) {
                fail(Failure::TooLarge);
                return false;
            }
        } else {
            m_framing = Framing::Close;
        }
        if (m_status == 204 || m_status == 304)
            m_framing = Framing::None;
        return true;
    }
    return false;
}

bool HttpExchange::parseBody() {
    const qint64 available = m_buffer.size() - m_pos;
    switch (m_framing) {
    case Framing::None:
        complete();
        return false;
    case Framing::Close:
        if (available == 0)
            return false;
        takeBody(available);
        return true;
    case Framing::Length:
        if (m_remaining > 0 && available > 0) {
            const qint64 count = qMin(available, m_remaining);
            m_remaining -= count;
            takeBody(count);
        }
        if (m_stage == Stage::Body && m_remaining == 0)
            complete();
        return false;
    case Framing::Chunked:
        break;
    }

    QByteArray line;
    switch (m_chunkStage) {
    case ChunkStage::Size: {
        if (!readLine(&line, kMaxChunkLineBytes, Failure::BadEncoding, false))
            return false;
        const int extension = line.indexOf(';');
        const QByteArray size = (extension < 0 ? line : line.left(extension)).trimmed();
        if (!isHexDigits(size)) {
            fail(Failure::BadEncoding);
            return false;
        }
        m_remaining = size.toLongLong(nullptr, 16);
        m_chunkStage = m_remaining == 0 ? ChunkStage::Trailers : ChunkStage::Data;
        return true;
    }
    case ChunkStage::Data: {
        if (available == 0)
            return false;
        const qint64 count = qMin(available, m_remaining);
        m_remaining -= count;
        takeBody(count);
        if (m_remaining == 0)
            m_chunkStage = ChunkStage::DataEnd;
        return m_stage == Stage::Body;
    }
    case ChunkStage::DataEnd:
        if (!readLine(&line, 1, Failure::BadEncoding, false))
            return false;
        if (!line.isEmpty()) {
            fail(Failure::BadEncoding);
            return false;
        }
        m_chunkStage = ChunkStage::Size;
        return true;
    case ChunkStage::Trailers:
        if (!readLine(&line, kMaxHeadBytes, Failure::TooLarge, true))
            return false;
        if (line.isEmpty())
            complete(); // the last chunk and its trailer fields: the body is whole
        return m_stage == Stage::Body;
    }
    return false;
}

void HttpExchange::takeBody(qint64 count) {
    const Failure failure = m_body->take(m_buffer.mid(m_pos, int(count)));
    m_pos += int(count);
    if (failure != Failure::None)
        fail(failure);
}

QByteArray HttpExchange::header(const QByteArray& lowerName) const {
    QByteArray joined;
    for (const auto& [name, value] : m_headers) {
        if (name != lowerName)
            continue;
        if (!joined.isEmpty())
            joined += ", ";
        joined += value;
    }
    return joined;
}

void HttpExchange::complete() {
    if (const Failure failure = m_body->finish(); failure != Failure::None) {
        fail(failure);
        return;
    }
    Answer answer;
    answer.status = m_status;
    answer.body = m_body->takeBody();
    answer.contentType = header("content-type");
    deliver(answer);
}

void HttpExchange::fail(Failure failure) {
    if (m_stage == Stage::Done)
        return;
    Answer answer;
    answer.failure = failure;
    // A status counts once the whole head came.
    if (m_stage == Stage::Body) {
        answer.status = m_status;
        answer.contentType = header("content-type");
    }
    deliver(answer);
}

void HttpExchange::deliver(const Answer& answer) {
    m_stage = Stage::Done;
    m_buffer.clear();
    m_body.reset();
    if (m_deadline)
        m_deadline->stop();
    if (m_socket) {
        disconnect(m_socket, nullptr, this, nullptr);
        m_socket->abort();
    }
    deleteLater();
    Finished finished = std::move(m_finished);
    if (finished)
        finished(answer);
}

} // namespace tavrin::transport
