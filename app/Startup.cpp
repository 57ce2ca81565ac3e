// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Startup.h"

#include "app/AddressValidator.h"
#include "app/CommandLine.h"
#include "app/Logging.h"
#include "app/NoteDocument.h"
#include "app/SceneNetwork.h"
#include "app/SettingsStore.h"
#include "app/Shortcuts.h"
#include "app/StartOptions.h"
#include "app/TextTools.h"
#include "app/Translations.h"
#include "link/PhoneLink.h"
#include "state/Attrs.h"
#include "state/Version.h"
#include "tools/History.h"
#include "update/UpdateChecker.h"

#include <QApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQmlEngine>
#include <QTextStream>
#include <cstdio>

// On by default, like qDebug: the key-name lines are the program's own output.
Q_LOGGING_CATEGORY(lcUi, "tavrin.ui")
Q_LOGGING_CATEGORY(lcStartup, "tavrin.startup", QtInfoMsg)

namespace tavrin {

namespace {

void setIdentity() {
    QCoreApplication::setOrganizationName(QStringLiteral("Tavrin"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("tavrin.example"));
    QCoreApplication::setApplicationVersion(QLatin1String(kVersionName));
}

// Prints what the command line asked for; the process exit code, or -1 to go on.
int answerCommandLine(const CommandLine& line) {
    switch (line.action) {
    case CommandLine::Action::Run:
        return -1;
    case CommandLine::Action::ShowHelp:
    case CommandLine::Action::ShowVersion:
        QTextStream(stdout) << line.output;
        return EXIT_SUCCESS;
    case CommandLine::Action::Fail:
        QTextStream(stderr) << line.output;
        return EXIT_FAILURE;
    }
    return -1;
}

} // namespace

QUrl sceneUrl() {
    return QUrl(QStringLiteral("qrc:/main.qml"));
}

void registerQmlTypes() {
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    const char* uri = "Tavrin";
    qmlRegisterType<Attrs>(uri, 1, 0, "Attrs");
    qmlRegisterType<PhoneLink>(uri, 1, 0, "PhoneLink");
    qmlRegisterType<UpdateChecker>(uri, 1, 0, "UpdateChecker");
    qmlRegisterUncreatableType<History>(uri, 1, 0, "History",
                                        QStringLiteral("The history belongs to attrs"));
    qmlRegisterType<AddressValidator>(uri, 1, 0, "AddressValidator");
    qmlRegisterType<NoteDocument>(uri, 1, 0, "NoteDocument");
    qmlRegisterUncreatableType<NoteSync>(uri, 1, 0, "NoteSync",
                                         QStringLiteral("The note sync belongs to the link"));
    qmlRegisterType<SettingsStore>(uri, 1, 0, "SettingsStore");
    qmlRegisterUncreatableMetaObject(link::staticMetaObject, uri, 1, 0, "LinkState",
                                     QStringLiteral("The link's state is read, not made"));
    qmlRegisterSingletonType<TextTools>(
        uri, 1, 0, "TextTools", [](QQmlEngine*, QJSEngine*) -> QObject* { return new TextTools; });
    qmlRegisterSingletonType<Shortcuts>(
        uri, 1, 0, "Shortcuts", [](QQmlEngine*, QJSEngine*) -> QObject* { return new Shortcuts; });
    qmlRegisterSingletonType<StartOptions>(
        uri, 1, 0, "StartOptions",
        [](QQmlEngine*, QJSEngine*) -> QObject* { return new StartOptions; });
}

int runApplication(int& argc, char** argv, const QUrl& scene,
                   const std::function<void(QQmlApplicationEngine&)>& afterLoad) {
    // The command line first, before there is a GUI: --help and --version need no display,
    // and nothing shows for a command line that is wrong. Qt's own options (-platform, ...)
    // are still in it, so it is read again once the application object has taken them out.
    {
        QCoreApplication commandLineOnly(argc, argv);
        setIdentity();
        Translations translations;
        translations.install();
        const int exitCode = answerCommandLine(readCommandLine(commandLineOnly.arguments(), false));
        if (exitCode >= 0)
            return exitCode;
    }

    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QApplication app(argc, argv);
    setIdentity();
    QGuiApplication::setDesktopFileName(QStringLiteral(TAVRIN_APP_ID));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/logo.png")));
    Translations translations;
    translations.install();
    const CommandLine line = readCommandLine(app.arguments(), true);
    const int exitCode = answerCommandLine(line);
    if (exitCode >= 0)
        return exitCode;
    StartOptions::setAddress(line.address);
    qCDebug(lcStartup) << "start address" << line.address;

    registerQmlTypes();
    // Outlives the engine, whose loaders fetch through the managers it makes.
    SceneNetworkFactory network;
    QQmlApplicationEngine engine;
    engine.setNetworkAccessManagerFactory(&network);
    translations.bringToFront();
    const QUrl url(scene);
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreated, &app,
        [url](QObject* object, const QUrl& objectUrl) {
            if (!object && url == objectUrl)
                QCoreApplication::exit(-1);
        },
        Qt::QueuedConnection);
    engine.load(url);
    if (afterLoad)
        afterLoad(engine);
    return app.exec();
}

} // namespace tavrin
