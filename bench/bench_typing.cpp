// SPDX-License-Identifier: GPL-3.0-or-later
// Per-keystroke main-thread CPU time of the change handling, driven by real key
// events: (a) a bare TextEdit scene, (c) Tavrin's scene with a note loaded from
// an in-process phone, for notes of mixed CJK and ASCII lines. Run offscreen:
//   QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software bench_typing [keys]

#include "MixedNote.h"
#include "support/FakeTransport.h"
#include "support/SceneFixture.h"

#include "app/Startup.h"
#include "link/PhoneLink.h"
#include "link/PushQueue.h"
#include "link/protocol/Protocol.h"
#include "state/Attrs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

double threadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Types `keys` letters at the end of the note; the time of each key's delivery
// (the change and everything it does synchronously) on the main thread. The
// key events go straight to the window, as the platform delivers them; the
// event loop runs between keys, untimed: painting, the phone's answers.
double perKeyMs(QQuickWindow* window, QObject* textEdit, int keys,
                const std::function<void()>& betweenKeys) {
    QMetaObject::invokeMethod(textEdit, "forceActiveFocus");
    textEdit->setProperty("cursorPosition", textEdit->property("length"));
    std::vector<double> times;
    for (int i = 0; i < keys; ++i) {
        const QString letter(QChar('a' + i % 26));
        const auto key = Qt::Key(Qt::Key_A + i % 26);
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, letter);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, letter);
        const double start = threadCpuMs();
        QCoreApplication::sendEvent(window, &press);
        QCoreApplication::sendEvent(window, &release);
        times.push_back(threadCpuMs() - start);
        betweenKeys();
    }
    return median(times);
}

double bareScene(const QString& note, int keys) {
    QQmlApplicationEngine engine;
    engine.load(QUrl::fromLocalFile(QStringLiteral(TAVRIN_BENCH_DIR "/bare_typing.qml")));
    auto* window = qobject_cast<QQuickWindow*>(engine.rootObjects().value(0));
    if (!window)
        return -1;
    QObject* textEdit = window->findChild<QObject*>(QStringLiteral("textEdit"));
    textEdit->setProperty("text", note);
    window->requestActivate();
    QTest::qWaitForWindowActive(window);
    QCoreApplication::processEvents();
    return perKeyMs(window, textEdit, keys, [] { QCoreApplication::processEvents(); });
}

double tavrinScene(const QString& note, int keys) {
    QTemporaryDir dir;
    SceneFixture scene(dir.path());
    if (!scene.isLoaded())
        return -1;
    // The benchmark types into notes beyond the length the editor takes by default.
    tavrin::link::Timings timings;
    timings.maxNoteChars = note.size();
    scene.link()->setTimings(timings);
    if (!scene.activate() || !scene.openNote(1, note))
        return -1;
    const tavrin::PushQueue* pushes = scene.link()->pushQueue();
    const auto settle = [&] {
        QTest::qWaitFor([&] { return !pushes->isBusy() && pushes->waitingCount() == 0; }, 10000);
        // A phone lets go of what it was sent; the fake would keep every body.
        scene.phone()->clearSent();
    };
    settle();
    return perKeyMs(scene.window(), scene.textEdit(), keys, settle);
}

double contentBodyMs(const QString& note) {
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        const double start = threadCpuMs();
        const auto body = tavrin::protocol::contentBody(1, note);
        times.push_back(threadCpuMs() - start);
        if (!body)
            return -1;
    }
    return median(times);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen"
                                                                     : qgetenv("QT_QPA_PLATFORM"));
    qputenv("QT_QUICK_BACKEND", "software");
    QApplication app(argc, argv);
    initSceneTestProcess();
    const int keys = argc > 1 ? std::max(3, atoi(argv[1])) : 21;

    std::printf("per-keystroke main-thread CPU time, median of %d keys, ms\n", keys);
    std::printf("%10s %10s %10s %10s %10s %8s %16s\n", "chars", "(a) bare", "(b) 1-req",
                "(c) Tavrin", "c - a", "c/a", "push encode");
    // A second argument measures that one size only.
    std::vector<int> sizes{1000, 100000, 1000000};
    if (argc > 2)
        sizes = {std::max(1, atoi(argv[2]))};
    for (const int size : sizes) {
        const QString note = mixedNote(size);
        const double a = bareScene(note, keys);
        const double c = tavrinScene(note, keys);
        const double encode = contentBodyMs(note);
        std::printf("%10d %10.3f %10s %10.3f %10.3f %8.2f %16.3f\n", size, a, "-", c, c - a,
                    a > 0 ? c / a : 0.0, encode);
        std::fflush(stdout);
    }
    std::printf("push encode: protocol::contentBody of the whole note, once per keystroke (in c)\n");
    return 0;
}
