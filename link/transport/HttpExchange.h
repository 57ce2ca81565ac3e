// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One plain-HTTP request on a connection of its own, its answer read here to
// the last byte: the status line, the header fields and the body as framed by
// Content-Length, chunks or the close. So every way an answer can break off
// is seen (a chunked body cut by a close or a reset, which Qt's own client
// takes for a whole one), and the size limit holds before anything is kept.

#include "link/transport/Transport.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QUrl>
#include <functional>
#include <memory>

class QTcpSocket;
class QTimer;

namespace tavrin::transport {

class BodySink;

class HttpExchange : public QObject {
    Q_OBJECT

public:
    using Finished = std::function<void(const Answer&)>;
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    // The longest status line and header fields taken, and the longest chunk-size line.
    static constexpr int kMaxHeadBytes = 64 * 1024;
    static constexpr int kMaxChunkLineBytes = 1024;

    // Sends `method` to `url` (http only) with these header fields, and the body
    // when it is not null; "Host", "Accept-Encoding: gzip, deflate", "Connection:
    // close" and, with a body, "Content-Length" are added. `finished` is called
    // once, from the event loop; the exchange then deletes itself. Deleting it
    // (or its parent) before ends it without a call.
    HttpExchange(const QUrl& url, const QByteArray& method, const Headers& headers,
                 const QByteArray& body, const Limits& limits, Finished finished,
                 QObject* parent = nullptr);
    ~HttpExchange() override;

private:
    enum class Stage { Connecting, Head, Body, Done };
    enum class Framing { Length, Chunked, Close, None };
    enum class ChunkStage { Size, Data, DataEnd, Trailers };

    void onConnected();
    void onReadyRead();
    void onEnded();
    void parse();
    bool parseHead();
    bool parseBody();
    // The next line without its line break; false when it has not all come yet, or when it
    // is longer than `limit` (then failed with `tooLong`). Head lines count to kMaxHeadBytes.
    bool readLine(QByteArray* line, int limit, Failure tooLong, bool head);
    void takeBody(qint64 count);
    void complete();
    void fail(Failure failure);
    void deliver(const Answer& answer);
    QByteArray header(const QByteArray& lowerName) const;

    QTcpSocket* m_socket = nullptr;
    QTimer* m_deadline = nullptr;
    QByteArray m_request;
    Limits m_limits;
    Finished m_finished;
    std::unique_ptr<BodySink> m_body;

    Stage m_stage = Stage::Connecting;
    QByteArray m_buffer; // received, not yet parsed from m_pos on
    int m_pos = 0;
    int m_headBytes = 0; // of the head and the trailer fields
    int m_status = 0;
    Headers m_headers; // names in lower case
    Framing m_framing = Framing::None;
    ChunkStage m_chunkStage = ChunkStage::Size;
    qint64 m_remaining = 0; // of the Content-Length, or of the chunk
};

} // namespace tavrin::transport
