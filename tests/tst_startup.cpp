// Start-up as the real program does it, in a child process of this test: a
// scene that cannot be created ends the process with -1 and shows no window;
// closing the window of the real scene ends it with 0.

#include "app/Startup.h"
#include "link/transport/GuardedNetwork.h"
#include "update/MakerSite.h"

#include <QGuiApplication>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QTimer>
#include <QWindow>
#include <cstring>

namespace {

// Child side: run the program on the given scene; report the windows shown.
int runChild(int argc, char** argv) {
    const QUrl scene(QString::fromLocal8Bit(argv[2]));
    const bool closeWhenShown = argc > 3 && std::strcmp(argv[3], "close") == 0;
    tavrin::maker::setHostForTesting(QStringLiteral("127.0.0.1:9"));
    int childArgc = 1;
    return tavrin::runApplication(childArgc, argv, scene, [closeWhenShown](QQmlApplicationEngine& engine) {
        // The scene is loaded and the event loop not yet running.
        int visible = 0;
        for (QWindow* window : QGuiApplication::topLevelWindows())
            visible += window->isVisible() ? 1 : 0;
        QTextStream(stdout) << "visible-windows=" << visible << Qt::endl;
        // The scene's own fetches go through the program's guarded managers.
        const bool guarded = qobject_cast<tavrin::transport::GuardedNetworkAccessManager*>(
                                 engine.networkAccessManager()) != nullptr;
        QTextStream(stdout) << "guarded-network=" << (guarded ? 1 : 0) << Qt::endl;
        if (closeWhenShown) {
            QTimer::singleShot(200, [] {
                for (QWindow* window : QGuiApplication::topLevelWindows())
                    window->close();
            });
        }
    });
}

} // namespace

class StartupTest : public QObject {
    Q_OBJECT

private:
    struct Outcome {
        int exitCode = -100;
        QString output;
    };

    Outcome runProgram(const QString& scene, const QString& mode = {}) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config.path());
        child.setProcessEnvironment(env);
        QStringList args{QStringLiteral("--run-scene"), scene};
        if (!mode.isEmpty())
            args << mode;
        child.start(QCoreApplication::applicationFilePath(), args);
        Outcome outcome;
        if (!child.waitForFinished(60000)) {
            child.kill();
            child.waitForFinished();
            return outcome;
        }
        outcome.exitCode = child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -99;
        outcome.output = QString::fromLocal8Bit(child.readAllStandardOutput());
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
