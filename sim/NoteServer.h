// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A note server holding the state of one phone: the open note, its content, the background
// picture and the font. It serves the desktop's requests over real HTTP on its own threads,
// records every request, and lets tests program its answers (overrides, delays, hanging
// and dropped connections, and answers that are slow, cut off, malformed, huge or hostile).

#include <QByteArray>
#include <QJsonValue>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace tavrin::sim {

// One request as served; recorded for every request.
struct Request {
    QString method;                 // "GET", "POST", ...
    QString path;                   // as on the wire, without the query: "/desktop/heartBeat/"
    QString query;                  // as on the wire, without the "?"; empty when none
    QMap<QString, QString> headers; // names with the case they were sent in
    QByteArray body;                // raw bytes as received
    QMap<QString, QString> form;    // the body decoded as x-www-form-urlencoded (UTF-8)
    qint64 receivedAtMs = 0;        // QDateTime::currentMSecsSinceEpoch() on arrival
    // std::chrono::steady_clock on arrival (the whole body read), in ns since its epoch: for
    // latencies measured in the same process on the same clock, finer than receivedAtMs.
    qint64 receivedAtSteadyNs = 0;

    // The value of the header with this name, compared without case; empty when absent.
    QString header(const QString& name) const;
};

// An answer. Plain ones (status, content type, body, header fields) are written by cpp-httplib;
// the misbehaving ones (dripped, cut short, reset, lying, endless, compressed, raw) by the
// server's own code straight to the connection's socket, which then closes after the answer.
struct Reply {
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json; charset=utf-8";
    QList<QPair<QByteArray, QByteArray>> headers; // more header fields, in this order
    int delayMs = 0;                              // wait this long before answering
    bool hang = false; // answer only after releaseHanging(); never when the server stops first
    bool drop = false; // close the connection without any answer

    // What follows the answer, or the part of it that cutAfter lets through.
    enum class Ending {
        Close, // close the connection: a FIN (an answer cpp-httplib writes stays kept alive)
        Stall, // keep the connection open and silent until the client closes or the server stops
        Reset, // reset the connection: SO_LINGER with a zero timeout, then close, so an RST
    };

    // Written by the server itself when any of these is set.
    // The whole answer, status line and headers included.
    std::optional<QByteArray> rawAnswer;
    // The Content-Length announced; -1: the body's size.
    qint64 announcedLength = -1;
    // Transfer-Encoding: chunked, the body as one chunk and then the last chunk.
    bool chunked = false;
    // >= 0 with chunked: the body as a chunk again every this many ms, for ever (until the
    // client closes or the server stops); no last chunk.
    int repeatChunkEveryMs = -1;
    // > 0: the whole answer, status line and headers too, written this many bytes at a time,
    // with pieceIntervalMs between pieces.
    int pieceBytes = 0;
    int pieceIntervalMs = 0;
    // >= 0: only this many bytes of the body as framed on the wire (of the whole answer when
    // raw), then the ending.
    qint64 cutAfter = -1;
    Ending ending = Ending::Close;

    // True when the server writes this reply itself rather than through cpp-httplib, which
    // would compress a body again, frame it its own way or refuse such header fields.
    bool writtenRaw() const;

    static Reply json(const QByteArray& body, int status = 200);
    static Reply dropped();
    static Reply hanging();

    // The reply written pieceBytes at a time (status line and headers too), intervalMs apart.
    static Reply drip(Reply reply, int pieceBytes, int intervalMs);
    // Headers with Transfer-Encoding: chunked, then the chunk every intervalMs for ever.
    static Reply chunkedForever(const QByteArray& chunk, int intervalMs,
                                const QByteArray& contentType = "application/json; charset=utf-8");
    // The headers and the first bodyBytes of the body as framed (chunked or not), then silence
    // with the connection kept open.
    static Reply stallAfter(Reply reply, qint64 bodyBytes);
    // The headers and the first bodyBytes of the body as framed, then an RST.
    static Reply resetAfter(Reply reply, qint64 bodyBytes);
    // The whole body under a Content-Length of announcedLength, then the connection closed.
    static Reply lyingLength(Reply reply, qint64 announcedLength);
    // status (301, 302, 303, 307, 308...) with a Location header and no body.
    static Reply redirect(int status, const QByteArray& location);
    // The text encoded in charset (a QTextCodec name) and labelled "charset=<label>" (the
    // charset itself when label is empty); nullopt when Qt has no such codec.
    static std::optional<Reply> encoded(const QString& text, const QByteArray& charset,
                                        const QByteArray& label = {},
                                        const QByteArray& mimeType = "application/json");
    // The reply's body gzip-compressed, with Content-Encoding: gzip.
    static Reply gzip(Reply reply);
    // The gzip of zeroBytes zero bytes (made without holding them), with Content-Encoding: gzip.
    static Reply gzipBomb(qint64 zeroBytes,
                          const QByteArray& contentType = "application/json; charset=utf-8");
    // These bytes as the whole answer, then the connection closed.
    static Reply raw(const QByteArray& bytes);
};

// What became of a request, reported to the served listener.
struct Served {
    // How the connection went on after the answer.
    enum class Ending {
        Kept,           // written by cpp-httplib, which keeps or closes the connection as usual
        Closed,         // the server wrote what it meant to and closed the connection (FIN)
        Reset,          // the server reset the connection (RST)
        ClosedByClient, // the client closed it first, while the server still wrote or stalled
        Stopped,        // the server stopped first
    };

    bool dropped = false; // no answer was written (drop, or the server stopped meanwhile)
    int status = 0;       // 0 when dropped; for a raw answer, the code of its status line
    QByteArray body;      // the body as meant (compressed or encoded); a raw answer whole
    QByteArray contentType;
    Ending ending = Ending::Kept;
    QString wire;          // how a reply the server wrote itself went: "drip 4 B every 20 ms"...
    qint64 wireBytes = -1; // bytes the server wrote itself, headers included; -1 for cpp-httplib
};

// The last selection push received, whatever note it named.
struct Selection {
    QString noteId;
    int start = -1; // -1 when absent or not a number
    int end = -1;
};

class NoteServer {
public:
    NoteServer();
    ~NoteServer(); // stops
    NoteServer(const NoteServer&) = delete;
    NoteServer& operator=(const NoteServer&) = delete;

    // Binds host:port and serves on its own threads. False when it cannot bind or already runs.
    bool start(const QString& host = QStringLiteral("127.0.0.1"), quint16 port = 8080);
    // Closes the listener and every connection; hanging and delayed requests end without an
    // answer, answers being written (dripped, stalled, endless) end where they are. Returns once
    // every server thread has finished, so it must not be called from one (an override or a
    // listener).
    void stop();
    bool isRunning() const;
    QString host() const;
    quint16 port() const;

    // The phone's state.
    void openNote(const QJsonValue& id, const QString& content, bool markdown = false);
    void closeNote();                        // the heartbeat then reports editingNoteId 0
    void setContent(const QString& content); // as if edited on the phone
    void setMarkdown(bool markdown);
    bool isNoteOpen() const;
    QJsonValue noteId() const; // the number 0 when no note is open
    QString content() const;
    bool isMarkdown() const;
    void setBackground(const QByteArray& bytes, const QByteArray& contentType);
    void setFont(const QByteArray& bytes, const QByteArray& contentType = "font/ttf");

    // What the desktop pushed.
    Selection lastSelection() const;
    int selectionCount() const;
    int saveCount() const; // save requests received, whatever note they named
    QString lastSavedNoteId() const;
    int appliedContentCount() const; // content pushes that replaced the content

    // Programmable behaviour. An override decides the reply for its path instead of the phone
    // state; nullopt falls back to the normal handling. Overrides and the delay function run
    // on server threads, without any of the server's locks held.
    using Override = std::function<std::optional<Reply>(const Request&)>;
    void setOverride(const QString& path, Override override);
    // Decides the reply for every path that has no override of its own.
    void setDefaultOverride(Override override);
    void clearOverride(const QString& path);
    void clearOverrides(); // the default one too
    // The phone's own answer to the request, as without overrides; a push is applied. Overrides
    // call it to misbehave with the answer the phone would give.
    Reply phoneReply(const Request& request);
    // An extra delay in ms for every request, applied before it is handled.
    void setDelay(std::function<int(const Request&)> delayMsForRequest);
    // While on, every request hangs (a phone that stopped answering but keeps the
    // connections); switching it off lets those requests go on to be answered.
    void setHangAll(bool hang);
    // Lets every request that hangs at this moment go on and be answered.
    void releaseHanging();
    int hangingCount() const;
    // Connections on which a stalled answer is silent at this moment.
    int stalledCount() const;

    // The record of requests, in arrival order.
    QList<Request> requests() const;
    QList<Request> requests(const QString& path) const;
    int requestCount(const QString& path) const;
    void clearRequests();
    // Off: requests are served but no longer recorded (a benchmark that pushes megabytes at
    // every keystroke would hold them all). On by default.
    void setRecordingRequests(bool recording);

    // Called on a server thread after each applied content push, in the order the pushes were
    // applied, with the server's state lock held (reading the state from it is allowed).
    void setContentListener(std::function<void(const QString& content)> listener);
    // Called on a server thread once the fate of each request is known.
    void setServedListener(std::function<void(const Request&, const Served&)> listener);

    // The id as it appears in form bodies: integral numbers as plain integers, other numbers
    // in their shortest form, strings unchanged.
    static QString idText(const QJsonValue& id);
    // Decodes an x-www-form-urlencoded body: "+" is a space, %XX bytes form UTF-8 text.
    // The first of repeated keys wins.
    static QMap<QString, QString> decodeForm(const QByteArray& body);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace tavrin::sim
