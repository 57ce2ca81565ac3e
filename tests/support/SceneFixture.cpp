// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/SceneFixture.h"

#include "app/SceneNetwork.h"
#include "support/FakeTransport.h"

#include "app/Startup.h"
#include "app/Translations.h"
#include "link/PhoneLink.h"
#include "state/Attrs.h"
#include "tools/History.h"
#include "update/MakerSite.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QQmlNetworkAccessManagerFactory>
#include <QSettings>
#include <QTest>

namespace {

// Anything the scene fetches on its own (the logo, background pictures, fonts
// from half-typed addresses) stays on loopback: other hosts are sent to a
// closed loopback port instead. Otherwise the program's own policy holds (no
// redirects, deadlines, size limits).
class LoopbackOnlyNetwork : public tavrin::transport::GuardedNetworkAccessManager {
public:
    explicit LoopbackOnlyNetwork(QObject* parent)
        : GuardedNetworkAccessManager(&tavrin::sceneLimitsFor, parent) {}

protected:
    QNetworkReply* createRequest(Operation op, const QNetworkRequest& request,
                                 QIODevice* outgoingData) override
    {
        const QHostAddress host(request.url().host());
        if (request.url().scheme() == QLatin1String("qrc") || host.isLoopback())
            return GuardedNetworkAccessManager::createRequest(op, request, outgoingData);
        QNetworkRequest redirected(request);
        redirected.setUrl(QUrl(QStringLiteral("http://127.0.0.1:9/blocked")));
        return GuardedNetworkAccessManager::createRequest(op, redirected, outgoingData);
    }
};

class LoopbackOnlyFactory : public QQmlNetworkAccessManagerFactory {
public:
    QNetworkAccessManager* create(QObject* parent) override
    {
        return new LoopbackOnlyNetwork(parent);
    }
};

} // namespace

void initSceneTestProcess()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Tavrin"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("tavrin.example"));
    tavrin::registerQmlTypes();
    tavrin::maker::setHostForTesting(QStringLiteral("127.0.0.1:9"));
    // The update check as built by default, also in a build configured without it
    // (tests of that build's behaviour turn it off).
    tavrin::maker::setContactedForTesting(true);
    // The scene's texts as written, whatever the machine's languages.
    setSceneTestLocale(QLocale(QLocale::Chinese, QLocale::China));
}

namespace {

tavrin::Translations& sceneTranslations()
{
    static tavrin::Translations translations;
    return translations;
}

} // namespace

tavrin::LanguageChoice setSceneTestLocale(const QLocale& locale)
{
    QLocale::setDefault(locale);
    return sceneTranslations().install(locale);
}

SceneFixture::SceneFixture(const QString& settingsDir)
    : m_engine(std::make_unique<QQmlApplicationEngine>())
{
    // The journal of unconfirmed edits (the data location) is the test's own too.
    qputenv("XDG_DATA_HOME", QFile::encodeName(settingsDir));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir);
    // As at start-up: ours in front of the Qt translation that the engine installed.
    sceneTranslations().bringToFront();
    static LoopbackOnlyFactory factory;
    m_engine->setNetworkAccessManagerFactory(&factory);
    m_engine->load(tavrin::sceneUrl());
    if (!m_engine->rootObjects().isEmpty())
        m_window = qobject_cast<QQuickWindow*>(m_engine->rootObjects().constFirst());
    // A quick heartbeat: tests that wait for the phone wait a tenth as long.
    if (tavrin::PhoneLink* phoneLink = link()) {
        tavrin::link::Timings quick;
        quick.heartbeatIntervalMs = 100;
        quick.heartbeatTimeoutMs = 1000;
        phoneLink->setTimings(quick);
    }
}

SceneFixture::~SceneFixture()
{
    close();
}

bool SceneFixture::openNote(const QJsonValue& id, const QString& content)
{
    if (!m_phone)
        m_phone = std::make_unique<FakeTransport>();
    const QByteArray heartbeat =
        QJsonDocument(QJsonObject{{"editingNoteId", id}}).toJson(QJsonDocument::Compact);
    const QJsonObject note{{"noteId", id}, {"markdown", false}, {"content", content}};
    const QByteArray load =
        QJsonDocument(QJsonObject{{"code", 1}, {"data", note}}).toJson(QJsonDocument::Compact);
    m_phone->setResponder([=](const FakeTransport::Sent& sent) {
        if (sent.path() == QLatin1String("/desktop/heartBeat/"))
            return FakeTransport::json(heartbeat);
        if (sent.path() == QLatin1String("/desktop/getNote/"))
            return FakeTransport::json(load);
        return FakeTransport::json("{\"code\":1}");
    });
    link()->setTransport(m_phone.get());
    link()->updateIp(QStringLiteral("127.0.0.1"));
    QTest::qWaitFor(
        [this] { return attrs()->isLoadOk() || link()->state() == tavrin::link::State::Refused; },
        5000);
    return attrs()->isLoadOk();
}

void SceneFixture::close()
{
    m_window = nullptr;
    m_engine.reset();
    m_phone.reset();
}

QObject* SceneFixture::find(const QString& objectName) const
{
    if (!m_window)
        return nullptr;
    if (m_window->objectName() == objectName)
        return m_window;
    return m_window->findChild<QObject*>(objectName);
}

QQuickItem* SceneFixture::item(const QString& objectName) const
{
    return qobject_cast<QQuickItem*>(find(objectName));
}

tavrin::Attrs* SceneFixture::attrs() const
{
    return qobject_cast<tavrin::Attrs*>(find(QStringLiteral("attrs")));
}

tavrin::PhoneLink* SceneFixture::link() const
{
    return qobject_cast<tavrin::PhoneLink*>(find(QStringLiteral("link")));
}

tavrin::History* SceneFixture::history() const
{
    return attrs() ? attrs()->history() : nullptr;
}

QVariant SceneFixture::call(const char* function, const QVariantList& args)
{
    QVariant result;
    QGenericArgument a[3];
    QVariant copies[3];
    for (int i = 0; i < args.size() && i < 3; ++i) {
        copies[i] = args[i];
        a[i] = Q_ARG(QVariant, copies[i]);
    }
    QMetaObject::invokeMethod(m_window, function, Q_RETURN_ARG(QVariant, result), a[0], a[1],
                              a[2]);
    return result;
}

void SceneFixture::click(QQuickItem* target, QPointF at)
{
    if (at.x() < 0)
        at = QPointF(target->width() / 2, target->height() / 2);
    QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier,
                      target->mapToScene(at).toPoint());
}

void SceneFixture::typeText(const QString& text)
{
    for (const QChar c : text) {
        if (c == QLatin1Char('\n'))
            QTest::keyClick(m_window, Qt::Key_Return);
        else if (c.unicode() < 128)
            QTest::keyClick(m_window, c.toLatin1());
        else
            QTest::sendKeyEvent(QTest::Click, m_window, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

void SceneFixture::key(Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    QTest::keyClick(m_window, key, modifiers);
}

bool SceneFixture::activate()
{
    if (!m_window)
        return false;
    m_window->requestActivate();
    return QTest::qWaitForWindowExposed(m_window) && QTest::qWaitForWindowActive(m_window);
}

void SceneFixture::drag(QQuickItem* target, QPointF from, QPointF to)
{
    constexpr int kSteps = 8;
    const QPointF start = target->mapToScene(from);
    const QPointF end = target->mapToScene(to);
    QTest::mousePress(m_window, Qt::LeftButton, Qt::NoModifier, start.toPoint());
    for (int i = 1; i <= kSteps; ++i)
        QTest::mouseMove(m_window, (start + (end - start) * i / kSteps).toPoint());
    QTest::mouseRelease(m_window, Qt::LeftButton, Qt::NoModifier, end.toPoint());
}
