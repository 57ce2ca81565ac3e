// SPDX-License-Identifier: GPL-3.0-or-later
// The window, the connection screen and the editor view of the real scene.

#include "link/PhoneLink.h"
#include "state/Attrs.h"
#include "state/Version.h"
#include "support/SceneFixture.h"

#include <QColor>
#include <QFont>
#include <QRectF>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QJsonValue>
#include <QTest>
#include <QTimer>

using tavrin::PhoneLink;

class SceneWindowTest : public QObject {
    Q_OBJECT

    static QString borderColour(const SceneFixture& scene) {
        return scene.item(QStringLiteral("ipLayout"))
            ->property("border")
            .value<QObject*>()
            ->property("color")
            .value<QColor>()
            .name(QColor::HexArgb)
            .replace(QLatin1String("#ff"), QLatin1String("#"));
    }

    static void selectAllAndType(SceneFixture& scene, const QString& text) {
        scene.key(Qt::Key_A, Qt::ControlModifier);
        scene.typeText(text);
    }

private slots:
    void initTestCase() { initSceneTestProcess(); }

    void layoutFollowsTheWindow() {
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QVERIFY(scene.isLoaded());
        QQuickWindow* window = scene.window();
        QCOMPARE(window->width(), 480);
        QCOMPARE(window->height(), 640);
        QCOMPARE(window->title(), QStringLiteral("Tavrin"));
        QVERIFY(scene.activate());

        struct Expected {
            const char* name;
            qreal x; // NaN: centred, own width
            qreal y;
        };
        auto check = [&](qreal w, qreal h) {
            const QList<Expected> expected{
                {"logo", w / 2 - 50, h / 2 - 200},
                {"tvName", qQNaN(), h / 2 - 200 + 110},
                {"tvVersion", qQNaN(), h / 2 - 200 + 140},
                {"tvBottom", qQNaN(), h - 40},
                {"ipLayout", w / 2 - 120, h / 2 - 15},
                {"btnShortcut", w / 2 - 80, h - 40 * 4.5},
                {"btnCheckUpdate", w / 2 - 80, h - 40 * 3},
            };
            for (const Expected& e : expected) {
                QQuickItem* item = scene.item(QString::fromLatin1(e.name));
                QVERIFY2(item, e.name);
                const qreal x = qIsNaN(e.x) ? w / 2 - item->width() / 2 : e.x;
                QVERIFY2(qFuzzyCompare(item->x() + 1, x + 1), e.name);
                QVERIFY2(qFuzzyCompare(item->y() + 1, e.y + 1), e.name);
                QVERIFY2(item->width() > 0 && item->isVisible(), e.name);
            }
            QCOMPARE(scene.item("scrollView")->width(), w);
            QCOMPARE(scene.item("scrollView")->height(), h);
            QCOMPARE(scene.item("ivBg")->width(), w);
            QCOMPARE(scene.item("ivBg")->height(), h);
        };
        // The starting positions, in numbers.
        QCOMPARE(scene.item("logo")->position(), QPointF(190, 120));
        QCOMPARE(scene.item("tvName")->y(), 230.0);
        QCOMPARE(scene.item("tvVersion")->y(), 260.0);
        QCOMPARE(scene.item("ipLayout")->position(), QPointF(120, 305));
        QCOMPARE(scene.item("btnShortcut")->position(), QPointF(160, 460));
        QCOMPARE(scene.item("btnCheckUpdate")->position(), QPointF(160, 520));
        QCOMPARE(scene.item("tvBottom")->y(), 600.0);
        check(480, 640);
        QCOMPARE(scene.item("tvVersion")->property("text").toString(),
                 QStringLiteral("V:") + QLatin1String(tavrin::kVersionName));
        QCOMPARE(scene.item("tvName")->property("text").toString(), QStringLiteral("Tavrin"));
        QCOMPARE(scene.item("ipInput")->property("placeholderText").toString(),
                 QStringLiteral("长按便签的扫码按钮获取IP地址"));
        QVERIFY(!scene.item("scrollView")->isVisible());

        window->resize(700, 900);
        QTRY_COMPARE(scene.item("scrollView")->width(), 700.0);
        QTRY_COMPARE(scene.item("scrollView")->height(), 900.0);
        check(700, 900);
        window->resize(300, 300); // nothing stops overlap in a small window
        QTRY_COMPARE(scene.item("scrollView")->height(), 300.0);
        QTRY_COMPARE(scene.item("scrollView")->width(), 300.0);
        check(300, 300);
    }

    void addressHandlerColoursAndStores() {
        QTemporaryDir dir;
        {
            SceneFixture scene(dir.path());
            QVERIFY(scene.activate());
            QCOMPARE(borderColour(scene), QStringLiteral("#dddddd"));
            scene.click(scene.item("ipInput"));
            QTRY_VERIFY(scene.item("ipInput")->hasActiveFocus());

            // Focus alone recolours nothing.
            QCOMPARE(borderColour(scene), QStringLiteral("#dddddd"));
            // The typed address is stored at once, and the link starts once it stood
            // still: 127.0.1.1 on the way to 127.0.1.10 is never contacted.
            QSignalSpy addresses(scene.attrs(), &tavrin::Attrs::ipChanged);
            scene.typeText(QStringLiteral("127.0.1.1"));
            QCOMPARE(borderColour(scene), QStringLiteral("#2775b6"));
            QCOMPARE(scene.settings()->property("input").toString(), QStringLiteral("127.0.1.1"));
            scene.typeText(QStringLiteral("0"));
            QCOMPARE(scene.settings()->property("input").toString(), QStringLiteral("127.0.1.10"));
            QVERIFY(!scene.attrs()->ip());
            QVERIFY(!scene.link()->countDown()->isActive());
            QTRY_COMPARE(scene.attrs()->ip(), QStringLiteral("127.0.1.10"));
            QVERIFY(scene.link()->countDown()->isActive());
            QCOMPARE(addresses.count(), 1);

            // Invalid texts: red, and the stored address and the heartbeat stay.
            const QStringList invalid{QStringLiteral("q"), QStringLiteral("127.0.1"),
                                      QString::fromUtf8("１２７.０.１.１")};
            for (const QString& text : invalid) {
                selectAllAndType(scene, text);
                QCOMPARE(borderColour(scene), QStringLiteral("#ed3333"));
            }
            scene.key(Qt::Key_A, Qt::ControlModifier);
            scene.key(Qt::Key_Backspace);
            QCOMPARE(scene.item("ipInput")->property("text").toString(), QString());
            QCOMPARE(borderColour(scene), QStringLiteral("#ed3333"));
            QCOMPARE(scene.settings()->property("input").toString(), QStringLiteral("127.0.1.10"));
            QCOMPARE(scene.attrs()->ip(), QStringLiteral("127.0.1.10"));
            QVERIFY(scene.link()->countDown()->isActive());

            // A text that merely contains an address is none: red, and nothing taken.
            selectAllAndType(scene, QStringLiteral(" 127.0.1.12 "));
            QCOMPARE(borderColour(scene), QStringLiteral("#ed3333"));
            QCOMPARE(scene.settings()->property("input").toString(), QStringLiteral("127.0.1.10"));
            QCOMPARE(scene.attrs()->ip(), QStringLiteral("127.0.1.10"));
            // Typed on the way, 127.0.1.12 is stored, but the port and path after it are not,
            // and the link never went there: it had not stood still.
            selectAllAndType(scene, QStringLiteral("127.0.1.12:8081/#"));
            QCOMPARE(borderColour(scene), QStringLiteral("#ed3333"));
            QCOMPARE(scene.settings()->property("input").toString(), QStringLiteral("127.0.1.12"));
            QCOMPARE(scene.attrs()->ip(), QStringLiteral("127.0.1.10"));
            selectAllAndType(scene, QStringLiteral("127.0.1.13"));
            // An invalid text right after a valid one: the valid one is not taken.
            selectAllAndType(scene, QStringLiteral("x"));
            QVERIFY(!scene.find("addressSettles")->property("running").toBool());
            QCOMPARE(scene.attrs()->ip(), QStringLiteral("127.0.1.10"));
        }
        // Second start: the last valid text reaches the field, unfocused, and is handed on at once.
        SceneFixture again(dir.path());
        QVERIFY(again.isLoaded());
        QCOMPARE(again.item("ipInput")->property("text").toString(), QStringLiteral("127.0.1.13"));
        QCOMPARE(again.attrs()->ip(), QStringLiteral("127.0.1.13"));
        QVERIFY(again.link()->countDown()->isActive());
        QCOMPARE(borderColour(again), QStringLiteral("#dddddd"));
    }

    void noRememberedAddressStartsNothing() {
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QCOMPARE(scene.item("ipInput")->property("text").toString(), QString());
        QVERIFY(!scene.attrs()->ip());
        QVERIFY(!scene.link()->countDown()->isActive());
        QCOMPARE(scene.find("myFont")->property("source").toUrl(), QUrl());
    }

    void showIpInputViewSwitchesScreens() {
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QVERIFY(scene.activate());
        const QStringList connection{"logo",     "tvName",      "tvVersion",     "tvBottom",
                                     "ipLayout", "btnShortcut", "btnCheckUpdate"};
        auto expectScreen = [&](bool connectionShown) {
            for (const QString& name : connection)
                QVERIFY2(scene.item(name)->isVisible() == connectionShown, qPrintable(name));
            QCOMPARE(scene.item("scrollView")->isVisible(), !connectionShown);
            QVERIFY(scene.item("ivBg")->isVisible());
        };
        expectScreen(true);
        const QString border = borderColour(scene);

        scene.call("showIpInputView", {false});
        expectScreen(false);
        QVERIFY(!scene.item("ipInput")->hasFocus());
        QVERIFY(!scene.item("ipInput")->hasActiveFocus());

        // The editor had the focus: the address field does not take it.
        QVERIFY(scene.item("textEdit")->hasActiveFocus());
        scene.call("showIpInputView", {true});
        expectScreen(true);
        QVERIFY(!scene.item("ipInput")->hasActiveFocus());
        QVERIFY(!scene.item("textEdit")->hasActiveFocus()); // keys reach neither
        QCOMPARE(borderColour(scene), border);

        // Again on the same screen: only the focus changes.
        scene.call("showIpInputView", {true});
        expectScreen(true);
        QVERIFY(scene.item("ipInput")->hasActiveFocus());
        scene.call("showIpInputView", {false});
        scene.call("showIpInputView", {false});
        expectScreen(false);
        QVERIFY(!scene.item("ipInput")->hasActiveFocus());
        QCOMPARE(scene.window()->title(), QStringLiteral("Tavrin"));
    }

    void editorFollowsSettings() {
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QObject* edit = scene.textEdit();
        QCOMPARE(edit->property("font").value<QFont>().pixelSize(), 15);
        QCOMPARE(edit->property("color").value<QColor>(), QColor("#444444"));
        QCOMPARE(edit->property("textMargin").toReal(), 10.0);
        QCOMPARE(edit->property("tabStopDistance").toReal(), 30.0);
        QCOMPARE(edit->property("wrapMode").toInt(), 4); // TextEdit.Wrap
        QCOMPARE(edit->property("text").toString(), QString());

        scene.settings()->setProperty("fontSize", 20);
        QCOMPARE(edit->property("font").value<QFont>().pixelSize(), 20);
        QCOMPARE(edit->property("tabStopDistance").toReal(), 40.0);
        scene.settings()->setProperty("padding", 4);
        QCOMPARE(edit->property("textMargin").toReal(), 4.0);
        scene.settings()->setProperty("color", QStringLiteral("#ff0000"));
        QCOMPARE(edit->property("color").value<QColor>(), QColor(Qt::red));
        scene.settings()->setProperty("fontFamily", QStringLiteral("DejaVu Sans"));
        QCOMPARE(edit->property("font").value<QFont>().family(), QStringLiteral("DejaVu Sans"));
        // A size of 0 (the slider's left end) must not break the editor.
        scene.settings()->setProperty("fontSize", 0);
        QVERIFY(edit->property("font").value<QFont>().pixelSize() > 0);
    }

    void ensureVisible_data() {
        QTest::addColumn<QPointF>("start");
        QTest::addColumn<QRectF>("rect");
        QTest::addColumn<QPointF>("expected");
        // The view is 480 × 640.
        QTest::newRow("inside: nothing moves")
            << QPointF(0, 0) << QRectF(10, 10, 2, 20) << QPointF(0, 0);
        QTest::newRow("above the top")
            << QPointF(0, 100) << QRectF(10, 50, 2, 20) << QPointF(0, 50);
        QTest::newRow("top on the edge")
            << QPointF(0, 50) << QRectF(10, 50, 2, 20) << QPointF(0, 50);
        QTest::newRow("below the bottom")
            << QPointF(0, 0) << QRectF(10, 700, 2, 20) << QPointF(0, 80);
        QTest::newRow("bottom on the edge")
            << QPointF(0, 80) << QRectF(10, 700, 2, 20) << QPointF(0, 80);
        QTest::newRow("left of the view")
            << QPointF(30, 0) << QRectF(10, 10, 2, 20) << QPointF(10, 0);
        QTest::newRow("right of the view")
            << QPointF(0, 0) << QRectF(500, 10, 2, 20) << QPointF(22, 0);
        QTest::newRow("both directions")
            << QPointF(30, 0) << QRectF(600, 900, 4, 30) << QPointF(124, 290);
        QTest::newRow("negative rect: no clamping")
            << QPointF(0, 0) << QRectF(-5, -7, 2, 20) << QPointF(-5, -7);
        QTest::newRow("taller than the view: top first")
            << QPointF(0, 10) << QRectF(0, 5, 2, 900) << QPointF(0, 5);
    }

    void ensureVisible() {
        QFETCH(QPointF, start);
        QFETCH(QRectF, rect);
        QFETCH(QPointF, expected);
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QObject* flick = scene.find("flickView");
        flick->setProperty("contentX", start.x());
        flick->setProperty("contentY", start.y());
        QMetaObject::invokeMethod(flick, "ensureVisible", Q_ARG(QVariant, QVariant(rect)));
        QCOMPARE(flick->property("contentX").toReal(), expected.x());
        QCOMPARE(flick->property("contentY").toReal(), expected.y());
    }

    void cursorIsKeptInView() {
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QVERIFY(scene.activate());
        QVERIFY(scene.openNote(QJsonValue(1), QString())); // typing needs a note
        QObject* edit = scene.textEdit();
        QObject* flick = scene.find("flickView");
        const qreal viewHeight = flick->property("height").toReal(); // above the status line
        QVERIFY(viewHeight > 500 && viewHeight < 640);
        scene.item("textEdit")->forceActiveFocus();
        QStringList lines;
        for (int i = 0; i < 80; ++i)
            lines << QStringLiteral("line %1").arg(i);
        edit->setProperty("text", lines.join(QLatin1Char('\n')));

        // Typing at the end scrolls so that the cursor's bottom lies on the view's bottom.
        scene.key(Qt::Key_End, Qt::ControlModifier);
        scene.typeText(QStringLiteral("x"));
        const QRectF cursor = edit->property("cursorRectangle").toRectF();
        QVERIFY(cursor.bottom() > viewHeight);
        QCOMPARE(flick->property("contentY").toReal(), cursor.bottom() - viewHeight);

        // Back on the first line: the top of the cursor, the text margin, not 0.
        scene.key(Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(flick->property("contentY").toReal(), 10.0);
    }

    void scrollJumps() {
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        scene.call("showIpInputView", {false});
        QObject* flick = scene.find("flickView");
        scene.textEdit()->setProperty("text", QStringLiteral("a short note"));
        const qreal contentHeight = flick->property("contentHeight").toReal();
        QVERIFY(contentHeight > 0 && contentHeight < 640);
        scene.call("scrollToBottom");
        QCOMPARE(flick->property("contentY").toReal(), contentHeight - 640);
        QVERIFY(flick->property("contentY").toReal() < 0);
        flick->setProperty("contentX", 7);
        scene.call("scrollToTop");
        QCOMPARE(flick->property("contentY").toReal(), 0.0);
        QCOMPARE(flick->property("contentX").toReal(), 7.0);
    }

    // The font comes from the address the link uses, never from a half-typed one.
    void fontLoaderAsksOnlyTheLinksAddress() {
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QVERIFY(scene.activate());
        QObject* font = scene.find("myFont");
        QSignalSpy sources(font, SIGNAL(sourceChanged()));
        scene.click(scene.item("ipInput"));
        QTRY_VERIFY(scene.item("ipInput")->hasActiveFocus());
        scene.typeText(QStringLiteral("0.0.0.1"));
        QCOMPARE(font->property("source").toUrl(), QUrl());
        selectAllAndType(scene, QStringLiteral("127.0.1.9"));
        QTRY_COMPARE(font->property("source").toUrl(),
                     QUrl(QStringLiteral("http://127.0.1.9:8080/desktop/fonts")));
        QCOMPARE(sources.count(), 1);
        // Emptying the field leaves the link, and so the font, where they are.
        scene.key(Qt::Key_A, Qt::ControlModifier);
        scene.key(Qt::Key_Backspace);
        QCOMPARE(font->property("source").toUrl(),
                 QUrl(QStringLiteral("http://127.0.1.9:8080/desktop/fonts")));
    }

    void sameTextTwiceNotifiesOnce() {
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QObject* edit = scene.textEdit();
        QSignalSpy changes(edit, SIGNAL(textChanged()));
        edit->setProperty("text", QStringLiteral("same"));
        edit->setProperty("text", QStringLiteral("same"));
        QCOMPARE(changes.count(), 1);
        QCOMPARE(scene.attrs()->inStack(), QStringList{QStringLiteral("same")});
        // Selecting makes the editor raise a text change of its own, with no
        // change in it: nothing more is recorded.
        QMetaObject::invokeMethod(edit, "select", Q_ARG(int, 1), Q_ARG(int, 3));
        QCOMPARE(edit->property("selectedText").toString(), QStringLiteral("am"));
        QCOMPARE(scene.attrs()->inStack(), QStringList{QStringLiteral("same")});
    }
};

QTEST_MAIN(SceneWindowTest)
#include "tst_scene_window.moc"
