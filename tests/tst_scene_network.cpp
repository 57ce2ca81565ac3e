// SPDX-License-Identifier: GPL-3.0-or-later
// The scene's own loaders (the background Image, the editor's FontLoader) fetch through the
// program's network factory: a redirect to another address is never followed, though the
// loaders follow redirects on their own (the control without the factory shows they do);
// what comes whole still loads; each kind of fetch has its limits.

#include "app/SceneNetwork.h"
#include "app/Startup.h"
#include "link/protocol/Protocol.h"
#include "sim/NoteServer.h"

#include <QBuffer>
#include <QImage>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QTest>

#include <memory>

using tavrin::sim::NoteServer;
using tavrin::sim::Reply;
using tavrin::sim::Request;

namespace {

// 127.0.9.20-29 belong to this test.
const QString kPhone = QStringLiteral("127.0.9.20");
const QString kElsewhere = QStringLiteral("127.0.9.21");
constexpr int kWait = 10000;
constexpr int kReady = 1; // Image.Ready, FontLoader.Ready
constexpr int kError = 3; // Image.Error, FontLoader.Error
const QList<int> kRedirects{301, 302, 303, 307, 308};

QByteArray png() {
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QString url(const QString& host, const char* path, const QString& query = {}) {
    return QStringLiteral("http://%1:8080%2%3")
        .arg(host, QLatin1String(path), query.isEmpty() ? QString() : QLatin1Char('?') + query);
}

// Each loader of `objects` has ended (loaded or failed).
bool allSettled(const QList<QObject*>& objects) {
    for (QObject* object : objects) {
        const int status = object->property("status").toInt();
        if (status != kReady && status != kError)
            return false;
    }
    return true;
}

} // namespace

class SceneNetworkTest : public QObject {
    Q_OBJECT

    NoteServer m_phone;
    NoteServer m_elsewhere;
    int m_scenes = 0;

    // A scene of one Image and one FontLoader for every redirect status, and one of each
    // fetched straight from the phone.
    std::unique_ptr<QObject> loaders(QQmlEngine& engine, const QList<int>& statuses) {
        QString qml = QStringLiteral("import QtQuick 2.15\nItem {\n");
        ++m_scenes;
        for (int status : statuses) {
            // URLs of their own: the font loader keeps what it loaded (or failed to) by URL.
            const QString query = QStringLiteral("s=%1&scene=%2").arg(status).arg(m_scenes);
            qml +=
                QStringLiteral("Image { objectName: \"image%1\"; cache: false; source: \"%2\" }\n"
                               "FontLoader { objectName: \"font%1\"; source: \"%3\" }\n")
                    .arg(status)
                    .arg(url(kPhone, tavrin::protocol::kBgPicturePath, query),
                         url(kPhone, tavrin::protocol::kFontsPath, query));
        }
        qml += QStringLiteral("}\n");
        QQmlComponent component(&engine);
        component.setData(qml.toUtf8(), QUrl(QStringLiteral("qrc:/loaders.qml")));
        std::unique_ptr<QObject> root(component.create());
        if (!root)
            qWarning() << component.errors();
        return root;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_phone.start(kPhone, 8080));
        QVERIFY(m_elsewhere.start(kElsewhere, 8080));
        // What is elsewhere would load fine: only not following keeps it out.
        m_elsewhere.setBackground(png(), "image/png");
        m_elsewhere.setFont(QByteArray(1000, 'f'));
        m_phone.setBackground(png(), "image/png");
        const auto redirect = [](const char* path) {
            return [path](const Request& request) -> std::optional<Reply> {
                const int status = request.query.section(QLatin1Char('&'), 0, 0).mid(2).toInt();
                if (status < 300)
                    return std::nullopt; // the phone's own answer
                return Reply::redirect(status, url(kElsewhere, path).toLatin1());
            };
        };
        m_phone.setOverride(QLatin1String(tavrin::protocol::kBgPicturePath),
                            redirect(tavrin::protocol::kBgPicturePath));
        m_phone.setOverride(QLatin1String(tavrin::protocol::kFontsPath),
                            redirect(tavrin::protocol::kFontsPath));
    }

    void init() { m_elsewhere.clearRequests(); }
    // One status at a time: the phone's listen queue is short.
    void loadersFollowNoRedirect_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("loads");
        for (int status : kRedirects)
            QTest::addRow("%d", status) << status << false;
        // The picture the phone itself gives still loads.
        QTest::newRow("200, no redirect") << 200 << true;
    }

    void loadersFollowNoRedirect() {
        QFETCH(int, status);
        QFETCH(bool, loads);
        QQmlEngine engine;
        tavrin::SceneNetworkFactory factory;
        engine.setNetworkAccessManagerFactory(&factory);
        const std::unique_ptr<QObject> root = loaders(engine, {status});
        QVERIFY(root);
        QObject* image = root->findChild<QObject*>(QStringLiteral("image%1").arg(status));
        QObject* font = root->findChild<QObject*>(QStringLiteral("font%1").arg(status));
        QVERIFY(image && font);
        QTRY_VERIFY_WITH_TIMEOUT(allSettled({image, font}), kWait);
        QCOMPARE(image->property("status").toInt(), loads ? kReady : kError);
        QCOMPARE(font->property("status").toInt(), kError); // the phone has no font
        QCOMPARE(m_phone.requestCount(QLatin1String(tavrin::protocol::kFontsPath)) > 0, true);
        // Nothing went to the other address.
        QCOMPARE(m_elsewhere.requests().size(), 0);
    }

    // Without the factory, the same loaders follow the redirect to the other address: the
    // test above would see it.
    void controlWithoutTheFactoryFollows() {
        QQmlEngine engine;
        const std::unique_ptr<QObject> root = loaders(engine, {302});
        QVERIFY(root);
        QObject* image = root->findChild<QObject*>(QStringLiteral("image302"));
        QObject* font = root->findChild<QObject*>(QStringLiteral("font302"));
        QTRY_VERIFY_WITH_TIMEOUT(allSettled({image, font}), kWait);
        QCOMPARE(m_elsewhere.requestCount(QLatin1String(tavrin::protocol::kBgPicturePath)), 1);
        QCOMPARE(m_elsewhere.requestCount(QLatin1String(tavrin::protocol::kFontsPath)), 1);
        QCOMPARE(image->property("status").toInt(), kReady);
    }

    void limitsByWhatIsFetched_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<qint64>("maxBytes");
        QTest::addColumn<int>("timeoutMs");
        QTest::newRow("background")
            << url(kPhone, tavrin::protocol::kBgPicturePath) << qint64(20 * 1024 * 1024) << 60000;
        QTest::newRow("font") << url(kPhone, tavrin::protocol::kFontsPath)
                              << qint64(30 * 1024 * 1024) << 60000;
        QTest::newRow("logo") << QStringLiteral(
                                     "https://www.tavrin.example/Morvane/image/logo_196.png")
                              << qint64(4 * 1024 * 1024) << 30000;
    }

    void limitsByWhatIsFetched() {
        QFETCH(QString, url);
        QFETCH(qint64, maxBytes);
        QFETCH(int, timeoutMs);
        const tavrin::transport::Limits limits = tavrin::sceneLimitsFor(QUrl(url));
        QCOMPARE(limits.maxBytes, maxBytes);
        QCOMPARE(limits.timeoutMs, timeoutMs);
    }

    // A picture beyond its limit fails like a broken one, and is not held.
    void pictureBeyondItsLimitFails() {
        m_phone.setBackground(QByteArray(tavrin::protocol::kMaxBackgroundBytes + 1, 'p'),
                              "image/png");
        QQmlEngine engine;
        tavrin::SceneNetworkFactory factory;
        engine.setNetworkAccessManagerFactory(&factory);
        const std::unique_ptr<QObject> root = loaders(engine, {200});
        QVERIFY(root);
        QObject* image = root->findChild<QObject*>(QStringLiteral("image200"));
        QTRY_VERIFY_WITH_TIMEOUT(allSettled({image}), kWait);
        QCOMPARE(image->property("status").toInt(), kError);
        m_phone.setBackground(png(), "image/png");
    }
};

QTEST_MAIN(SceneNetworkTest)
#include "tst_scene_network.moc"
