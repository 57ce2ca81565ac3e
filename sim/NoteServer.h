#pragma once

// A note server holding the state of one phone: the open note, its content, the background
// picture and the font. It serves the desktop's requests over real HTTP on its own threads,
// records every request, and lets tests program its answers (overrides, delays, hanging
// and dropped connections).

#include <QByteArray>
#include <QJsonValue>
#include <QList>
#include <QMap>
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

    // The value of the header with this name, compared without case; empty when absent.
    QString header(const QString& name) const;
};

struct Reply {
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json; charset=utf-8";
    int delayMs = 0;   // wait this long before answering
    bool hang = false; // answer only after releaseHanging(); never when the server stops first
    bool drop = false; // close the connection without any answer

    static Reply json(const QByteArray& body, int status = 200);
    static Reply dropped();
    static Reply hanging();
};

// What became of a request, reported to the served listener.
struct Served {
    bool dropped = false; // no answer was written (drop, or the server stopped meanwhile)
    int status = 0;       // 0 when dropped
    QByteArray body;
    QByteArray contentType;
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
    // answer. Returns once every server thread has finished, so it must not be called from
    // one (an override or a listener).
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
    void clearOverrides();
    // An extra delay in ms for every request, applied before it is handled.
    void setDelay(std::function<int(const Request&)> delayMsForRequest);
    // While on, every request hangs (a phone that stopped answering but keeps the
    // connections); switching it off lets those requests go on to be answered.
    void setHangAll(bool hang);
    // Lets every request that hangs at this moment go on and be answered.
    void releaseHanging();
    int hangingCount() const;

    // The record of requests, in arrival order.
    QList<Request> requests() const;
    QList<Request> requests(const QString& path) const;
    int requestCount(const QString& path) const;
    void clearRequests();

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
