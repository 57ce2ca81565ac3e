// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up as the real program does it, in a child process of this test: a
// scene that cannot be created ends the process with -1 and shows no window;
// closing the window of the real scene ends it with 0; the command line is
// answered before any window (and without a display) or fills the address.

#include "app/CommandLine.h"
#include "app/Startup.h"
#include "link/transport/GuardedNetwork.h"
#include "update/MakerSite.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QTimer>
#include <QWindow>
#include <cstring>
#include <vector>

namespace {

// Child side: `--run-scene SCENE close|stay [-- program arguments]` runs the program on the
// scene with the arguments after "--"; reports the windows shown and the address field.
int runChild(int argc, char** argv) {
    const QUrl scene(QString::fromLocal8Bit(argv[2]));
    const bool closeWhenShown = argc > 3 && std::strcmp(argv[3], "close") == 0;
    std::vector<char*> programArgv{argv[0]};
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            programArgv.insert(programArgv.end(), argv + i + 1, argv + argc);
            break;
        }
    }
    int programArgc = int(programArgv.size());
    programArgv.push_back(nullptr);
    tavrin::maker::setHostForTesting(QStringLiteral("127.0.0.1:9"));
    return tavrin::runApplication(programArgc, programArgv.data(), scene,
                                  [closeWhenShown](QQmlApplicationEngine& engine) {
        // The scene is loaded and the event loop not yet running.
        int visible = 0;
        for (QWindow* window : QGuiApplication::topLevelWindows())
            visible += window->isVisible() ? 1 : 0;
        QTextStream(stdout) << "visible-windows=" << visible << Qt::endl;
        // The scene's own fetches go through the program's guarded managers.
        const bool guarded = qobject_cast<tavrin::transport::GuardedNetworkAccessManager*>(
                                 engine.networkAccessManager()) != nullptr;
        QTextStream(stdout) << "guarded-network=" << (guarded ? 1 : 0) << Qt::endl;
        if (!engine.rootObjects().isEmpty()) {
            if (QObject* field = engine.rootObjects().constFirst()->findChild<QObject*>(
                    QStringLiteral("ipInput")))
                QTextStream(stdout) << "address-field=" << field->property("text").toString()
                                    << Qt::endl;
        }
        if (closeWhenShown) {
            QTimer::singleShot(200, [] {
                for (QWindow* window : QGuiApplication::topLevelWindows())
                    window->close();
            });
        }
    });
}

// How the child runs: its program arguments, its language, and whether it has a display.
struct Child {
    QStringList arguments;
    QString language = QStringLiteral("en");
    bool display = true;
};

} // namespace

class StartupTest : public QObject {
    Q_OBJECT

private:
    struct Outcome {
        int exitCode = -100;
        QString output;
        QString errors;
    };

    Outcome runProgram(const QString& scene, const QString& mode = {}, const Child& how = {}) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // No display at all: a child that made a GUI would fail to connect.
        env.insert(QStringLiteral("QT_QPA_PLATFORM"),
                   how.display ? QStringLiteral("offscreen") : QStringLiteral("xcb"));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config.path());
        env.remove(QStringLiteral("LC_ALL"));
        env.remove(QStringLiteral("LC_MESSAGES"));
        env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
        env.insert(QStringLiteral("LANGUAGE"), how.language);
        child.setProcessEnvironment(env);
        QStringList args{QStringLiteral("--run-scene"), scene};
        args << (mode.isEmpty() ? QStringLiteral("stay") : mode);
        if (!how.arguments.isEmpty())
            args << QStringLiteral("--") << how.arguments;
        child.start(QCoreApplication::applicationFilePath(), args);
        Outcome outcome;
        if (!child.waitForFinished(60000)) {
            child.kill();
            child.waitForFinished();
            return outcome;
        }
        outcome.exitCode = child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -99;
        outcome.output = QString::fromUtf8(child.readAllStandardOutput());
        outcome.errors = QString::fromUtf8(child.readAllStandardError());
        return outcome;
    }

    QTemporaryDir m_config;

private slots:
    void sceneThatCannotBeCreatedExitsMinusOne_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing document") << "missing";
        QTest::newRow("root element fails") << "broken";
    }

    void sceneThatCannotBeCreatedExitsMinusOne() {
        QFETCH(QString, kind);
        QString scene = QStringLiteral("qrc:/does-not-exist.qml");
        QTemporaryDir dir;
        if (kind == QLatin1String("broken")) {
            const QString path = dir.filePath(QStringLiteral("broken.qml"));
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("import QtQuick 2.15\nimport QtQuick.Window 2.15\n"
                       "Window { visible: true; noSuchProperty: 1 }\n");
            file.close();
            scene = QUrl::fromLocalFile(path).toString();
        }
        const Outcome outcome = runProgram(scene);
        // -1 as a process exit status.
        QCOMPARE(outcome.exitCode, 255);
        QVERIFY2(outcome.output.contains(QLatin1String("visible-windows=0")),
                 qPrintable(outcome.output));
    }

    // Answered before any window exists: nothing reaches the scene's hook.
    void commandLineAnsweredWithoutAWindow_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("language");
        QTest::addColumn<bool>("display");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("errors");
        const QString version = QStringLiteral("Tavrin " TAVRIN_VERSION "\n");
        QTest::newRow("--version, no display")
            << QStringList{"--version"} << "en" << false << 0 << version << "";
        QTest::newRow("-v") << QStringList{"-v"} << "en" << false << 0 << version << "";
        QTest::newRow("--version after an option of Qt's")
            << QStringList{"-reverse", "--version"} << "en" << false << 0 << version << "";
        QTest::newRow("--help in English, no display")
            << QStringList{"--help"} << "en" << false << 0
            << "--address <address>  Connect to the phone at this address at start" << "";
        QTest::newRow("--help in Chinese") << QStringList{"-h"} << "zh_CN" << false << 0
                                           << "--address <地址>  启动时连接这个地址的手机" << "";
        QTest::newRow("invalid address, no display")
            << QStringList{"--address", "127.0.0"} << "en" << false << 1 << ""
            << "Not a valid address: 127.0.0\nRun with --help to see the options.\n";
        QTest::newRow("invalid address in Chinese")
            << QStringList{"--address=x"} << "zh_CN" << false << 1 << ""
            << "不是有效的地址：x";
        QTest::newRow("address without value")
            << QStringList{"--address"} << "en" << false << 1 << ""
            << "Missing value after '--address'.";
        // Only once Qt has taken out its own options can an unknown one be told apart.
        QTest::newRow("unknown option") << QStringList{"--bogus"} << "en" << true << 1 << ""
                                        << "Unknown option 'bogus'.";
        QTest::newRow("argument") << QStringList{"notes.txt"} << "en" << true << 1 << ""
                                  << "Unexpected arguments: notes.txt";
    }

    void commandLineAnsweredWithoutAWindow() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, language);
        QFETCH(bool, display);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QFETCH(QString, errors);
        Child how{arguments, language, display};
        const Outcome outcome = runProgram(QStringLiteral("qrc:/main.qml"), {}, how);
        QVERIFY2(!outcome.output.contains(QLatin1String("visible-windows")),
                 qPrintable(outcome.output));
        QVERIFY2(outcome.output.contains(output), qPrintable(outcome.output));
        QVERIFY2(outcome.errors.contains(errors), qPrintable(outcome.errors));
        QVERIFY2(output.isEmpty() || outcome.errors.isEmpty(), qPrintable(outcome.errors));
        QCOMPARE(outcome.exitCode, exitCode);
    }

    void addressOptionIsEntered() {
        Child how{{QStringLiteral("--address"), QStringLiteral("127.0.12.60")}};
        const Outcome outcome =
            runProgram(QStringLiteral("qrc:/main.qml"), QStringLiteral("close"), how);
        QVERIFY2(outcome.output.contains(QLatin1String("visible-windows=1")),
                 qPrintable(outcome.output));
        QVERIFY2(outcome.output.contains(QLatin1String("address-field=127.0.12.60\n")),
                 qPrintable(outcome.output));
        QCOMPARE(outcome.exitCode, 0);
    }

    // Qt's own options pass the first reading and are taken by the application object.
    void qtOptionsReachQt() {
        Child how{{QStringLiteral("-platform"), QStringLiteral("offscreen")}};
        how.display = false;
        const Outcome outcome =
            runProgram(QStringLiteral("qrc:/main.qml"), QStringLiteral("close"), how);
        QVERIFY2(outcome.output.contains(QLatin1String("visible-windows=1")),
                 qPrintable(outcome.output + outcome.errors));
        QCOMPARE(outcome.exitCode, 0);
    }

    void readCommandLine_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("strict");
        QTest::addColumn<int>("action");
        QTest::addColumn<QString>("address");
        using Action = tavrin::CommandLine::Action;
        const int run = int(Action::Run), help = int(Action::ShowHelp),
                  version = int(Action::ShowVersion), fail = int(Action::Fail);
        QTest::newRow("nothing") << QStringList{} << true << run << "";
        QTest::newRow("--address") << QStringList{"--address", "127.0.0.1"} << true << run
                                   << "127.0.0.1";
        QTest::newRow("--address=") << QStringList{"--address=127.0.0.1"} << true << run
                                    << "127.0.0.1";
        QTest::newRow("-address, like Qt's options") << QStringList{"-address", "127.0.0.1"}
                                                     << true << run << "127.0.0.1";
        // Checked as if typed: the whole text must be the address.
        QTest::newRow("spaces around") << QStringList{"--address", " 127.0.0.1 "} << true << fail
                                       << "";
        QTest::newRow("with a port") << QStringList{"--address", "127.0.0.1:8081"} << true << fail
                                     << "";
        QTest::newRow("invalid address") << QStringList{"--address", "127.0.0"} << true << fail
                                         << "";
        QTest::newRow("invalid address before the GUI")
            << QStringList{"--address", "127.0.0"} << false << fail << "";
        QTest::newRow("missing value before the GUI") << QStringList{"--address"} << false << fail
                                                      << "";
        QTest::newRow("--help") << QStringList{"--help"} << true << help << "";
        QTest::newRow("-h") << QStringList{"-h"} << false << help << "";
        QTest::newRow("--version") << QStringList{"--version"} << false << version << "";
        QTest::newRow("help comes first") << QStringList{"--version", "--help"} << false << help
                                          << "";
        QTest::newRow("-reverse is Qt's, not -v") << QStringList{"-reverse"} << false << run << "";
        QTest::newRow("Qt's options before the GUI")
            << QStringList{"-platform", "xcb", "--address", "127.0.0.2"} << false << run
            << "127.0.0.2";
        QTest::newRow("unknown option once Qt took its own") << QStringList{"--bogus"} << true
                                                             << fail << "";
        QTest::newRow("unknown option before the GUI") << QStringList{"--bogus"} << false << run
                                                       << "";
        QTest::newRow("--version despite an unknown option")
            << QStringList{"--bogus", "--version"} << false << version << "";
        QTest::newRow("argument") << QStringList{"notes.txt"} << true << fail << "";
    }

    void readCommandLine() {
        QFETCH(QStringList, arguments);
        QFETCH(bool, strict);
        QFETCH(int, action);
        QFETCH(QString, address);
        arguments.prepend(QStringLiteral("tavrin"));
        const tavrin::CommandLine line = tavrin::readCommandLine(arguments, strict);
        QCOMPARE(int(line.action), action);
        QCOMPARE(line.address, address);
        // Whatever is printed says something; a failure names what was wrong.
        QCOMPARE(line.output.isEmpty(), line.action == tavrin::CommandLine::Action::Run);
        if (arguments.size() > 2 && line.action == tavrin::CommandLine::Action::Fail &&
            arguments.contains(QStringLiteral("127.0.0")))
            QVERIFY2(line.output.contains(QLatin1String("127.0.0")), qPrintable(line.output));
    }

    void closingTheWindowExitsZero() {
        const Outcome outcome =
            runProgram(QStringLiteral("qrc:/main.qml"), QStringLiteral("close"));
        QVERIFY2(outcome.output.contains(QLatin1String("visible-windows=1")),
                 qPrintable(outcome.output));
        QVERIFY2(outcome.output.contains(QLatin1String("guarded-network=1")),
                 qPrintable(outcome.output));
        QCOMPARE(outcome.exitCode, 0);
    }
};

int main(int argc, char** argv) {
    if (argc > 2 && std::strcmp(argv[1], "--run-scene") == 0)
        return runChild(argc, argv);
    QCoreApplication app(argc, argv);
    StartupTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_startup.moc"
