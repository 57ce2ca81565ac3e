// SPDX-License-Identifier: GPL-3.0-or-later
// The connection screen as a desktop user meets it: the bundled logo when the
// maker's cannot be had, a build without the update check, the Tab order and
// the accessible names, and an address given on the command line.

#include "app/StartOptions.h"
#include "link/PhoneLink.h"
#include "state/Attrs.h"
#include "support/FakeTransport.h"
#include "support/HttpsTestServer.h"
#include "support/SceneFixture.h"
#include "update/MakerSite.h"

#include <QAccessible>
#include <QFile>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using tavrin::test::HttpsTestServer;

namespace {

constexpr int kWait = 10000;
const QString kLogoPath = QStringLiteral("/Morvane/image/logo_196.png");
const QUrl kBundledLogo(QStringLiteral("qrc:/logo.png"));
const QString kClosedSite = QStringLiteral("127.0.0.1:9");
const QString kAutomatic = QStringLiteral("appType=QuesslyPC&byHand=false&versionCode=7");
const QString kByHand = QStringLiteral("appType=QuesslyPC&byHand=true&versionCode=7");

enum ImageStatus { Null, Ready, Loading, Error };

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The name, description and role a screen reader gets for an item.
struct Accessible {
    QString name;
    QString description;
    QAccessible::Role role = QAccessible::NoRole;
};

Accessible accessibleOf(QObject* object) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(object);
    if (!face)
        return {};
    return {face->text(QAccessible::Name), face->text(QAccessible::Description), face->role()};
}

// A popup dialog's own item, the one that stands for the dialog.
QQuickItem* dialogItem(QObject* dialog) {
    auto* content = qvariant_cast<QQuickItem*>(dialog->property("contentItem"));
    return content ? content->parentItem() : nullptr;
}

QString focusName(SceneFixture& scene) {
    QQuickItem* item = scene.window()->activeFocusItem();
    return item ? item->objectName() : QString();
}

} // namespace

class SceneConnectionTest : public QObject {
    Q_OBJECT

    HttpsTestServer m_site{QStringLiteral("127.0.12.1")};
    // Serves the logo. A server of its own: images are cached by URL for the whole process.
    HttpsTestServer m_logoSite{QStringLiteral("127.0.12.2")};

    // The queries of the update checks the site received, in order.
    QStringList checkQueries() const {
        QStringList queries;
        for (const auto& request : m_site.requests()) {
            if (request.path == QLatin1String("/Morvane/v1/upgrade/checkUpdate"))
                queries << request.query;
        }
        return queries;
    }

private slots:
    void initTestCase() {
        // What the build leaves the switch at, before the tests take it over.
        QCOMPARE(tavrin::maker::isContacted(), bool(TAVRIN_UPDATE_CHECK));
        initSceneTestProcess();
        QVERIFY(m_site.start());
        QVERIFY(m_logoSite.start());
        m_site.trustInDefaultConfiguration();
        m_logoSite.trustInDefaultConfiguration();
    }

    void cleanup() {
        tavrin::maker::setHostForTesting(kClosedSite);
        tavrin::maker::setContactedForTesting(true);
        tavrin::StartOptions::setAddress(QString());
        m_site.clearAnswers();
        m_site.clearRequests();
        m_logoSite.clearAnswers();
        m_logoSite.clearRequests();
    }

    // ---- The logo ----------------------------------------------------------

    void logoFromTheSiteOrBundled_data() {
        QTest::addColumn<int>("status"); // of the logo's answer; 0: the site is down
        QTest::addColumn<bool>("bundled");
        QTest::newRow("site serves the logo") << 200 << false;
        QTest::newRow("logo not found") << 404 << true;
        QTest::newRow("site unreachable") << 0 << true;
    }

    void logoFromTheSiteOrBundled() {
        QFETCH(int, status);
        QFETCH(bool, bundled);
        const bool siteUp = status != 0;
        HttpsTestServer& site = status == 200 ? m_logoSite : m_site;
        if (siteUp) {
            tavrin::maker::setHostForTesting(site.hostAndPort());
            site.setAnswer(kLogoPath,
                           {status, "image/png", readFile(QStringLiteral(":/logo.png"))});
        }
        const QUrl siteLogo = tavrin::maker::logoUrl();
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QQuickItem* logo = scene.item("logo");
        // The maker's logo is asked for first.
        QCOMPARE(scene.find("updater")->property("logoUrl").toUrl(), siteLogo);
        QTRY_COMPARE_WITH_TIMEOUT(logo->property("status").toInt(), int(Ready), kWait);
        QCOMPARE(logo->property("source").toUrl(), bundled ? kBundledLogo : siteLogo);
        QVERIFY(logo->property("paintedWidth").toReal() > 0);
        if (siteUp)
            QCOMPARE(site.requests().first().path, kLogoPath);
    }

    // ---- A build without the update check ----------------------------------

    void withoutTheUpdateCheck() {
        tavrin::maker::setHostForTesting(m_site.hostAndPort());
        tavrin::maker::setContactedForTesting(false);
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QVERIFY(scene.activate());
        QObject* updater = scene.find("updater");
        QVERIFY(!updater->property("available").toBool());

        // The bundled logo from the start: the site's was never asked for.
        QQuickItem* logo = scene.item("logo");
        QCOMPARE(updater->property("logoUrl").toUrl(), QUrl());
        QCOMPARE(logo->property("source").toUrl(), kBundledLogo);
        QCOMPARE(logo->property("status").toInt(), int(Ready));
        QVERIFY(!logo->property("remoteFailed").toBool());

        // No button; the other takes its place above the copyright line.
        QVERIFY(!scene.item("btnCheckUpdate")->isVisible());
        QQuickItem* shortcuts = scene.item("btnShortcut");
        QVERIFY(shortcuts->isVisible());
        QCOMPARE(shortcuts->y(), 640.0 - 40 * 3);
        QVERIFY(shortcuts->y() + shortcuts->height() < scene.item("tvBottom")->y());
        QVERIFY(shortcuts->y() > scene.item("ipLayout")->y() + scene.item("ipLayout")->height());

        // The first address would send the automatic check at once; nothing is sent.
        scene.click(scene.item("ipInput"));
        QTRY_VERIFY(scene.item("ipInput")->hasActiveFocus());
        scene.typeText(QStringLiteral("127.0.12.9"));
        QTRY_VERIFY_WITH_TIMEOUT(scene.link()->countDown()->isActive(), kWait);
        QVERIFY(updater->findChildren<QNetworkReply*>().isEmpty());
        QMetaObject::invokeMethod(updater, "checkUpdate", Q_ARG(bool, true));
        QVERIFY(updater->findChildren<QNetworkReply*>().isEmpty());

        // Tab skips the missing button.
        scene.key(Qt::Key_Tab);
        QCOMPARE(focusName(scene), QStringLiteral("btnShortcut"));
        scene.key(Qt::Key_Tab);
        QCOMPARE(focusName(scene), QStringLiteral("ipInput"));

        // The same steps with the check built in do send it: the checks above can fail.
        scene.close();
        tavrin::maker::setContactedForTesting(true);
        QTemporaryDir otherDir;
        SceneFixture withCheck(otherDir.path());
        QVERIFY(withCheck.activate());
        QObject* checking = withCheck.find("updater");
        QVERIFY(checking->property("available").toBool());
        QVERIFY(withCheck.item("btnCheckUpdate")->isVisible());
        QCOMPARE(withCheck.item("btnShortcut")->y(), 640.0 - 40 * 4.5);
        withCheck.click(withCheck.item("ipInput"));
        QTRY_VERIFY(withCheck.item("ipInput")->hasActiveFocus());
        withCheck.typeText(QStringLiteral("127.0.12.9"));
        QTRY_VERIFY_WITH_TIMEOUT(withCheck.link()->countDown()->isActive(), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(checkQueries(), QStringList{kAutomatic}, kWait);
        QMetaObject::invokeMethod(checking, "checkUpdate", Q_ARG(bool, true));
        QVERIFY(!checking->findChildren<QNetworkReply*>().isEmpty());
        // Only these two reached the site: none came from the scene without the check.
        QTRY_COMPARE_WITH_TIMEOUT(checkQueries(), (QStringList{kAutomatic, kByHand}), kWait);
    }

    // ---- Keyboard and screen readers ---------------------------------------

    void tabGoesThroughTheScreenInReadingOrder() {
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QVERIFY(scene.activate());
        // Nothing has the focus at start; Tab starts at the address field and wraps around.
        const QStringList order{"ipInput", "btnShortcut", "btnCheckUpdate", "ipInput",
                                "btnShortcut"};
        for (const QString& expected : order) {
            scene.key(Qt::Key_Tab);
            QCOMPARE(focusName(scene), expected);
        }
        // A focused button works from the keyboard.
        scene.key(Qt::Key_Space);
        QTRY_VERIFY_WITH_TIMEOUT(scene.find("msgDialog")->property("opened").toBool(), kWait);
        QCOMPARE(scene.find("msgDialog")->property("title").toString(),
                 QStringLiteral("快捷键说明"));
    }

    void accessibleNamesAndRoles() {
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QVERIFY(scene.activate());
        struct Expected {
            const char* object;
            QAccessible::Role role;
            QString name;
            QString description; // null: not checked
        };
        const QList<Expected> screen{
            {"ipInput", QAccessible::EditableText, QStringLiteral("手机的IP地址"),
             QStringLiteral("长按便签APP的扫码按钮即可看到手机的IP地址，然后在这里输入")},
            {"btnShortcut", QAccessible::Button, QStringLiteral("快捷键说明"),
             QStringLiteral("显示全部键盘快捷键")},
            {"btnCheckUpdate", QAccessible::Button, QStringLiteral("检查更新"),
             QStringLiteral("在官网上查找新版本")},
            {"logo", QAccessible::Graphic, QStringLiteral("Tavrin 标志"), QString()},
            {"textEdit", QAccessible::EditableText, QStringLiteral("便签"),
             QStringLiteral("手机上打开的便签，所做的修改会立即发送到手机")},
            {"updateCancelBtn", QAccessible::Button, QStringLiteral("取消"),
             QStringLiteral("不下载新版，关闭对话框")},
            {"msgOkBtn", QAccessible::Button, QStringLiteral("确定"),
             QStringLiteral("在浏览器中打开官网的下载页面")},
            {"fontSizeSlider", QAccessible::Slider, QStringLiteral("设置字体大小15"), QString()},
            {"paddingSlider", QAccessible::Slider, QStringLiteral("设置内边距：10"), QString()},
        };
        for (const Expected& e : screen) {
            const Accessible found = accessibleOf(scene.find(QString::fromLatin1(e.object)));
            QVERIFY2(found.role == e.role, e.object);
            QCOMPARE(found.name, e.name);
            if (!e.description.isNull())
                QCOMPARE(found.description, e.description);
        }

        // The popup dialogs are named after their titles, which change.
        const QList<QPair<const char*, QString>> dialogs{
            {"msgDialog", QString()},
            {"fontSizeDialog", QStringLiteral("设置字体大小15")},
            {"paddingDialog", QStringLiteral("设置内边距：10")},
            {"updateDialog", QStringLiteral("发现新版")},
        };
        for (const auto& [name, title] : dialogs) {
            const Accessible found =
                accessibleOf(dialogItem(scene.find(QString::fromLatin1(name))));
            QVERIFY2(found.role == QAccessible::Dialog, name);
            QCOMPARE(found.name, title);
        }
        scene.call("showShortcuts");
        QCOMPARE(accessibleOf(dialogItem(scene.find("msgDialog"))).name,
                 QStringLiteral("快捷键说明"));
        scene.settings()->setProperty("fontSize", 22);
        QCOMPARE(accessibleOf(dialogItem(scene.find("fontSizeDialog"))).name,
                 QStringLiteral("设置字体大小22"));
        // The window is named by its title.
        QCOMPARE(accessibleOf(scene.window()).name, QStringLiteral("Tavrin"));
    }

    // ---- --address ---------------------------------------------------------

    void addressFromTheCommandLineConnectsAtOnce() {
        QTemporaryDir dir;
        {
            SceneFixture first(dir.path());
            first.settings()->setProperty("input", QStringLiteral("127.0.12.30"));
        }
        tavrin::StartOptions::setAddress(QStringLiteral("127.0.12.31"));
        FakeTransport phone;
        SceneFixture scene(dir.path());
        // Before the event loop runs: the first heartbeat has not gone out yet.
        scene.link()->setTransport(&phone);
        QCOMPARE(scene.item("ipInput")->property("text").toString(), QStringLiteral("127.0.12.31"));
        QCOMPARE(scene.attrs()->ip(), QStringLiteral("127.0.12.31"));
        QCOMPARE(scene.settings()->property("input").toString(), QStringLiteral("127.0.12.31"));
        QVERIFY(scene.link()->countDown()->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(phone.pendingCount(paths::heartBeat) > 0, kWait);
        // The first heartbeat goes to the address given, not to the remembered one.
        QCOMPARE(phone.sent(paths::heartBeat).first().url.host(), QStringLiteral("127.0.12.31"));
        scene.close();

        // Remembered for the next start without the option.
        tavrin::StartOptions::setAddress(QString());
        SceneFixture again(dir.path());
        QCOMPARE(again.item("ipInput")->property("text").toString(), QStringLiteral("127.0.12.31"));
    }
};

QTEST_MAIN(SceneConnectionTest)
#include "tst_scene_connection.moc"
