// SPDX-License-Identifier: GPL-3.0-or-later
// The real scene in the user's language: English where the locale asks for it,
// the Chinese source texts for Chinese and for languages without a translation,
// and Qt's own texts (the platform dialogs) in the same language as the scene.

#include "app/Translations.h"
#include "link/PhoneLink.h"
#include "state/Attrs.h"
#include "support/FakeTransport.h"
#include "support/SceneFixture.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int kWait = 10000;

// What the user reads, in one language.
struct Texts {
    QString title;
    QString titleWithCount; // 5 characters
    QString version;        // 1.0.6
    QString placeholder;
    QString addressName; // for screen readers
    QString shortcuts;
    QString checkUpdate;
    QString helpFirstLine;
    QString helpLastLine;
    QString fontSizeTitle; // 15
    QString paddingTitle;  // 10
    QString colorTitle;
    QString fontTitlePrefix;
    QString newVersion;
    QString newVersionText;
    QString cancel;
    QString ok;
    QString networkFailure;
    QString noNoteHint;
    QString unreachableHint;
    QString editorName;
    QString qtSelectColor; // Qt's own colour dialog
};

const Texts kEnglish{
    QStringLiteral("Tavrin"),
    QStringLiteral("Tavrin (5 characters)"),
    QStringLiteral("Version 1.0.6"),
    QStringLiteral("Long-press Scan to get the IP"),
    QStringLiteral("Phone's IP address"),
    QStringLiteral("Keyboard shortcuts"),
    QStringLiteral("Check for updates"),
    QStringLiteral("Ctrl+S: Save"),
    QStringLiteral("Ctrl+Shift+Z: Redo"),
    QStringLiteral("Font size: 15"),
    QStringLiteral("Inner margin: 10"),
    QStringLiteral("Text color"),
    QStringLiteral("Font: "),
    QStringLiteral("New version available"),
    QStringLiteral("Go to the website and download it now?"),
    QStringLiteral("Cancel"),
    QStringLiteral("OK"),
    QStringLiteral("Network error. Please check your connection."),
    QStringLiteral("Please open a plain-text note"),
    QStringLiteral("Press and hold the scan button in the note app to start its service"),
    QStringLiteral("Note"),
    QStringLiteral("Select Color"),
};

const Texts kChinese{
    QStringLiteral("Tavrin"),
    QStringLiteral("Tavrin ( 5 字)"),
    QStringLiteral("V:1.0.6"),
    QStringLiteral("长按便签的扫码按钮获取IP地址"),
    QStringLiteral("手机的IP地址"),
    QStringLiteral("快捷键说明"),
    QStringLiteral("检查更新"),
    QStringLiteral("Ctrl+S:保存"),
    QStringLiteral("Ctrl+Shift+Z:反撤回"),
    QStringLiteral("设置字体大小15"),
    QStringLiteral("设置内边距：10"),
    QStringLiteral("设置文字颜色"),
    QStringLiteral("设置字体:"),
    QStringLiteral("发现新版"),
    QStringLiteral("现在去官网下载新版吗？"),
    QStringLiteral("取消"),
    QStringLiteral("确定"),
    QStringLiteral("网络异常，请检查网络是否畅通～"),
    QStringLiteral("请打开一篇纯文本便签"),
    QStringLiteral("请长按便签APP的扫码按钮启动服务"),
    QStringLiteral("便签"),
    QStringLiteral("选择颜色"),
};

QByteArray noteAnswer(int id, const QString& content) {
    return QStringLiteral(R"({"code":1,"data":{"noteId":%1,"markdown":false,"content":"%2"}})")
        .arg(id)
        .arg(content)
        .toUtf8();
}

QString text(SceneFixture& scene, const char* name, const char* property = "text") {
    return scene.find(QString::fromLatin1(name))->property(property).toString();
}

} // namespace

class SceneLanguageTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { initSceneTestProcess(); }
    void cleanupTestCase() { setSceneTestLocale(QLocale(QLocale::Chinese, QLocale::China)); }

    void sceneSpeaksTheLocalesLanguage_data() {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<bool>("english");
        QTest::newRow("English (UK): the English translation")
            << QLocale(QLocale::English, QLocale::UnitedKingdom) << true;
        QTest::newRow("Chinese: the source texts")
            << QLocale(QLocale::Chinese, QLocale::China) << false;
        QTest::newRow("German, untranslated: the source texts")
            << QLocale(QLocale::German, QLocale::Germany) << false;
    }

    void sceneSpeaksTheLocalesLanguage() {
        QFETCH(QLocale, locale);
        QFETCH(bool, english);
        const Texts& expected = english ? kEnglish : kChinese;
        const tavrin::LanguageChoice choice = setSceneTestLocale(locale);
        QCOMPARE(choice.translation, english ? QStringLiteral("en") : QString());

        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QVERIFY(scene.activate());
        FakeTransport phone;
        scene.link()->setTransport(&phone);

        // The connection screen.
        QCOMPARE(scene.window()->title(), expected.title);
        QCOMPARE(text(scene, "tvVersion"), expected.version);
        QCOMPARE(text(scene, "ipInput", "placeholderText"), expected.placeholder);
        QCOMPARE(text(scene, "btnShortcut"), expected.shortcuts);
        QCOMPARE(text(scene, "btnCheckUpdate"), expected.checkUpdate);
        QCOMPARE(
            QAccessible::queryAccessibleInterface(scene.find("ipInput"))->text(QAccessible::Name),
            expected.addressName);
        QCOMPARE(
            QAccessible::queryAccessibleInterface(scene.find("textEdit"))->text(QAccessible::Name),
            expected.editorName);

        // The help, from the button.
        scene.click(scene.item("btnShortcut"));
        QTRY_VERIFY_WITH_TIMEOUT(scene.find("msgDialog")->property("opened").toBool(), kWait);
        QCOMPARE(text(scene, "msgDialog", "title"), expected.shortcuts);
        const QStringList help = text(scene, "msgLabel").split(QLatin1Char('\n'));
        QCOMPARE(help.size(), 13);
        QCOMPARE(help.first(), expected.helpFirstLine);
        QCOMPARE(help.last(), expected.helpLastLine);
        scene.key(Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(!scene.find("msgDialog")->property("visible").toBool(), kWait);

        // The appearance dialogs.
        scene.key(Qt::Key_T, Qt::ControlModifier);
        QTRY_VERIFY_WITH_TIMEOUT(scene.find("fontSizeDialog")->property("opened").toBool(), kWait);
        QCOMPARE(text(scene, "fontSizeDialog", "title"), expected.fontSizeTitle);
        scene.key(Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(!scene.find("fontSizeDialog")->property("visible").toBool(),
                                 kWait);
        QCOMPARE(text(scene, "paddingDialog", "title"), expected.paddingTitle);
        QCOMPARE(text(scene, "colorDialog", "title"), expected.colorTitle);
        const QString family = scene.textEdit()->property("font").value<QFont>().family();
        QCOMPARE(text(scene, "fontDialog", "title"), expected.fontTitlePrefix + family);
        QCOMPARE(QCoreApplication::translate("QColorDialog", "Select Color"),
                 expected.qtSelectColor);

        // The new-version dialog.
        QCOMPARE(text(scene, "updateDialog", "title"), expected.newVersion);
        QCOMPARE(text(scene, "updateLabel"), expected.newVersionText);
        QCOMPARE(text(scene, "updateCancelBtn"), expected.cancel);
        QCOMPARE(text(scene, "msgOkBtn"), expected.ok);

        // The manual update check's message, from the core (the site is a closed port).
        scene.click(scene.item("btnCheckUpdate"));
        QTRY_VERIFY_WITH_TIMEOUT(scene.find("msgDialog")->property("opened").toBool(), kWait);
        QCOMPARE(text(scene, "msgDialog", "title"), expected.checkUpdate);
        QCOMPARE(text(scene, "msgLabel"), expected.networkFailure);
        scene.key(Qt::Key_Escape);

        // The link's hints and the title with the note's character count.
        tavrin::PhoneLink* link = scene.link();
        link->updateIp(QStringLiteral("127.0.12.50"));
        link->heartBeat();
        QVERIFY(phone.answerJson(paths::heartBeat, R"({"editingNoteId":0})"));
        QCOMPARE(text(scene, "textEdit"), expected.noNoteHint);
        link->heartBeat();
        QVERIFY(phone.fail(paths::heartBeat));
        QCOMPARE(text(scene, "textEdit"), expected.unreachableHint);
        link->heartBeat();
        QVERIFY(phone.answerJson(paths::heartBeat, R"({"editingNoteId":7})"));
        QVERIFY(phone.answerJson(paths::getNote, noteAnswer(7, QStringLiteral("hello"))));
        link->heartBeat();
        QVERIFY(phone.answerJson(paths::heartBeat, R"({"editingNoteId":7,"editingCharCount":5})"));
        QCOMPARE(scene.window()->title(), expected.titleWithCount);
    }
};

QTEST_MAIN(SceneLanguageTest)
#include "tst_scene_language.moc"
