// SPDX-License-Identifier: GPL-3.0-or-later
// CPU time of the whole process while nobody types: a long note in (a) the
// bare TextEdit scene and (c) Tavrin's scene, whose phone answers a heartbeat
// every second; with the editor focused (its cursor blinks) and with another
// window focused. Also the frames drawn. Offscreen by default; set
// QT_QPA_PLATFORM=xcb (under Xvfb, say) to see a real window's render loop.
//   bench_idle [seconds per case] [note size]

#include "MixedNote.h"
#include "support/FakeTransport.h"
#include "support/SceneFixture.h"

#include "link/LinkState.h"
#include "link/PhoneLink.h"
#include "link/PushQueue.h"

#include <QApplication>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <sys/resource.h>

namespace {

double processCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

struct Idle {
    double cpuMsPerSecond = -1;
    int frames = 0;
};

// Gives the keys to the editor, or to another window; lets that settle, then
// measures `seconds` of idling.
Idle idle(QQuickWindow* window, QObject* textEdit, bool focused, int seconds) {
    QWindow other;
    if (focused) {
        window->requestActivate();
        QTest::qWaitForWindowActive(window);
        QMetaObject::invokeMethod(textEdit, "forceActiveFocus");
    } else {
        other.show();
        other.requestActivate();
        QTest::qWaitForWindowActive(&other);
    }
    QTest::qWait(1500);
    Idle result;
    const auto connection =
        QObject::connect(window, &QQuickWindow::frameSwapped, [&] { ++result.frames; });
    const double start = processCpuMs();
    QTest::qWait(seconds * 1000);
    result.cpuMsPerSecond = (processCpuMs() - start) / seconds;
    QObject::disconnect(connection);
    return result;
}

Idle bareScene(const QString& note, bool focused, int seconds) {
    QQmlApplicationEngine engine;
    engine.load(QUrl::fromLocalFile(QStringLiteral(TAVRIN_BENCH_DIR "/bare_typing.qml")));
    auto* window = qobject_cast<QQuickWindow*>(engine.rootObjects().value(0));
    if (!window)
        return {};
    QObject* textEdit = window->findChild<QObject*>(QStringLiteral("textEdit"));
    textEdit->setProperty("text", note);
    return idle(window, textEdit, focused, seconds);
}

Idle tavrinScene(const QString& note, bool focused, int seconds) {
    QTemporaryDir dir;
    SceneFixture scene(dir.path());
    if (!scene.isLoaded())
        return {};
    tavrin::link::Timings timings; // the real heartbeat, once a second
    timings.maxNoteChars = note.size();
    scene.link()->setTimings(timings);
    if (!scene.activate() || !scene.openNote(1, note))
        return {};
    const tavrin::PushQueue* pushes = scene.link()->pushQueue();
    QTest::qWaitFor([&] { return !pushes->isBusy() && pushes->waitingCount() == 0; }, 10000);
    return idle(scene.window(), scene.textEdit(), focused, seconds);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND") &&
        qgetenv("QT_QPA_PLATFORM") == "offscreen")
        qputenv("QT_QUICK_BACKEND", "software");
    QApplication app(argc, argv);
    initSceneTestProcess();
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    const int size = argc > 2 ? std::max(1, atoi(argv[2])) : 1000000;
    const QString note = mixedNote(size);

    std::printf("idle CPU of the process with a %d-character note, %d s per case (%s)\n", size,
                seconds, qgetenv("QT_QPA_PLATFORM").constData());
    std::printf("%-22s %14s %14s %10s %8s\n", "keys with", "(a) bare ms/s", "(c) Tavrin ms/s",
                "c/a", "frames a/c");
    for (const bool focused : {false, true}) {
        const Idle a = bareScene(note, focused, seconds);
        const Idle c = tavrinScene(note, focused, seconds);
        std::printf("%-22s %14.1f %14.1f %10.2f %4d/%d\n",
                    focused ? "the editor (blinks)" : "another window", a.cpuMsPerSecond,
                    c.cpuMsPerSecond, a.cpuMsPerSecond > 0 ? c.cpuMsPerSecond / a.cpuMsPerSecond : 0.0,
                    a.frames, c.frames);
        std::fflush(stdout);
    }
    std::printf("target: Tavrin's idle CPU at most 1.1 times the bare editor's\n");
    return 0;
}
