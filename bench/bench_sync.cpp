// SPDX-License-Identifier: GPL-3.0-or-later
// The typing and sync table: what a keystroke costs and how fast it reaches the phone, for
// (a) a bare TextEdit scene, (b) the one-request-per-keystroke scene and (c) Tavrin's scene,
// in notes of mixed CJK and ASCII lines. The phone is the simulator's NoteServer, in this
// process on 127.0.0.N:8080, over real HTTP; Tavrin talks to it through its HttpTransport.
//   1. main-thread CPU time of each key's delivery (the change handling), median of N keys;
//   2. key press to the arrival at the phone of the first content push carrying that key,
//      one key every 150 ms, the phone answering at once and after 50 ms;
//   3. resident memory after 60 keys in a 1 M note, bare and Tavrin, each in a fresh child.
// Run offscreen:
//   QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software bench_sync
//       [--sizes 1000,100000,1000000] [--keys 21] [--latency-keys 35] [--parts 1,2,3]
//       [--clients a,b,c] [--address 127.0.0.N]
// The children: bench_sync --rss bare|tavrin CHARS [--address 127.0.0.N]

#include "MixedNote.h"
#include "support/SceneFixture.h"

#include "link/LinkState.h"
#include "link/PhoneLink.h"
#include "link/PushQueue.h"
#include "state/Attrs.h"
#include "tools/History.h"

#include "sim/NoteServer.h"
#include "sim/Sockets.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QKeyEvent>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using tavrin::sim::NoteServer;
using tavrin::sim::Request;

const QString kModifyContentPath = QStringLiteral("/desktop/modifyNoteContent/");
constexpr int kNoteId = 1;
constexpr int kKeyIntervalMs = 150;
constexpr int kAnswerDelayMs = 50;
// Where a key and the frame after it take the bare editor longer than this, no window paints
// while typing: keys coming every kKeyIntervalMs would only measure the painter's backlog.
constexpr double kMaxPaintedFrameMs = 1000;
constexpr int kRssKeys = 60; // more than the 50 entries of the history
constexpr int kRssChars = 1000000;
constexpr double kRssTarget = 1.15;

qint64 steadyNs(Clock::time_point at = Clock::now()) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
}

double threadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// The note of bench_typing: Chinese and ASCII lines in turn.
// The letters typed by key 0, 1, 2...: a to z, again and again.
QChar letterOfKey(int key) {
    return QChar('a' + key % 26);
}

QString typedLetters(int keys) {
    QString letters;
    for (int i = 0; i < keys; ++i)
        letters += letterOfKey(i);
    return letters;
}

double median(std::vector<double> values) {
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Nearest rank.
double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<size_t>(std::ceil(p / 100.0 * values.size()));
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

// The event loop runs, blocked in poll between events (QTest::qWait and qWaitFor sleep in
// 10 ms steps, which would hold back the client's network work), until the deadline.
void runEventLoopUntil(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() > 1) {
        QEventLoop loop;
        QTimer timer;
        timer.setTimerType(Qt::PreciseTimer);
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        // A millisecond early: the rest is slept exactly below.
        timer.start(int(left.count()) - 1);
        loop.exec();
    } else {
        // Late: what waits is still handled first, as a key from the window system would be
        // taken only after the events queued before it.
        QCoreApplication::processEvents();
    }
    std::this_thread::sleep_until(deadline);
}

// The event loop runs until `done` holds (looked at every millisecond) or the time is up.
bool runEventLoopUntil(const std::function<bool()>& done, int timeoutMs) {
    if (done())
        return true;
    QEventLoop loop;
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start(1);
    loop.exec();
    return done();
}

void sendKey(QQuickWindow* window, int key) {
    const QString letter(letterOfKey(key));
    const auto code = Qt::Key(Qt::Key_A + key % 26);
    QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, letter);
    QKeyEvent release(QEvent::KeyRelease, code, Qt::NoModifier, letter);
    QCoreApplication::sendEvent(window, &press);
    QCoreApplication::sendEvent(window, &release);
}

void putCursorAtEnd(QObject* textEdit) {
    QMetaObject::invokeMethod(textEdit, "forceActiveFocus");
    textEdit->setProperty("cursorPosition", textEdit->property("length"));
}

// The phone's side of the latency: for each key of a run, when the first content push whose
// text holds it arrived. The server calls note() on its threads for every request, before any
// delay; the time is the server's own stamp of the arrival (the whole body read).
class Arrivals {
public:
    explicit Arrivals(NoteServer& server)
        : m_server(server) {}

    // From now on, pushes of the note `baseLength` characters long followed by up to `keys`
    // typed letters are looked for.
    void arm(int baseLength, int keys) {
        std::lock_guard lock(m_mutex);
        m_baseLength = baseLength;
        m_typed = typedLetters(keys);
        m_arrivedNs.assign(keys, 0);
        m_socketChecksLeft = kSocketChecksPerRun;
    }
    void disarm() {
        std::lock_guard lock(m_mutex);
        m_typed.clear();
        m_arrivedNs.clear();
    }
    int arrivedCount() const {
        std::lock_guard lock(m_mutex);
        return int(std::count_if(m_arrivedNs.cbegin(), m_arrivedNs.cend(),
                                 [](qint64 ns) { return ns != 0; }));
    }
    std::vector<qint64> arrivedNs() const {
        std::lock_guard lock(m_mutex);
        return m_arrivedNs;
    }
    int socketsChecked() const { return m_socketsChecked; }
    int socketsWithNoDelay() const { return m_socketsWithNoDelay; }

    void note(const Request& request) {
        std::lock_guard lock(m_mutex);
        if (m_socketChecksLeft > 0) {
            --m_socketChecksLeft;
            checkNoDelay();
        }
        if (m_typed.isEmpty() || request.path != kModifyContentPath)
            return;
        const QString content = request.form.value(QStringLiteral("content"));
        const int typed = content.size() - m_baseLength;
        if (typed < 1 || typed > m_typed.size() || !content.endsWith(m_typed.left(typed)))
            return;
        for (int key = 0; key < typed; ++key) {
            qint64& at = m_arrivedNs[key];
            if (at == 0 || request.receivedAtSteadyNs < at)
                at = request.receivedAtSteadyNs;
        }
    }

private:
    static constexpr int kSocketChecksPerRun = 6;

    // Every connection the phone holds at this moment, the one being served among them.
    void checkNoDelay() {
        const tavrin::sim::sockets::Endpoint phone{m_server.host(), m_server.port()};
        for (const int fd : tavrin::sim::sockets::acceptedConnections(phone)) {
            int noDelay = 0;
            socklen_t length = sizeof noDelay;
            ++m_socketsChecked;
            if (::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, &length) == 0 && noDelay)
                ++m_socketsWithNoDelay;
        }
    }

    NoteServer& m_server;
    mutable std::mutex m_mutex;
    int m_baseLength = 0;
    QString m_typed;
    std::vector<qint64> m_arrivedNs;
    int m_socketChecksLeft = 0;
    std::atomic<int> m_socketsChecked{0};
    std::atomic<int> m_socketsWithNoDelay{0};
};

// One of the three editors, loaded with the note and ready for keys.
class Scene {
public:
    virtual ~Scene() = default;
    virtual QQuickWindow* window() const = 0;
    virtual QObject* textEdit() const = 0;
    // Nothing is left to send or waits for its answer.
    virtual bool idle() const { return true; }
    bool settle() {
        return runEventLoopUntil([this] { return idle(); }, 60000);
    }
    // Settled, and the main thread has run the event loop for 200 ms with next to no work: the
    // first layout and painting of a long note are over (they take seconds at 1 M).
    bool quiet() {
        const Clock::time_point giveUp = Clock::now() + std::chrono::seconds(120);
        while (settle() && Clock::now() < giveUp) {
            const double cpuStart = threadCpuMs();
            runEventLoopUntil(Clock::now() + std::chrono::milliseconds(200));
            if (threadCpuMs() - cpuStart < 10)
                return true;
        }
        return false;
    }
    int length() const { return textEdit()->property("length").toInt(); }
    // A hidden window keeps the keys (it stays the active one) but paints nothing.
    void hide() { window()->hide(); }
};

// (a) and (b): a scene file of the benchmark, the note set as the editor's text.
class BenchScene : public Scene {
public:
    // An empty address: no phone (the bare scene). Not painted: hidden before the note comes.
    BenchScene(const QString& file, const QString& note, const QString& phoneAddress,
               bool painted) {
        m_engine.rootContext()->setContextProperty(QStringLiteral("phoneAddress"), phoneAddress);
        m_engine.rootContext()->setContextProperty(QStringLiteral("noteId"), kNoteId);
        m_engine.load(QUrl::fromLocalFile(QStringLiteral(TAVRIN_BENCH_DIR "/") + file));
        m_window = qobject_cast<QQuickWindow*>(m_engine.rootObjects().value(0));
        if (!m_window)
            return;
        m_textEdit = m_window->findChild<QObject*>(QStringLiteral("textEdit"));
        m_window->requestActivate();
        if (!QTest::qWaitForWindowActive(m_window)) {
            m_window = nullptr;
            return;
        }
        if (!painted)
            hide();
        m_textEdit->setProperty("text", note);
    }
    bool isReady() const { return m_window && m_textEdit; }
    QQuickWindow* window() const override { return m_window; }
    QObject* textEdit() const override { return m_textEdit; }
    bool idle() const override { return m_window->property("outstanding").toInt() <= 0; }

private:
    QQmlApplicationEngine m_engine;
    QQuickWindow* m_window = nullptr;
    QObject* m_textEdit = nullptr;
};

// (c): Tavrin's scene, the note loaded from the phone through the link's own transport.
class TavrinScene : public Scene {
public:
    TavrinScene(const QString& phoneAddress, int noteChars, bool painted)
        : m_scene(m_dir.path()) {
        if (!m_scene.isLoaded())
            return;
        // The product's timings; the benchmark's notes may be longer than the editor takes.
        tavrin::link::Timings timings;
        timings.maxNoteChars = std::max(timings.maxNoteChars, noteChars);
        m_scene.link()->setTimings(timings);
        if (!m_scene.activate())
            return;
        if (!painted)
            hide();
        m_scene.link()->updateIp(phoneAddress);
        m_ready =
            runEventLoopUntil([&] { return m_scene.attrs()->isLoadOk() && length() > 0; }, 30000);
    }
    bool isReady() const { return m_ready; }
    QQuickWindow* window() const override { return m_scene.window(); }
    QObject* textEdit() const override { return m_scene.textEdit(); }
    bool idle() const override {
        const tavrin::PushQueue* pushes = m_scene.link()->pushQueue();
        return !pushes->isBusy() && pushes->waitingCount() == 0;
    }
    int historySize() const { return m_scene.history()->inStackSize(); }

private:
    QTemporaryDir m_dir;
    SceneFixture m_scene;
    bool m_ready = false;
};

// Part 1: each key's delivery (the change and all it does synchronously) on the main
// thread; between keys, untimed, the event loop runs until the scene is idle.
double perKeyCpuMs(Scene& scene, int keys) {
    putCursorAtEnd(scene.textEdit());
    if (!scene.quiet())
        return NAN;
    std::vector<double> times;
    for (int i = 0; i < keys; ++i) {
        const double start = threadCpuMs();
        sendKey(scene.window(), i);
        times.push_back(threadCpuMs() - start);
        scene.settle();
        QCoreApplication::processEvents();
    }
    return median(times);
}

// The main thread's CPU for one key and everything after it until the scene is quiet again:
// the change handling, the pushes and their answers, and the painting of the next frame.
double keyAndFrameCpuMs(Scene& scene) {
    putCursorAtEnd(scene.textEdit());
    if (!scene.quiet())
        return NAN;
    const double start = threadCpuMs();
    sendKey(scene.window(), 0);
    if (!scene.quiet())
        return NAN;
    return threadCpuMs() - start;
}

struct Paced {
    bool ran = false;
    double p50 = NAN, p95 = NAN, max = NAN;
    int arrived = 0;
    int keys = 0;
    double cpuPerKeyMs = NAN; // main thread, everything from the first key to the last cycle's end
    double queuedP95Ms = NAN; // how late keys were delivered because the main thread was busy
};

// Part 2: one key every kKeyIntervalMs, timed from the moment it is due (a key that waits for
// the main thread waits in the latency too) to its arrival at the phone.
Paced pacedRun(Scene& scene, NoteServer* server, Arrivals* arrivals, int keys, int delayMs) {
    Paced result;
    result.keys = keys;
    putCursorAtEnd(scene.textEdit());
    if (!scene.quiet())
        return result;
    if (server) {
        // Pushes of the editor's text as it stands now, followed by the letters typed. (The
        // phone itself may hold another: requests sent in parallel arrive in any order.)
        const int length = scene.length();
        server->setDelay([arrivals, delayMs](const Request& request) {
            arrivals->note(request);
            return delayMs;
        });
        arrivals->arm(length, keys);
    }

    std::vector<Clock::time_point> due(keys);
    std::vector<double> queued;
    const Clock::time_point start = Clock::now() + std::chrono::milliseconds(50);
    runEventLoopUntil(start);
    const double cpuStart = threadCpuMs();
    for (int i = 0; i < keys; ++i) {
        due[i] = start + std::chrono::milliseconds(i * kKeyIntervalMs);
        runEventLoopUntil(due[i]);
        queued.push_back(std::chrono::duration<double, std::milli>(Clock::now() - due[i]).count());
        sendKey(scene.window(), i);
    }
    runEventLoopUntil(start + std::chrono::milliseconds(keys * kKeyIntervalMs));
    result.cpuPerKeyMs = (threadCpuMs() - cpuStart) / keys;
    result.queuedP95Ms = percentile(queued, 95);
    result.ran = true;
    if (!server)
        return result;

    runEventLoopUntil([&] { return arrivals->arrivedCount() == keys; }, 10000);
    scene.settle();
    const std::vector<qint64> arrived = arrivals->arrivedNs();
    arrivals->disarm();
    server->setDelay(nullptr);
    std::vector<double> latencies;
    for (int i = 0; i < keys; ++i) {
        if (arrived[i] != 0)
            latencies.push_back((arrived[i] - steadyNs(due[i])) / 1e6);
    }
    result.arrived = int(latencies.size());
    result.p50 = percentile(latencies, 50);
    result.p95 = percentile(latencies, 95);
    result.max = latencies.empty() ? NAN : *std::max_element(latencies.cbegin(), latencies.cend());
    return result;
}

struct Options {
    std::vector<int> sizes{1000, 100000, 1000000};
    int keys = 21;
    int latencyKeys = 35;
    bool parts[4] = {false, true, true, true};
    bool clients[3] = {true, true, true}; // (a), (b), (c)
    QString address;                      // empty: the first free 127.0.0.N from 80 on
    // A child measuring resident memory.
    QString rssScene;
    int rssChars = kRssChars;
};

std::optional<Options> parseOptions(const QStringList& args) {
    Options options;
    for (int i = 1; i < args.size(); ++i) {
        const QString& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        const QString value = hasValue ? args[i + 1] : QString();
        bool ok = hasValue;
        if (arg == QLatin1String("--sizes") && hasValue) {
            options.sizes.clear();
            for (const QString& size : value.split(QLatin1Char(','))) {
                bool sizeOk = false;
                options.sizes.push_back(size.toInt(&sizeOk));
                ok = ok && sizeOk && options.sizes.back() > 0;
            }
        } else if (arg == QLatin1String("--keys") && hasValue) {
            options.keys = value.toInt(&ok);
            ok = ok && options.keys >= 3;
        } else if (arg == QLatin1String("--latency-keys") && hasValue) {
            options.latencyKeys = value.toInt(&ok);
            ok = ok && options.latencyKeys >= 3;
        } else if (arg == QLatin1String("--parts") && hasValue) {
            std::fill(std::begin(options.parts), std::end(options.parts), false);
            for (const QString& part : value.split(QLatin1Char(','))) {
                const int n = part.toInt();
                ok = ok && n >= 1 && n <= 3;
                if (ok)
                    options.parts[n] = true;
            }
        } else if (arg == QLatin1String("--clients") && hasValue) {
            std::fill(std::begin(options.clients), std::end(options.clients), false);
            for (const QString& client : value.split(QLatin1Char(','))) {
                const int n = client.size() == 1 ? client.at(0).unicode() - 'a' : -1;
                ok = ok && n >= 0 && n <= 2;
                if (ok)
                    options.clients[n] = true;
            }
        } else if (arg == QLatin1String("--address") && hasValue) {
            options.address = value;
        } else if (arg == QLatin1String("--rss") && i + 2 < args.size()) {
            options.rssScene = value;
            options.rssChars = args[i + 2].toInt(&ok);
            ok = ok && (value == QLatin1String("bare") || value == QLatin1String("tavrin"));
            ++i;
        } else {
            ok = false;
        }
        if (!ok) {
            std::fprintf(stderr, "bench_sync: bad option %s\n", qPrintable(arg));
            return std::nullopt;
        }
        ++i;
    }
    return options;
}

bool startPhone(NoteServer& server, const QString& address) {
    // Megabytes per push: served, never kept.
    server.setRecordingRequests(false);
    if (!address.isEmpty())
        return server.start(address, 8080);
    for (int n = 80; n < 100; ++n) {
        if (server.start(QStringLiteral("127.0.0.%1").arg(n), 8080))
            return true;
    }
    return false;
}

struct Memory {
    long rssKb = -1;
    long peakKb = -1;
    int history = -1;
};

Memory ownMemory() {
    Memory memory;
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return memory;
    for (const QByteArray& line : status.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 2)
            continue;
        if (fields[0] == "VmRSS:")
            memory.rssKb = fields[1].toLong();
        else if (fields[0] == "VmHWM:")
            memory.peakKb = fields[1].toLong();
    }
    return memory;
}

// The child: one scene, kRssKeys keys at the end of the note, the event loop run a while
// (timers, the journal, answers), then its own resident memory on stdout.
int measureOwnMemory(const Options& options) {
    std::unique_ptr<Scene> scene;
    int history = -1;
    if (options.rssScene == QLatin1String("bare")) {
        auto bare = std::make_unique<BenchScene>(QStringLiteral("bare_typing.qml"),
                                                 mixedNote(options.rssChars), QString(), true);
        if (bare->isReady())
            scene = std::move(bare);
    } else {
        auto tavrinScene = std::make_unique<TavrinScene>(options.address, options.rssChars, true);
        if (tavrinScene->isReady())
            scene = std::move(tavrinScene);
    }
    if (!scene) {
        std::fprintf(stderr, "bench_sync: the %s scene did not load\n",
                     qPrintable(options.rssScene));
        return 1;
    }
    putCursorAtEnd(scene->textEdit());
    scene->quiet();
    // Back to back: at 1 M a frame takes seconds here, and painting between the keys would
    // change nothing of what is held at the end (the note, its frame, the history).
    for (int i = 0; i < kRssKeys; ++i)
        sendKey(scene->window(), i);
    // Past the journal's second; everything sent and painted.
    runEventLoopUntil(Clock::now() + std::chrono::milliseconds(1500));
    scene->quiet();
    // What the note holds once typing has stopped: two still seconds more.
    runEventLoopUntil(Clock::now() + std::chrono::milliseconds(2000));
    if (auto* tavrinScene = dynamic_cast<TavrinScene*>(scene.get()))
        history = tavrinScene->historySize();
    const Memory memory = ownMemory();
    std::printf("rss_kb %ld\npeak_kb %ld\nhistory %d\nlength %d\n", memory.rssKb, memory.peakKb,
                history, scene->length());
    return 0;
}

Memory childMemory(const QString& sceneName, int chars, const QString& address) {
    Memory memory;
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--rss"), sceneName, QString::number(chars),
                 QStringLiteral("--address"), address});
    if (!child.waitForFinished(300000) || child.exitCode() != 0)
        return memory;
    for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 2)
            continue;
        if (fields[0] == "rss_kb")
            memory.rssKb = fields[1].toLong();
        else if (fields[0] == "peak_kb")
            memory.peakKb = fields[1].toLong();
        else if (fields[0] == "history")
            memory.history = fields[1].toInt();
    }
    return memory;
}

// The verdicts, counted for the last line.
struct Verdicts {
    int met = 0;
    int missed = 0;
    const char* operator()(bool ok) {
        ++(ok ? met : missed);
        return ok ? "met" : "MISSED";
    }
};

QString ms(double value, int decimals = 3) {
    return std::isnan(value) ? QStringLiteral("-") : QString::number(value, 'f', decimals);
}

struct SizeRun {
    int size = 0;
    double bareFrameMs = NAN; // a key and the frame after it in the bare editor
    bool painted = true;
    double cpu[3] = {NAN, NAN, NAN}; // (a), (b), (c)
    Paced bare;
    Paced oneRequest[2]; // at once, after kAnswerDelayMs
    Paced tavrin[2];
};

void printTypingTable(const std::vector<SizeRun>& runs, int keys, Verdicts& verdict) {
    std::printf("\n1. Per-keystroke main-thread CPU time of the change handling, ms "
                "(median of %d keys typed at the end of the note; key events sent to the window)\n",
                keys);
    std::printf("%9s %10s %10s %11s %9s %7s %7s   %-22s\n", "chars", "(a) bare", "(b) 1-req",
                "(c) Tavrin", "c - a", "c/a", "c/b", "target: c - a");
    for (const SizeRun& run : runs) {
        const double a = run.cpu[0], b = run.cpu[1], c = run.cpu[2];
        QString target = QStringLiteral("-");
        if (run.size == 100000 || run.size == 1000000) {
            const double limit = run.size == 100000 ? 1.0 : 10.0;
            target = QStringLiteral("<= %1 ms: %2")
                         .arg(limit)
                         .arg(QLatin1String(std::isnan(c - a) ? verdict(false)
                                                              : verdict(c - a <= limit)));
        }
        std::printf("%9d %10s %10s %11s %9s %7s %7s   %s\n", run.size, qPrintable(ms(a)),
                    qPrintable(ms(b)), qPrintable(ms(c)), qPrintable(ms(c - a)),
                    qPrintable(ms(c / a, 2)), qPrintable(ms(c / b, 2)), qPrintable(target));
    }
}

void printLatencyTable(const std::vector<SizeRun>& runs, int keys, const Arrivals& arrivals,
                       Verdicts& verdict) {
    std::printf("\n2. Keystroke-to-phone latency, ms: from the moment a key is due to the arrival "
                "at the phone\n   (its whole body read, before any answer delay) of the first "
                "content push holding it;\n   one key every %d ms, %d keys; CPU/key: the main "
                "thread's CPU over the run per key (painting,\n   answers, heartbeats included); "
                "queued: p95 of how late a key was delivered (main thread busy)\n",
                kKeyIntervalMs, keys);
    std::printf("%9s %7s %-11s %8s %8s %8s %8s %8s %8s   %s\n", "chars", "answer", "client", "p50",
                "p95", "max", "arrived", "CPU/key", "queued", "target");
    for (const SizeRun& run : runs) {
        if (run.bare.ran)
            std::printf("%9d %7s %-11s %8s %8s %8s %8s %8s %8s   -\n", run.size, "-", "(a) bare",
                        "-", "-", "-", "-", qPrintable(ms(run.bare.cpuPerKeyMs, 2)),
                        qPrintable(ms(run.bare.queuedP95Ms, 2)));
        for (int d = 0; d < 2; ++d) {
            const QString answer =
                d == 0 ? QStringLiteral("at once") : QStringLiteral("%1 ms").arg(kAnswerDelayMs);
            const Paced& b = run.oneRequest[d];
            const Paced& c = run.tavrin[d];
            for (const Paced* paced : {&b, &c}) {
                if (!paced->ran)
                    continue;
                QString target = QStringLiteral("-");
                if (paced == &c) {
                    QStringList verdicts;
                    const bool allArrived = c.arrived == c.keys;
                    if (run.size == 1000 || run.size == 100000) {
                        const double limit = run.size == 1000 ? 5.0 : 10.0;
                        verdicts << QStringLiteral("p50 < %1 ms: %2")
                                        .arg(limit)
                                        .arg(QLatin1String(verdict(allArrived && c.p50 < limit)));
                    }
                    if (b.ran) {
                        const bool notWorse = allArrived && (b.arrived < b.keys ||
                                                             (c.p50 <= b.p50 && c.p95 <= b.p95));
                        verdicts << QStringLiteral("p50, p95 <= (b): %1")
                                        .arg(QLatin1String(verdict(notWorse)));
                    }
                    target = verdicts.join(QStringLiteral("; "));
                }
                std::printf("%9d %7s %-11s %8s %8s %8s %5d/%-2d %8s %8s   %s\n", run.size,
                            qPrintable(answer), paced == &b ? "(b) 1-req" : "(c) Tavrin",
                            qPrintable(ms(paced->p50, 2)), qPrintable(ms(paced->p95, 2)),
                            qPrintable(ms(paced->max, 2)), paced->arrived, paced->keys,
                            qPrintable(ms(paced->cpuPerKeyMs, 2)),
                            qPrintable(ms(paced->queuedP95Ms, 2)), qPrintable(target));
            }
        }
    }
    std::printf("   the phone's sockets with TCP_NODELAY: %d of %d looked at while serving\n",
                arrivals.socketsWithNoDelay(), arrivals.socketsChecked());
    std::printf(
        "   windows painted while typing (parts 1, 2), by the main-thread CPU of one key and "
        "the frame after it\n   in the bare editor (where it exceeds %.0f ms, no window "
        "paints: keys every %d ms would only\n   measure the painter's backlog):\n",
        kMaxPaintedFrameMs, kKeyIntervalMs);
    for (const SizeRun& run : runs)
        std::printf("%9d %s (%s ms)\n", run.size, run.painted ? "painted" : "NOT painted",
                    qPrintable(ms(run.bareFrameMs, 1)));
}

void printMemory(const Memory& bare, const Memory& tavrin, Verdicts& verdict) {
    std::printf("\n3. Resident memory after %d keystrokes at the end of a %d-character note, each "
                "in a fresh process\n   (VmRSS once all is sent and painted and two seconds have "
                "passed; VmHWM the peak), MiB\n",
                kRssKeys, kRssChars);
    const auto mib = [](long kb) { return kb < 0 ? QStringLiteral("-") : ms(kb / 1024.0, 1); };
    std::printf("   (a) bare     %8s   (peak %s)\n", qPrintable(mib(bare.rssKb)),
                qPrintable(mib(bare.peakKb)));
    std::printf("   (c) Tavrin   %8s   (peak %s; history of %d entries)\n",
                qPrintable(mib(tavrin.rssKb)), qPrintable(mib(tavrin.peakKb)), tavrin.history);
    const bool measured = bare.rssKb > 0 && tavrin.rssKb > 0;
    const double ratio = measured ? double(tavrin.rssKb) / bare.rssKb : NAN;
    std::printf("   c/a          %8s   target <= %.2f: %s\n", qPrintable(ms(ratio, 2)), kRssTarget,
                verdict(measured && ratio <= kRssTarget));
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QUICK_BACKEND", "software");
    QApplication app(argc, argv);
    initSceneTestProcess();
    const std::optional<Options> parsed = parseOptions(QCoreApplication::arguments());
    if (!parsed)
        return 2;
    const Options& options = *parsed;
    if (!options.rssScene.isEmpty())
        return measureOwnMemory(options);

    QElapsedTimer wall;
    wall.start();
    NoteServer server;
    if (!startPhone(server, options.address)) {
        std::fprintf(stderr, "bench_sync: no free 127.0.0.N:8080 for the phone\n");
        return 1;
    }
    const QString address = server.host();
    Arrivals arrivals(server);
    std::printf("Typing and sync benchmark: notes of mixed CJK and ASCII lines; the phone is the "
                "simulator's NoteServer\non %s:8080 in this process, over real HTTP. (a) bare "
                "TextEdit, (b) one request per keystroke\n(QML XMLHttpRequest), (c) Tavrin's scene "
                "(its HttpTransport).\n",
                qPrintable(address));
    std::fflush(stdout);

    std::vector<SizeRun> runs;
    for (const int size : options.sizes) {
        SizeRun run;
        run.size = size;
        const QString note = mixedNote(size);
        std::fprintf(stderr, "[%6.1f s] %d characters\n", wall.elapsed() / 1e3, size);
        if (options.clients[0]) {
            BenchScene bare(QStringLiteral("bare_typing.qml"), note, QString(), true);
            if (bare.isReady()) {
                // Software rendering repaints a long note slowly (seconds a frame at 1 M).
                run.bareFrameMs = keyAndFrameCpuMs(bare);
                run.painted = !(run.bareFrameMs > kMaxPaintedFrameMs);
                if (!run.painted)
                    bare.hide();
                if (options.parts[1])
                    run.cpu[0] = perKeyCpuMs(bare, options.keys);
                if (options.parts[2])
                    run.bare = pacedRun(bare, nullptr, nullptr, options.latencyKeys, 0);
            }
        }
        server.openNote(kNoteId, note);
        if (options.clients[1]) {
            BenchScene oneRequest(QStringLiteral("one_request_typing.qml"), note, address,
                                  run.painted);
            if (oneRequest.isReady()) {
                if (options.parts[1])
                    run.cpu[1] = perKeyCpuMs(oneRequest, options.keys);
                if (options.parts[2]) {
                    run.oneRequest[0] =
                        pacedRun(oneRequest, &server, &arrivals, options.latencyKeys, 0);
                    run.oneRequest[1] = pacedRun(oneRequest, &server, &arrivals,
                                                 options.latencyKeys, kAnswerDelayMs);
                }
            } else {
                std::fprintf(stderr, "bench_sync: the one-request scene did not load\n");
            }
        }
        server.openNote(kNoteId, note);
        if (options.clients[2]) {
            TavrinScene tavrin(address, size, run.painted);
            if (tavrin.isReady()) {
                if (options.parts[1])
                    run.cpu[2] = perKeyCpuMs(tavrin, options.keys);
                if (options.parts[2]) {
                    run.tavrin[0] = pacedRun(tavrin, &server, &arrivals, options.latencyKeys, 0);
                    run.tavrin[1] =
                        pacedRun(tavrin, &server, &arrivals, options.latencyKeys, kAnswerDelayMs);
                }
            } else {
                std::fprintf(stderr, "bench_sync: Tavrin did not load the note\n");
            }
        }
        runs.push_back(run);
    }

    Memory bareMemory, tavrinMemory;
    if (options.parts[3]) {
        std::fprintf(stderr, "[%6.1f s] memory\n", wall.elapsed() / 1e3);
        bareMemory = childMemory(QStringLiteral("bare"), kRssChars, address);
        server.openNote(kNoteId, mixedNote(kRssChars));
        tavrinMemory = childMemory(QStringLiteral("tavrin"), kRssChars, address);
    }
    server.stop();

    Verdicts verdict;
    if (options.parts[1])
        printTypingTable(runs, options.keys, verdict);
    if (options.parts[2])
        printLatencyTable(runs, options.latencyKeys, arrivals, verdict);
    if (options.parts[3])
        printMemory(bareMemory, tavrinMemory, verdict);
    std::printf("\ntargets met: %d of %d; the whole run took %.0f s\n", verdict.met,
                verdict.met + verdict.missed, wall.elapsed() / 1e3);
    return 0;
}
