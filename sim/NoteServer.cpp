// SPDX-License-Identifier: GPL-3.0-or-later
#include "NoteServer.h"

#include "Sockets.h"
#include "TakenConnection.h"
#include "Wire.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QLoggingCategory>
#include <QTextCodec>

#include <httplib.h>

#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

// The server's own troubles: warnings, shown by default.
Q_LOGGING_CATEGORY(lcSim, "tavrin.sim", QtInfoMsg)

namespace tavrin::sim {
namespace {

constexpr char kHeartBeatPath[] = "/desktop/heartBeat/";
constexpr char kGetNotePath[] = "/desktop/getNote/";
constexpr char kModifyContentPath[] = "/desktop/modifyNoteContent/";
constexpr char kUpdateSelectionPath[] = "/desktop/updateSelection/";
constexpr char kSaveNowPath[] = "/desktop/saveNow/";
constexpr char kBgPicturePath[] = "/desktop/bgPicture/";
constexpr char kFontsPath[] = "/desktop/fonts";

// Enough threads that requests left hanging by a test do not starve the others.
constexpr size_t kServerThreads = 32;

// Gives access to the listening socket, to learn the address it is bound to.
class HttpServer : public httplib::Server {
public:
    int listeningSocket() const { return svr_sock_; }
};

Reply notFound() {
    Reply reply;
    reply.status = 404;
    reply.contentType.clear();
    return reply;
}

Reply bytesOrNotFound(const QByteArray& bytes, const QByteArray& contentType) {
    if (bytes.isEmpty()) {
        return notFound();
    }
    Reply reply;
    reply.body = bytes;
    reply.contentType = contentType;
    return reply;
}

QByteArray compactJson(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

int intOr(const QString& text, int fallback) {
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok ? value : fallback;
}

// Pseudo headers that cpp-httplib adds to each request; no client sent them.
bool isAddedByHttplib(const std::string& name) {
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
           name == "LOCAL_PORT";
}

sockets::Endpoint localEnd(const httplib::Request& raw) {
    return {QString::fromStdString(raw.local_addr), raw.local_port};
}

sockets::Endpoint peerEnd(const httplib::Request& raw) {
    return {QString::fromStdString(raw.remote_addr), raw.remote_port};
}

Request makeRequest(const httplib::Request& raw, QByteArray body) {
    Request request;
    request.receivedAtSteadyNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count();
    request.receivedAtMs = QDateTime::currentMSecsSinceEpoch();
    request.method = QString::fromStdString(raw.method);
    const QString target = QString::fromStdString(raw.target);
    const int queryStart = target.indexOf(QLatin1Char('?'));
    request.path = queryStart < 0 ? target : target.left(queryStart);
    request.query = queryStart < 0 ? QString() : target.mid(queryStart + 1);
    for (const auto& [name, value] : raw.headers) {
        if (!isAddedByHttplib(name)) {
            request.headers.insert(QString::fromStdString(name), QString::fromStdString(value));
        }
    }
    request.form = NoteServer::decodeForm(body);
    request.body = std::move(body);
    return request;
}

} // namespace

QString Request::header(const QString& name) const {
    for (auto it = headers.cbegin(); it != headers.cend(); ++it) {
        if (it.key().compare(name, Qt::CaseInsensitive) == 0) {
            return it.value();
        }
    }
    return {};
}

Reply Reply::json(const QByteArray& body, int status) {
    Reply reply;
    reply.status = status;
    reply.body = body;
    return reply;
}

Reply Reply::dropped() {
    Reply reply;
    reply.drop = true;
    return reply;
}

Reply Reply::hanging() {
    Reply reply;
    reply.hang = true;
    return reply;
}

bool Reply::writtenRaw() const {
    if (rawAnswer || announcedLength >= 0 || chunked || pieceBytes > 0 || cutAfter >= 0 ||
        ending != Ending::Close) {
        return true;
    }
    // cpp-httplib compresses a body again on top of a Content-Encoding, sets the framing
    // fields itself and drops fields holding a line break.
    return std::any_of(headers.cbegin(), headers.cend(), [](const auto& field) {
        const auto& [name, value] = field;
        for (const char* own :
             {"Content-Encoding", "Content-Length", "Transfer-Encoding", "Connection"}) {
            if (qstricmp(name.constData(), own) == 0) {
                return true;
            }
        }
        const auto breaks = [](const QByteArray& text) {
            return text.contains('\r') || text.contains('\n');
        };
        return breaks(name) || breaks(value);
    });
}

Reply Reply::drip(Reply reply, int pieceBytes, int intervalMs) {
    reply.pieceBytes = std::max(pieceBytes, 1);
    reply.pieceIntervalMs = std::max(intervalMs, 0);
    return reply;
}

Reply Reply::chunkedForever(const QByteArray& chunk, int intervalMs,
                            const QByteArray& contentType) {
    Reply reply;
    reply.body = chunk;
    reply.contentType = contentType;
    reply.chunked = true;
    reply.repeatChunkEveryMs = std::max(intervalMs, 0);
    return reply;
}

Reply Reply::stallAfter(Reply reply, qint64 bodyBytes) {
    reply.cutAfter = std::max<qint64>(bodyBytes, 0);
    reply.ending = Ending::Stall;
    return reply;
}

Reply Reply::resetAfter(Reply reply, qint64 bodyBytes) {
    reply.cutAfter = std::max<qint64>(bodyBytes, 0);
    reply.ending = Ending::Reset;
    return reply;
}

Reply Reply::lyingLength(Reply reply, qint64 announcedLength) {
    reply.announcedLength = std::max<qint64>(announcedLength, 0);
    return reply;
}

Reply Reply::redirect(int status, const QByteArray& location) {
    Reply reply;
    reply.status = status;
    reply.contentType.clear();
    reply.headers.append(qMakePair(QByteArray("Location"), location));
    return reply;
}

std::optional<Reply> Reply::encoded(const QString& text, const QByteArray& charset,
                                    const QByteArray& label, const QByteArray& mimeType) {
    std::optional<QByteArray> bytes = wire::encodeText(text, charset);
    if (!bytes) {
        return std::nullopt;
    }
    Reply reply;
    reply.body = *bytes;
    reply.contentType = mimeType + "; charset=" + (label.isEmpty() ? charset : label);
    return reply;
}

Reply Reply::gzip(Reply reply) {
    reply.body = wire::gzipCompress(reply.body);
    reply.headers.append(qMakePair(QByteArray("Content-Encoding"), QByteArray("gzip")));
    return reply;
}

Reply Reply::gzipBomb(qint64 zeroBytes, const QByteArray& contentType) {
    Reply reply;
    reply.body = wire::gzipOfZeros(zeroBytes);
    reply.contentType = contentType;
    reply.headers.append(qMakePair(QByteArray("Content-Encoding"), QByteArray("gzip")));
    return reply;
}

Reply Reply::raw(const QByteArray& bytes) {
    Reply reply;
    reply.rawAnswer = bytes;
    reply.contentType.clear();
    return reply;
}

struct NoteServer::Private {
    // Lifecycle, serialising start() and stop(); server threads never take it.
    std::mutex lifecycleMutex;
    std::unique_ptr<HttpServer> http;
    std::thread listenThread;
    std::atomic<bool> listenFinished{true};
    std::atomic<bool> running{false};
    sockets::Endpoint listening;
    // Readable from stop() until the next start(): ends the waits of answers written raw.
    int stopEvent = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);

    // Programmed behaviour and the record; never held while user code runs.
    mutable std::mutex controlMutex;
    std::condition_variable wake;
    bool stopping = false;
    QString host;
    quint16 port = 0;
    bool hangAll = false;
    quint64 releaseGeneration = 0;
    int hanging = 0;
    int stalled = 0;
    QMap<QString, Override> overrides;
    Override defaultOverride;
    std::function<int(const Request&)> delayForRequest;
    std::function<void(const Request&, const Served&)> servedListener;
    QList<Request> requests;
    bool recording = true;

    // The phone's state. Recursive, so that the content listener may read the state.
    mutable std::recursive_mutex stateMutex;
    bool open = false;
    QJsonValue id{0};
    QString content;
    bool markdown = false;
    QByteArray background;
    QByteArray backgroundType;
    QByteArray font;
    QByteArray fontType;
    Selection selection;
    int selections = 0;
    int saves = 0;
    QString lastSavedId;
    int appliedContents = 0;
    std::function<void(const QString&)> contentListener;

    void serve(const httplib::Request& raw, httplib::Response& response, QByteArray body);
    void writeRaw(const httplib::Request& raw, const Reply& reply, Served& served);
    std::optional<Reply> decide(const Request& request);
    Reply handleNormally(const Request& request);
    Reply heartBeat() const;
    Reply getNote() const;
    Reply modifyContent(const Request& request);

    bool isStopping() const {
        std::lock_guard lock(controlMutex);
        return stopping;
    }
    // Each wait returns false when the server stops meanwhile.
    bool waitMs(int ms);
    bool waitWhileHangAll();
    bool hangUntilReleased();
};

bool NoteServer::Private::waitMs(int ms) {
    std::unique_lock lock(controlMutex);
    wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping; });
    return !stopping;
}

bool NoteServer::Private::waitWhileHangAll() {
    std::unique_lock lock(controlMutex);
    if (!hangAll) {
        return !stopping;
    }
    const quint64 generation = releaseGeneration;
    ++hanging;
    wake.wait(lock, [&] { return stopping || !hangAll || releaseGeneration != generation; });
    --hanging;
    return !stopping;
}

bool NoteServer::Private::hangUntilReleased() {
    std::unique_lock lock(controlMutex);
    const quint64 generation = releaseGeneration;
    ++hanging;
    wake.wait(lock, [&] { return stopping || releaseGeneration != generation; });
    --hanging;
    return !stopping;
}

void NoteServer::Private::serve(const httplib::Request& raw, httplib::Response& response,
                                QByteArray body) {
    const Request request = makeRequest(raw, std::move(body));
    {
        std::lock_guard lock(controlMutex);
        if (recording) {
            requests.append(request);
        }
    }

    const std::optional<Reply> reply = decide(request);
    Served served;
    const bool stopped = isStopping();
    if (!reply || stopped) {
        // Shutting the socket down makes cpp-httplib's write of the response below fail, so
        // the client sees the connection closed without any answer. When the server stops,
        // stop() has shut it down already.
        const bool closed = sockets::shutdownConnection(localEnd(raw), peerEnd(raw));
        if (!closed && !stopped) {
            qCWarning(lcSim, "NoteServer: could not find the connection of %s %s to drop it",
                     qPrintable(request.method), qPrintable(request.path));
        }
        response.status = 500;
        response.set_header("Connection", "close");
        served.dropped = true;
    } else if (reply->writtenRaw()) {
        // Whatever cpp-httplib writes after this goes to /dev/null (see TakenConnection.h).
        response.status = 500;
        response.set_header("Connection", "close");
        writeRaw(raw, *reply, served);
    } else {
        response.status = reply->status;
        for (const auto& [name, value] : reply->headers) {
            response.set_header(name.toStdString(), value.toStdString());
        }
        if (!reply->body.isEmpty() || !reply->contentType.isEmpty()) {
            response.set_content(reply->body.toStdString(), reply->contentType.toStdString());
        }
        served.status = reply->status;
        served.body = reply->body;
        served.contentType = reply->contentType;
    }

    std::function<void(const Request&, const Served&)> listener;
    {
        std::lock_guard lock(controlMutex);
        listener = servedListener;
    }
    if (listener) {
        listener(request, served);
    }
}

void NoteServer::Private::writeRaw(const httplib::Request& raw, const Reply& reply,
                                   Served& served) {
    served.status = reply.rawAnswer ? wire::statusOf(*reply.rawAnswer) : reply.status;
    served.body = reply.rawAnswer ? *reply.rawAnswer : reply.body;
    served.contentType = reply.contentType;
    served.wire = wire::summary(reply);

    const int fd = sockets::connectionDescriptor(localEnd(raw), peerEnd(raw));
    std::unique_ptr<TakenConnection> connection =
        fd >= 0 ? TakenConnection::takeOver(fd, stopEvent) : nullptr;
    if (!connection) {
        if (!isStopping()) {
            qCWarning(lcSim, "NoteServer: could not take over the connection of %s to write its answer",
                     raw.path.c_str());
        }
        served.dropped = true;
        served.status = 0;
        return;
    }
    qint64 written = 0;
    served.ending = writeReply(*connection, reply, &written, [this](bool stalling) {
        std::lock_guard lock(controlMutex);
        stalled += stalling ? 1 : -1;
    });
    served.wireBytes = written;
    if (written == 0) {
        served.dropped = true;
        served.status = 0;
    }
}

std::optional<Reply> NoteServer::Private::decide(const Request& request) {
    std::function<int(const Request&)> delay;
    {
        std::lock_guard lock(controlMutex);
        if (stopping) {
            return std::nullopt;
        }
        delay = delayForRequest;
    }
    const int delayMs = delay ? delay(request) : 0;
    if (delayMs > 0 && !waitMs(delayMs)) {
        return std::nullopt;
    }
    if (!waitWhileHangAll()) {
        return std::nullopt;
    }

    Override override;
    {
        std::lock_guard lock(controlMutex);
        override = overrides.value(request.path, defaultOverride);
    }
    if (override) {
        if (std::optional<Reply> reply = override(request)) {
            if (reply->delayMs > 0 && !waitMs(reply->delayMs)) {
                return std::nullopt;
            }
            if (reply->hang && !hangUntilReleased()) {
                return std::nullopt;
            }
            if (reply->drop) {
                return std::nullopt;
            }
            return reply;
        }
    }
    return handleNormally(request);
}

Reply NoteServer::Private::handleNormally(const Request& request) {
    // One request at a time: pushes take effect in the order they are handled, so a late push
    // overwrites a newer one, as on a real phone.
    std::lock_guard lock(stateMutex);
    const QString& path = request.path;
    if (request.method == QLatin1String("GET")) {
        if (path == QLatin1String(kHeartBeatPath)) {
            return heartBeat();
        }
        if (path == QLatin1String(kGetNotePath)) {
            return getNote();
        }
        if (path == QLatin1String(kBgPicturePath)) {
            return bytesOrNotFound(background, backgroundType);
        }
        if (path == QLatin1String(kFontsPath)) {
            return bytesOrNotFound(font, fontType);
        }
    } else if (request.method == QLatin1String("POST")) {
        if (path == QLatin1String(kModifyContentPath)) {
            return modifyContent(request);
        }
        if (path == QLatin1String(kUpdateSelectionPath)) {
            selection.noteId = request.form.value(QStringLiteral("noteId"));
            selection.start = intOr(request.form.value(QStringLiteral("start")), -1);
            selection.end = intOr(request.form.value(QStringLiteral("end")), -1);
            ++selections;
            return Reply::json(R"({"code":1})");
        }
        if (path == QLatin1String(kSaveNowPath)) {
            ++saves;
            lastSavedId = request.form.value(QStringLiteral("noteId"));
            return Reply::json(R"({"code":1})");
        }
    }
    return notFound();
}

Reply NoteServer::Private::heartBeat() const {
    return Reply::json(compactJson({
        {QStringLiteral("editingNoteId"), open ? id : QJsonValue(0)},
        {QStringLiteral("editingCharCount"), open ? content.toUcs4().size() : 0},
        {QStringLiteral("editingMarkdown"), open && markdown},
    }));
}

Reply NoteServer::Private::getNote() const {
    if (!open) {
        return Reply::json(R"({"code":0})");
    }
    const QJsonObject data{
        {QStringLiteral("noteId"), id},
        {QStringLiteral("markdown"), markdown},
        {QStringLiteral("content"), content},
    };
    return Reply::json(compactJson({{QStringLiteral("code"), 1}, {QStringLiteral("data"), data}}));
}

Reply NoteServer::Private::modifyContent(const Request& request) {
    const QString noteIdField = QStringLiteral("noteId");
    const QString contentField = QStringLiteral("content");
    if (!open || !request.form.contains(noteIdField) || !request.form.contains(contentField) ||
        request.form.value(noteIdField) != idText(id)) {
        return Reply::json(R"({"code":0})");
    }
    content = request.form.value(contentField);
    ++appliedContents;
    if (contentListener) {
        contentListener(content);
    }
    return Reply::json(R"({"code":1})");
}

NoteServer::NoteServer()
    : d(std::make_unique<Private>()) {}

NoteServer::~NoteServer() {
    stop();
    if (d->stopEvent >= 0) {
        ::close(d->stopEvent);
    }
}

bool NoteServer::start(const QString& host, quint16 port) {
    std::lock_guard lifecycle(d->lifecycleMutex);
    if (d->http) {
        return false;
    }
    auto http = std::make_unique<HttpServer>();
    http->new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
    // No Nagle delays: latency is measured against this server. This must be a call: in
    // Debian's build of cpp-httplib the constructor lives in the shared library, so the
    // CPPHTTPLIB_TCP_NODELAY definition changes nothing. Accepted sockets inherit it.
    http->set_tcp_nodelay(true);
    // SO_REUSEADDR only: binding fails while anyone else listens there.
    http->set_socket_options([](socket_t socket) {
        int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });

    Private* p = d.get();
    const auto withoutBody = [p](const httplib::Request& raw, httplib::Response& response) {
        p->serve(raw, response, QByteArray::fromStdString(raw.body));
    };
    // With a content reader cpp-httplib leaves the body to the handler; it would otherwise
    // refuse form bodies above 8 KiB, and long notes are bigger than that.
    const auto withBody = [p](const httplib::Request& raw, httplib::Response& response,
                              const httplib::ContentReader& reader) {
        QByteArray body;
        const auto append = [&body](const char* data, size_t length) {
            body.append(data, static_cast<int>(length));
            return true;
        };
        if (raw.is_multipart_form_data()) {
            reader([](const httplib::MultipartFormData&) { return true; }, append);
        } else {
            reader(append);
        }
        p->serve(raw, response, std::move(body));
    };
    const std::string any = ".*";
    http->Get(any, withoutBody);
    http->Options(any, withoutBody);
    http->Post(any, withBody);
    http->Put(any, withBody);
    http->Patch(any, withBody);
    http->Delete(any, withBody);

    {
        std::lock_guard lock(d->controlMutex);
        d->stopping = false;
    }
    eventfd_t stops = 0;
    eventfd_read(d->stopEvent, &stops); // clears a stop left from the last run
    if (!http->bind_to_port(host.toStdString(), port)) {
        return false;
    }
    d->listening = sockets::localEndpoint(http->listeningSocket());
    {
        std::lock_guard lock(d->controlMutex);
        d->host = host;
        d->port = port;
    }
    d->listenFinished = false;
    d->listenThread = std::thread([p, server = http.get()] {
        server->listen_after_bind();
        p->listenFinished = true;
    });
    // stop() only reaches a server whose accept loop has begun.
    while (!http->is_running() && !d->listenFinished) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    d->http = std::move(http);
    d->running = !d->listenFinished;
    return true;
}

void NoteServer::stop() {
    std::lock_guard lifecycle(d->lifecycleMutex);
    if (!d->http) {
        return;
    }
    {
        std::lock_guard lock(d->controlMutex);
        d->stopping = true;
    }
    d->running = false;
    d->wake.notify_all();
    eventfd_write(d->stopEvent, 1);
    d->http->stop();
    // Idle keep-alive connections would hold their threads for seconds: end them all, again
    // and again until the pool has finished, in case one was accepted just now.
    while (!d->listenFinished) {
        sockets::shutdownAcceptedConnections(d->listening);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    d->listenThread.join();
    d->http.reset();
}

bool NoteServer::isRunning() const {
    return d->running && !d->listenFinished;
}

QString NoteServer::host() const {
    std::lock_guard lock(d->controlMutex);
    return d->host;
}

quint16 NoteServer::port() const {
    std::lock_guard lock(d->controlMutex);
    return d->port;
}

void NoteServer::openNote(const QJsonValue& id, const QString& content, bool markdown) {
    std::lock_guard lock(d->stateMutex);
    d->open = true;
    d->id = id;
    d->content = content;
    d->markdown = markdown;
}

void NoteServer::closeNote() {
    std::lock_guard lock(d->stateMutex);
    d->open = false;
}

void NoteServer::setContent(const QString& content) {
    std::lock_guard lock(d->stateMutex);
    d->content = content;
}

void NoteServer::setMarkdown(bool markdown) {
    std::lock_guard lock(d->stateMutex);
    d->markdown = markdown;
}

bool NoteServer::isNoteOpen() const {
    std::lock_guard lock(d->stateMutex);
    return d->open;
}

QJsonValue NoteServer::noteId() const {
    std::lock_guard lock(d->stateMutex);
    return d->open ? d->id : QJsonValue(0);
}

QString NoteServer::content() const {
    std::lock_guard lock(d->stateMutex);
    return d->content;
}

bool NoteServer::isMarkdown() const {
    std::lock_guard lock(d->stateMutex);
    return d->markdown;
}

void NoteServer::setBackground(const QByteArray& bytes, const QByteArray& contentType) {
    std::lock_guard lock(d->stateMutex);
    d->background = bytes;
    d->backgroundType = contentType;
}

void NoteServer::setFont(const QByteArray& bytes, const QByteArray& contentType) {
    std::lock_guard lock(d->stateMutex);
    d->font = bytes;
    d->fontType = contentType;
}

Selection NoteServer::lastSelection() const {
    std::lock_guard lock(d->stateMutex);
    return d->selection;
}

int NoteServer::selectionCount() const {
    std::lock_guard lock(d->stateMutex);
    return d->selections;
}

int NoteServer::saveCount() const {
    std::lock_guard lock(d->stateMutex);
    return d->saves;
}

QString NoteServer::lastSavedNoteId() const {
    std::lock_guard lock(d->stateMutex);
    return d->lastSavedId;
}

int NoteServer::appliedContentCount() const {
    std::lock_guard lock(d->stateMutex);
    return d->appliedContents;
}

void NoteServer::setOverride(const QString& path, Override override) {
    std::lock_guard lock(d->controlMutex);
    d->overrides.insert(path, std::move(override));
}

void NoteServer::setDefaultOverride(Override override) {
    std::lock_guard lock(d->controlMutex);
    d->defaultOverride = std::move(override);
}

void NoteServer::clearOverride(const QString& path) {
    std::lock_guard lock(d->controlMutex);
    d->overrides.remove(path);
}

void NoteServer::clearOverrides() {
    std::lock_guard lock(d->controlMutex);
    d->overrides.clear();
    d->defaultOverride = nullptr;
}

Reply NoteServer::phoneReply(const Request& request) {
    return d->handleNormally(request);
}

void NoteServer::setDelay(std::function<int(const Request&)> delayMsForRequest) {
    std::lock_guard lock(d->controlMutex);
    d->delayForRequest = std::move(delayMsForRequest);
}

void NoteServer::setHangAll(bool hang) {
    {
        std::lock_guard lock(d->controlMutex);
        d->hangAll = hang;
    }
    d->wake.notify_all();
}

void NoteServer::releaseHanging() {
    {
        std::lock_guard lock(d->controlMutex);
        ++d->releaseGeneration;
    }
    d->wake.notify_all();
}

int NoteServer::hangingCount() const {
    std::lock_guard lock(d->controlMutex);
    return d->hanging;
}

int NoteServer::stalledCount() const {
    std::lock_guard lock(d->controlMutex);
    return d->stalled;
}

QList<Request> NoteServer::requests() const {
    std::lock_guard lock(d->controlMutex);
    return d->requests;
}

QList<Request> NoteServer::requests(const QString& path) const {
    std::lock_guard lock(d->controlMutex);
    QList<Request> matching;
    for (const Request& request : d->requests) {
        if (request.path == path) {
            matching.append(request);
        }
    }
    return matching;
}

int NoteServer::requestCount(const QString& path) const {
    return requests(path).size();
}

void NoteServer::clearRequests() {
    std::lock_guard lock(d->controlMutex);
    d->requests.clear();
}

void NoteServer::setRecordingRequests(bool recording) {
    std::lock_guard lock(d->controlMutex);
    d->recording = recording;
}

void NoteServer::setContentListener(std::function<void(const QString&)> listener) {
    std::lock_guard lock(d->stateMutex);
    d->contentListener = std::move(listener);
}

void NoteServer::setServedListener(std::function<void(const Request&, const Served&)> listener) {
    std::lock_guard lock(d->controlMutex);
    d->servedListener = std::move(listener);
}

QString NoteServer::idText(const QJsonValue& id) {
    switch (id.type()) {
    case QJsonValue::String:
        return id.toString();
    case QJsonValue::Double: {
        const double value = id.toDouble();
        constexpr double kExactIntegers = 9007199254740992.0; // 2^53
        if (std::isfinite(value) && value == std::floor(value) &&
            std::abs(value) < kExactIntegers) {
            return QString::number(static_cast<qint64>(value));
        }
        return QString::number(value, 'g', QLocale::FloatingPointShortest);
    }
    case QJsonValue::Bool:
        return id.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Null:
        return QStringLiteral("null");
    default:
        return QStringLiteral("undefined");
    }
}

QMap<QString, QString> NoteServer::decodeForm(const QByteArray& body) {
    QMap<QString, QString> form;
    for (const QByteArray& field : body.split('&')) {
        if (field.isEmpty()) {
            continue;
        }
        const int equals = field.indexOf('=');
        const auto decode = [](QByteArray text) {
            // With its size: a %00 is a character, not the end. And a U+FEFF
            // that starts a value is text, not a byte order mark to drop.
            const QByteArray bytes = QByteArray::fromPercentEncoding(text.replace('+', ' '));
            QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
            return QTextCodec::codecForMib(106)->toUnicode(bytes.constData(), bytes.size(), &state);
        };
        const QString key = decode(equals < 0 ? field : field.left(equals));
        if (!form.contains(key)) {
            form.insert(key, equals < 0 ? QString() : decode(field.mid(equals + 1)));
        }
    }
    return form;
}

} // namespace tavrin::sim
