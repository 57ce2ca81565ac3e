// SPDX-License-Identifier: GPL-3.0-or-later
// The update check as the user sees it: the button, the automatic check on the
// first address, the new-version dialog and its two buttons, against a real
// HTTPS server on loopback.

#include "support/HttpsTestServer.h"
#include "support/SceneFixture.h"
#include "update/MakerSite.h"
#include "update/UpdateChecker.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using tavrin::test::HttpsTestServer;

namespace {

constexpr int kWait = 10000;
const QString kCheckPath = QStringLiteral("/Morvane/v1/upgrade/checkUpdate");

// Stands in for the desktop's browser.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

} // namespace

class SceneUpdateTest : public QObject {
    Q_OBJECT

    HttpsTestServer m_server{QStringLiteral("127.0.4.1")};
    UrlCatcher m_browser;

    // Waits until the checks sent so far have been answered and handled.
    static void waitForAnswers(SceneFixture& scene) {
        QObject* updater = scene.find(QStringLiteral("updater"));
        // A reply goes once its answer has been handled.
        QTRY_VERIFY_WITH_TIMEOUT(updater->findChildren<QNetworkReply*>().isEmpty(), kWait);
    }

    // The update checks the server received (the logo comes from the same host).
    QList<tavrin::test::RecordedRequest> checks() const {
        QList<tavrin::test::RecordedRequest> found;
        for (const auto& request : m_server.requests()) {
            if (request.path == kCheckPath)
                found << request;
        }
        return found;
    }

    static bool isVisible(SceneFixture& scene, const char* name) {
        return scene.find(QString::fromLatin1(name))->property("visible").toBool();
    }

private slots:
    void initTestCase() {
        initSceneTestProcess();
        QVERIFY(m_server.start());
        m_server.trustInDefaultConfiguration();
        tavrin::maker::setHostForTesting(m_server.hostAndPort());
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &m_browser, "open");
    }

    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }

    void init() {
        m_server.clearAnswers();
        m_server.clearRequests();
        m_browser.opened.clear();
    }

    void manualCheckShowsTheAnswer_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::newRow("up to date")
            << 200 << QByteArray(R"({"code":0,"msg":"已是最新版本"})") << "检查更新"
            << "已是最新版本";
        QTest::newRow("code as a string")
            << 200 << QByteArray(R"({"code":"1","msg":"无需更新"})") << "检查更新"
            << "无需更新";
        QTest::newRow("server error") << 500 << QByteArray("{}") << "检查更新"
                                      << "网络异常，请检查网络是否畅通～";
        QTest::newRow("not found") << 404 << QByteArray() << "检查更新"
                                   << "网络异常，请检查网络是否畅通～";
    }

    void manualCheckShowsTheAnswer() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, title);
        QFETCH(QString, text);
        m_server.setJsonAnswer(kCheckPath, body, status);
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QVERIFY(scene.activate());
        scene.click(scene.item("btnCheckUpdate"));
        QTRY_VERIFY_WITH_TIMEOUT(isVisible(scene, "msgDialog"), kWait);
        QCOMPARE(scene.find("msgDialog")->property("title").toString(), title);
        QCOMPARE(scene.find("msgLabel")->property("text").toString(), text);
        QVERIFY(!isVisible(scene, "updateDialog"));
        const auto requests = checks();
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.first().query,
                 QStringLiteral("appType=QuesslyPC&byHand=true&versionCode=7"));
    }

    // A server that takes the connection and never answers: the manual check gives up after its
    // deadline and says so like after any other failure.
    void manualCheckThatTimesOutShowsTheFailure() {
        tavrin::test::TestAnswer silent;
        silent.silent = true;
        m_server.setAnswer(kCheckPath, silent);
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QVERIFY(scene.activate());
        auto* updater = qobject_cast<tavrin::UpdateChecker*>(scene.find(QStringLiteral("updater")));
        QVERIFY(updater);
        QCOMPARE(updater->timeoutMs(), 10000);
        updater->setTimeoutMs(300);
        QElapsedTimer clock;
        clock.start();
        scene.click(scene.item("btnCheckUpdate"));
        QTRY_VERIFY_WITH_TIMEOUT(isVisible(scene, "msgDialog"), kWait);
        // Given up on, not answered: the request is still held by the server.
        QVERIFY2(clock.elapsed() >= 270, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(m_server.silentCount(), 1);
        QCOMPARE(scene.find("msgDialog")->property("title").toString(), QStringLiteral("检查更新"));
        QCOMPARE(scene.find("msgLabel")->property("text").toString(),
                 QStringLiteral("网络异常，请检查网络是否畅通～"));
        QVERIFY(!isVisible(scene, "updateDialog"));
        m_server.releaseSilent();
    }

    void newVersionDialogAndItsButtons() {
        m_server.setJsonAnswer(kCheckPath, R"({"code":1,"data":{"upgradeNote":"修复了若干问题"}})");
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QVERIFY(scene.activate());
        QObject* dialog = scene.find("updateDialog");
        QCOMPARE(dialog->property("title").toString(), QStringLiteral("发现新版"));
        QCOMPARE(scene.find("updateLabel")->property("text").toString(),
                 QStringLiteral("现在去官网下载新版吗？"));
        QVERIFY(!dialog->property("modal").toBool());

        scene.click(scene.item("btnCheckUpdate"));
        QTRY_VERIFY_WITH_TIMEOUT(dialog->property("visible").toBool(), kWait);
        QCOMPARE(scene.find("updateLabel")->property("text").toString(),
                 QStringLiteral("修复了若干问题"));
        // Centred in the window, and the two buttons as wide as the note.
        QTRY_COMPARE(dialog->property("x").toReal(), 240 - dialog->property("width").toReal() / 2);
        QCOMPARE(dialog->property("y").toReal(), 320 - dialog->property("height").toReal() / 2);
        QCOMPARE(scene.item("updateLabel")->width(), 220.0);
        QCOMPARE(scene.item("msgOkBtn")->x() - scene.item("updateCancelBtn")->x(), 120.0);

        // "取消" only hides the dialog.
        scene.click(scene.item("updateCancelBtn"));
        QTRY_VERIFY(!dialog->property("visible").toBool());
        QVERIFY(m_browser.opened.isEmpty());

        // "确定" hides it and opens the download page.
        scene.click(scene.item("btnCheckUpdate"));
        QTRY_VERIFY_WITH_TIMEOUT(dialog->property("visible").toBool(), kWait);
        QTRY_VERIFY(scene.item("msgOkBtn")->isVisible());
        scene.click(scene.item("msgOkBtn"));
        QTRY_VERIFY(!dialog->property("visible").toBool());
        QCOMPARE(
            m_browser.opened,
            QList<QUrl>{QUrl(QStringLiteral("https://%1/Morvane/").arg(m_server.hostAndPort()))});

        // Escape closes it too.
        scene.click(scene.item("btnCheckUpdate"));
        QTRY_VERIFY_WITH_TIMEOUT(dialog->property("visible").toBool(), kWait);
        scene.key(Qt::Key_Escape);
        QTRY_VERIFY(!dialog->property("visible").toBool());
        QCOMPARE(m_browser.opened.size(), 1);
    }

    void automaticCheckOnTheFirstAddressOnly() {
        m_server.setJsonAnswer(kCheckPath, R"({"code":0,"msg":"已是最新版本"})");
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QVERIFY(scene.activate());
        scene.click(scene.item("ipInput"));
        QTRY_VERIFY(scene.item("ipInput")->hasActiveFocus());
        scene.typeText(QStringLiteral("127.0.4.20"));
        QTRY_COMPARE_WITH_TIMEOUT(checks().size(), 1, kWait);
        QCOMPARE(checks().first().query,
                 QStringLiteral("appType=QuesslyPC&byHand=false&versionCode=7"));
        waitForAnswers(scene);
        // The automatic check shows nothing but a newer version.
        QVERIFY(!isVisible(scene, "msgDialog"));
        QVERIFY(!isVisible(scene, "updateDialog"));

        // Later valid addresses make no second check.
        scene.key(Qt::Key_A, Qt::ControlModifier);
        scene.typeText(QStringLiteral("127.0.4.21"));
        // A check would be on its way now: the request is sent as the address is taken.
        QVERIFY(scene.find(QStringLiteral("updater"))->findChildren<QNetworkReply*>().isEmpty());
        QCOMPARE(checks().size(), 1);
    }

    void automaticCheckShowsANewerVersion() {
        m_server.setJsonAnswer(kCheckPath, R"({"code":1,"data":{"upgradeNote":"新版本 1.0.7"}})");
        QTemporaryDir dir;
        {
            SceneFixture first(dir.path());
            first.settings()->setProperty("input", QStringLiteral("127.0.4.22"));
        }
        m_server.clearRequests();
        // A remembered address makes the check at start, without any action.
        SceneFixture scene(dir.path());
        QTRY_VERIFY_WITH_TIMEOUT(isVisible(scene, "updateDialog"), kWait);
        QCOMPARE(scene.find("updateLabel")->property("text").toString(),
                 QStringLiteral("新版本 1.0.7"));
        QVERIFY(checks().size() >= 1);
        for (const auto& request : checks())
            QCOMPARE(request.query, QStringLiteral("appType=QuesslyPC&byHand=false&versionCode=7"));
    }
};

QTEST_MAIN(SceneUpdateTest)
#include "tst_scene_update.moc"
