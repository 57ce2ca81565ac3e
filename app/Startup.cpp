#include "app/Startup.h"

#include "link/PhoneLink.h"
#include "state/Attrs.h"
#include "tools/History.h"
#include "tools/TextTools.h"
#include "update/UpdateChecker.h"

#include <QApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQmlEngine>

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
    qmlRegisterSingletonType<TextTools>(
        uri, 1, 0, "TextTools", [](QQmlEngine*, QJSEngine*) -> QObject* { return new TextTools; });
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
    QQmlApplicationEngine engine;
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
