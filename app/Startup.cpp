#include "app/Startup.h"

#include "app/AddressValidator.h"
#include "app/Logging.h"
#include "app/NoteDocument.h"
#include "app/SceneNetwork.h"
#include "app/SettingsStore.h"
#include "app/Shortcuts.h"
#include "app/TextTools.h"
#include "link/PhoneLink.h"
#include "state/Attrs.h"
#include "tools/History.h"
#include "update/UpdateChecker.h"

#include <QApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQmlEngine>

// On by default, like qDebug: the key-name lines are the program's own output.
Q_LOGGING_CATEGORY(lcUi, "tavrin.ui")

namespace tavrin {

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
}

int runApplication(int& argc, char** argv, const QUrl& scene,
                   const std::function<void(QQmlApplicationEngine&)>& afterLoad) {
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Tavrin"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("tavrin.example"));
    QGuiApplication::setDesktopFileName(QStringLiteral(TAVRIN_APP_ID));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/logo.png")));

    registerQmlTypes();
    // Outlives the engine, whose loaders fetch through the managers it makes.
    SceneNetworkFactory network;
    QQmlApplicationEngine engine;
    engine.setNetworkAccessManagerFactory(&network);
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
