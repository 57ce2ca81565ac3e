// SPDX-License-Identifier: GPL-3.0-or-later
// Reformatting, the message and appearance dialogs and the thirteen key
// bindings of the real scene: real key and mouse events where the user gives
// them, the fake phone where a push must be seen.

#include "link/PhoneLink.h"
#include "sim/NoteServer.h"
#include "state/Attrs.h"
#include "support/SceneFixture.h"
#include "tools/History.h"

#include <QApplication>
#include <QColor>
#include <QFont>
#include <QFontDialog>
#include <QJsonValue>
#include <QKeySequence>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using tavrin::PhoneLink;
using tavrin::sim::NoteServer;
using tavrin::sim::Request;

namespace {

constexpr int kWait = 10000;

QString heartBeatPath() {
    return QStringLiteral("/desktop/heartBeat/");
}

QString contentPath() {
    return QStringLiteral("/desktop/modifyNoteContent/");
}

QString savePath() {
    return QStringLiteral("/desktop/saveNow/");
}

// Two ideographic spaces before `text`: the indent of a plain paragraph.
QString indented(const QString& text) {
    return QStringLiteral("\u3000\u3000") + text;
}

QString shortcutHelp() {
    return QStringLiteral(
        "Ctrl+S:保存\nCtrl+T:字体大小\nCtrl+O:文字颜色\nCtrl+B:背景颜色\nCtrl+P:内边距\n"
        "Ctrl+Z:撤回\nPage Up:聚焦到文首\nPage Down:聚焦到文末\nCtrl+Shift+T:修改字体\n"
        "Ctrl+Shift+F:段首缩进+插入空行\nCtrl+Shift+L:移除空行\n"
        "Shift+Tab:移除段首缩进\nCtrl+Shift+Z:反撤回");
}

// Many screens long, and every reformatting finds something to change in it.
QString longNote() {
    QString text;
    for (int i = 0; i < 120; ++i)
        text += QStringLiteral("\tline %1\n\n\n").arg(i);
    return text + QStringLiteral("end");
}

QString text(const SceneFixture& scene) {
    return scene.textEdit()->property("text").toString();
}

void setText(const SceneFixture& scene, const QString& text) {
    scene.textEdit()->setProperty("text", text);
}

// TextEdit.select() raises a text change of its own, recorded like any other;
// the checks below compare the history with its state after the selection.
void select(const SceneFixture& scene, int start, int end) {
    QMetaObject::invokeMethod(scene.textEdit(), "select", Q_ARG(int, start), Q_ARG(int, end));
}

void placeCursor(const SceneFixture& scene, int position) {
    scene.textEdit()->setProperty("cursorPosition", position);
}

int selectionStart(const SceneFixture& scene) {
    return scene.textEdit()->property("selectionStart").toInt();
}

int selectionEnd(const SceneFixture& scene) {
    return scene.textEdit()->property("selectionEnd").toInt();
}

qreal contentY(const SceneFixture& scene) {
    return scene.find(QStringLiteral("flickView"))->property("contentY").toReal();
}

void setContentY(const SceneFixture& scene, qreal y) {
    scene.find(QStringLiteral("flickView"))->setProperty("contentY", y);
}

QString titleOf(const SceneFixture& scene, const QString& dialog) {
    return scene.find(dialog)->property("title").toString();
}

bool isOpen(const SceneFixture& scene, const QString& dialog) {
    return scene.find(dialog)->property("visible").toBool();
}

qreal sliderValue(const SceneFixture& scene, const QString& slider) {
    return scene.find(slider)->property("value").toReal();
}

int setting(const SceneFixture& scene, const QByteArray& name) {
    return scene.settings()->property(name.constData()).toInt();
}

QString settingText(const SceneFixture& scene, const QByteArray& name) {
    return scene.settings()->property(name.constData()).toString();
}

// A slider move as the slider reports it: the new value, then `moved`.
void moveSlider(const SceneFixture& scene, const QString& slider, qreal value) {
    QObject* target = scene.find(slider);
    target->setProperty("value", value);
    QMetaObject::invokeMethod(target, "moved");
}

QStringList pushedContents(const NoteServer& phone) {
    QStringList contents;
    for (const Request& r : phone.requests(contentPath()))
        contents << r.form.value(QStringLiteral("content"));
    return contents;
}

// Enters the phone's address as the user does and waits until its note is
// loaded and the loaded text has gone back to the phone once.
bool connectToPhone(SceneFixture& scene, const NoteServer& phone) {
    scene.item(QStringLiteral("ipInput"))->setProperty("text", phone.host());
    return QTest::qWaitFor(
        [&] { return scene.attrs()->isLoadOk() && phone.requestCount(contentPath()) >= 1; }, kWait);
}

// Anything the link had queued before now has been sent once the phone has
// seen `count` more heartbeats.
bool waitForHeartbeats(const NoteServer& phone, int count) {
    const int target = phone.requestCount(heartBeatPath()) + count;
    return QTest::qWaitFor([&] { return phone.requestCount(heartBeatPath()) >= target; }, kWait);
}

const QStringList kDialogs{QStringLiteral("msgDialog"),     QStringLiteral("fontSizeDialog"),
                           QStringLiteral("paddingDialog"), QStringLiteral("colorDialog"),
                           QStringLiteral("bgColorDialog"), QStringLiteral("fontDialog")};

bool isPlatformDialog(const QString& dialog) {
    return dialog == QLatin1String("colorDialog") || dialog == QLatin1String("bgColorDialog") ||
           dialog == QLatin1String("fontDialog");
}

void closeDialog(const SceneFixture& scene, const QString& dialog) {
    if (isPlatformDialog(dialog))
        QMetaObject::invokeMethod(scene.find(dialog), "close");
    else
        scene.find(dialog)->setProperty("visible", false);
}

enum class Screen { Editor, Connection };

enum class Operation {
    AutoFormat,
    ScrollToTop,
    ScrollToBottom,
    FontSizeDialog,
    RemoveIndent,
    RemoveBlankLines,
    FontDialog,
    PaddingDialog,
    ColorDialog,
    BgColorDialog,
    Save,
    Undo,
    Redo,
};

QString dialogOpenedBy(Operation op) {
    switch (op) {
    case Operation::FontSizeDialog:
        return QStringLiteral("fontSizeDialog");
    case Operation::FontDialog:
        return QStringLiteral("fontDialog");
    case Operation::PaddingDialog:
        return QStringLiteral("paddingDialog");
    case Operation::ColorDialog:
        return QStringLiteral("colorDialog");
    case Operation::BgColorDialog:
        return QStringLiteral("bgColorDialog");
    default:
        return QString();
    }
}

} // namespace

Q_DECLARE_METATYPE(Screen)
Q_DECLARE_METATYPE(Operation)

class SceneToolsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { initSceneTestProcess(); }

    // ---- Reformatting ------------------------------------------------------

    void autoFormatReshapesTheWholeNote_data() {
        QTest::addColumn<bool>("markdown");
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::addColumn<QString>("after");
        QTest::newRow("plain") << false << QStringLiteral("\ta\n\n\nb") << 2 << 4
                               << indented(QStringLiteral("a\n\n") + indented(QStringLiteral("b")));
        QTest::newRow("markdown, three spaces")
            << true << QStringLiteral("a   \nb") << 3 << 5 << QStringLiteral("a   \n\nb");
        const QString formatted = indented(QStringLiteral("a\n\n") + indented(QStringLiteral("b")));
        QTest::newRow("plain, already formatted") << false << formatted << 1 << 6 << formatted;
    }

    void autoFormatReshapesTheWholeNote() {
        QFETCH(bool, markdown);
        QFETCH(QString, before);
        QFETCH(int, start);
        QFETCH(int, end);
        QFETCH(QString, after);
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        scene.attrs()->setMarkdown(markdown);
        setText(scene, before);
        select(scene, start, end);
        const QStringList history = scene.attrs()->inStack();
        QSignalSpy changes(scene.textEdit(), SIGNAL(textChanged()));

        scene.call("autoFormat");
        QCOMPARE(text(scene), after);
        // A new text is recorded once; the same text raises nothing and records nothing.
        QCOMPARE(changes.count(), after == before ? 0 : 1);
        QCOMPARE(scene.attrs()->inStack(),
                 after == before ? history : history + QStringList{after});
        // The selection collapses to its old start.
        QCOMPARE(selectionStart(scene), start);
        QCOMPARE(selectionEnd(scene), start);
    }

    void removalsWorkOnTheSelection_data() {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::addColumn<QString>("after");
        QTest::addColumn<int>("cursor"); // -1: where assigning `after` puts it
        QTest::newRow("blank lines, selection from b to the end")
            << "removeBlankLines" << QStringLiteral("a\n\n\nb\n\n\nc") << 4 << 9
            << QStringLiteral("a\n\n\nb\nc") << 4;
        QTest::newRow("indent, second line selected")
            << "removeIndent" << QStringLiteral("\ta\n\tb") << 3 << 5 << QStringLiteral("\ta\nb")
            << 3;
        QTest::newRow("cursor keeps its number")
            << "removeBlankLines" << QStringLiteral("a\n\n\nbcdef") << 7 << 7
            << QStringLiteral("a\nbcdef") << 7;
        QTest::newRow("cursor beyond the new end")
            << "removeBlankLines" << QStringLiteral("a\n\n\nb") << 5 << 5 << QStringLiteral("a\nb")
            << -1;
        QTest::newRow("indent, whole text")
            << "removeIndent" << QStringLiteral("\u3000\u3000a\tb\t\tc") << 1 << 1
            << QStringLiteral("abc") << 1;
    }

    void removalsWorkOnTheSelection() {
        QFETCH(QString, operation);
        QFETCH(QString, before);
        QFETCH(int, start);
        QFETCH(int, end);
        QFETCH(QString, after);
        QFETCH(int, cursor);
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        if (cursor < 0) {
            // Where the editor itself puts the cursor when it is given the new text.
            setText(scene, before);
            select(scene, start, end);
            setText(scene, after);
            cursor = selectionStart(scene);
            QVERIFY(cursor <= after.size());
        }
        setText(scene, before);
        select(scene, start, end);
        QCOMPARE(selectionStart(scene), start);
        const QStringList history = scene.attrs()->inStack();

        scene.call(operation.toLatin1().constData());
        QCOMPARE(text(scene), after);
        QCOMPARE(selectionStart(scene), cursor);
        QCOMPARE(selectionEnd(scene), cursor);
        QCOMPARE(scene.attrs()->inStack(), history + QStringList{after});
    }

    void removalsLogAndObeyTheNoteGuard_data() {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("logLine");
        QTest::addColumn<int>("noteId");
        QTest::addColumn<QString>("after");
        const QString before = QStringLiteral("\ta\n\n\nb");
        QTest::newRow("indent, no note") << "removeIndent"
                                         << "shift + Tab" << 0 << before;
        QTest::newRow("blank lines, no note") << "removeBlankLines"
                                              << "shift + Shift + L" << 0 << before;
        QTest::newRow("indent, note 7") << "removeIndent"
                                        << "shift + Tab" << 7 << QStringLiteral("a\n\n\nb");
        QTest::newRow("blank lines, note 7")
            << "removeBlankLines"
            << "shift + Shift + L" << 7 << QStringLiteral("\ta\nb");
    }

    void removalsLogAndObeyTheNoteGuard() {
        QFETCH(QString, operation);
        QFETCH(QString, logLine);
        QFETCH(int, noteId);
        QFETCH(QString, after);
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        scene.attrs()->setNoteId(QJsonValue(noteId));
        setText(scene, QStringLiteral("\ta\n\n\nb"));
        const QStringList history = scene.attrs()->inStack();

        QTest::ignoreMessage(QtDebugMsg, qPrintable(logLine));
        scene.call(operation.toLatin1().constData());
        QCOMPARE(text(scene), after);
        if (noteId == 0)
            QCOMPARE(scene.attrs()->inStack(), history);
        else
            QCOMPARE(scene.attrs()->inStack(), history + QStringList{after});
    }

    void hintIsIndentedRecordedAndNotSent() {
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        NoteServer phone;
        QVERIFY(phone.start(QStringLiteral("127.0.2.1"), 8080));
        phone.closeNote();
        scene.item(QStringLiteral("ipInput"))->setProperty("text", phone.host());
        QTRY_COMPARE_WITH_TIMEOUT(text(scene), tavrin::link::noNoteHint(), kWait);
        QVERIFY(scene.attrs()->noteIdIsZero());
        QVERIFY(scene.item(QStringLiteral("scrollView"))->isVisible());

        scene.call("autoFormat");
        QCOMPARE(text(scene), indented(QStringLiteral("请打开一篇纯文本便签")));
        QCOMPARE(scene.attrs()->inStack().last(), indented(QStringLiteral("请打开一篇纯文本便签")));
        QVERIFY(waitForHeartbeats(phone, 2));
        QCOMPARE(phone.requestCount(contentPath()), 0);
    }

    void scrollPositionIsRestored_data() {
        QTest::addColumn<QString>("operation");
        QTest::newRow("autoFormat") << "autoFormat";
        QTest::newRow("removeIndent") << "removeIndent";
        QTest::newRow("removeBlankLines") << "removeBlankLines";
    }

    void scrollPositionIsRestored() {
        QFETCH(QString, operation);
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        scene.call("showIpInputView", {false});
        setText(scene, longNote());
        placeCursor(scene, 3);
        setContentY(scene, 2000);
        QSignalSpy cursorMoves(scene.textEdit(), SIGNAL(cursorRectangleChanged()));

        scene.call(operation.toLatin1().constData());
        QVERIFY(text(scene) != longNote());
        QCOMPARE(selectionStart(scene), 3);
        // The cursor went back to the first line, which scrolled the view to it
        // on the way; the old position is put back last.
        QVERIFY(cursorMoves.count() > 0);
        QVERIFY(scene.textEdit()->property("cursorRectangle").toRectF().bottom() < 2000);
        QCOMPARE(contentY(scene), 2000.0);
    }

    void reformattingIsRecordedAndPushedOnce() {
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        NoteServer phone;
        QVERIFY(phone.start(QStringLiteral("127.0.2.2"), 8080));
        const QString loaded = QStringLiteral("\ta\n\n\n\tb");
        phone.openNote(QJsonValue(41), loaded);
        QVERIFY(connectToPhone(scene, phone));
        QCOMPARE(text(scene), loaded);
        QTRY_COMPARE_WITH_TIMEOUT(pushedContents(phone), QStringList{loaded}, kWait);

        const QStringList steps{QStringLiteral("removeBlankLines"), QStringLiteral("removeIndent"),
                                QStringLiteral("autoFormat")};
        const QStringList results{
            QStringLiteral("\ta\n\tb"), QStringLiteral("a\nb"),
            indented(QStringLiteral("a\n\n") + indented(QStringLiteral("b")))};
        for (int i = 0; i < steps.size(); ++i) {
            scene.call(steps[i].toLatin1().constData());
            QCOMPARE(text(scene), results[i]);
            QCOMPARE(scene.attrs()->inStack().last(), results[i]);
            QTRY_COMPARE_WITH_TIMEOUT(phone.content(), results[i], kWait);
        }
        QVERIFY(waitForHeartbeats(phone, 2));
        QCOMPARE(pushedContents(phone), QStringList{loaded} + results);
        QCOMPARE(scene.attrs()->inStack(), QStringList{loaded} + results);
    }

    // ---- Key bindings ------------------------------------------------------

    void shortcutsStartTheirOperation_data() {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<Screen>("screen");
        QTest::addColumn<QString>("address"); // of a phone with a note open; empty for none
        struct Binding {
            const char* keys;
            Operation operation;
        };
        const QList<Binding> bindings{
            {"Ctrl+Shift+F", Operation::AutoFormat},
            {"Page Up", Operation::ScrollToTop},
            {"Page Down", Operation::ScrollToBottom},
            {"Ctrl+T", Operation::FontSizeDialog},
            {"Shift+Tab", Operation::RemoveIndent},
            {"Ctrl+Shift+L", Operation::RemoveBlankLines},
            {"Ctrl+Shift+T", Operation::FontDialog},
            {"Ctrl+P", Operation::PaddingDialog},
            {"Ctrl+O", Operation::ColorDialog},
            {"Ctrl+B", Operation::BgColorDialog},
            {"Ctrl+S", Operation::Save},
            {"Ctrl+Z", Operation::Undo},
            {"Ctrl+Shift+Z", Operation::Redo},
        };
        for (const Binding& b : bindings) {
            const bool needsPhone = b.operation == Operation::Save;
            QTest::addRow("%s, editor screen", b.keys)
                << QString::fromLatin1(b.keys) << b.operation << Screen::Editor
                << (needsPhone ? QStringLiteral("127.0.2.10") : QString());
            QTest::addRow("%s, connection screen", b.keys)
                << QString::fromLatin1(b.keys) << b.operation << Screen::Connection
                << (needsPhone ? QStringLiteral("127.0.2.11") : QString());
        }
    }

    void shortcutsStartTheirOperation() {
        QFETCH(QString, keys);
        QFETCH(Operation, operation);
        QFETCH(Screen, screen);
        QFETCH(QString, address);
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QVERIFY(scene.activate());
        NoteServer phone;
        if (!address.isEmpty()) {
            QVERIFY(phone.start(address, 8080));
            phone.openNote(QJsonValue(41), QStringLiteral("on the phone"));
            QVERIFY(connectToPhone(scene, phone));
        }

        // What the operation works on.
        QString before = text(scene);
        QString after = before;
        switch (operation) {
        case Operation::AutoFormat:
            before = QStringLiteral("a\nb");
            after = indented(QStringLiteral("a\n\n") + indented(QStringLiteral("b")));
            break;
        case Operation::RemoveIndent:
            before = QStringLiteral("\ta\n\tb");
            after = QStringLiteral("a\nb");
            break;
        case Operation::RemoveBlankLines:
            before = QStringLiteral("a\n\n\nb");
            after = QStringLiteral("a\nb");
            break;
        case Operation::Undo:
            setText(scene, QStringLiteral("one"));
            before = after = QStringLiteral("two");
            break;
        case Operation::Redo:
            before = QStringLiteral("two");
            after = QStringLiteral("three");
            break;
        case Operation::Save:
            break;
        default:
            before = after = longNote();
            break;
        }
        setText(scene, before);
        if (operation == Operation::Redo)
            scene.history()->addToOutStack(QStringLiteral("three"));
        placeCursor(scene, 1);
        setContentY(scene, operation == Operation::ScrollToBottom ? 0 : 300);

        scene.call("showIpInputView", {screen == Screen::Connection});
        QQuickItem* field = scene.item(screen == Screen::Editor ? QStringLiteral("textEdit")
                                                                : QStringLiteral("ipInput"));
        field->forceActiveFocus();
        // Ctrl+Z and Ctrl+Shift+Z belong to a focused text field (see editorKeepsItsOwnUndo).
        if (operation == Operation::Undo || operation == Operation::Redo) {
            field->setFocus(false);
            QVERIFY(!scene.item(QStringLiteral("textEdit"))->hasActiveFocus());
            QVERIFY(!scene.item(QStringLiteral("ipInput"))->hasActiveFocus());
        }
        QQuickItem* focused = scene.window()->activeFocusItem();
        QVERIFY(focused);
        const QString addressText =
            scene.item(QStringLiteral("ipInput"))->property("text").toString();
        const int saves = phone.saveCount();

        // Shift+Tab reaches the window as the back-tab key with Shift.
        const QKeySequence sequence(keys);
        const auto modifiers = Qt::KeyboardModifiers(sequence[0] & Qt::KeyboardModifierMask);
        Qt::Key key = Qt::Key(sequence[0] & ~Qt::KeyboardModifierMask);
        if (key == Qt::Key_Tab && modifiers == Qt::ShiftModifier)
            key = Qt::Key_Backtab;
        scene.key(key, modifiers);

        const QString dialog = dialogOpenedBy(operation);
        for (const QString& name : kDialogs)
            QVERIFY2(isOpen(scene, name) == (name == dialog), qPrintable(name));
        if (!dialog.isEmpty()) {
            closeDialog(scene, dialog);
            QTRY_VERIFY_WITH_TIMEOUT(!isOpen(scene, dialog), kWait);
        } else {
            // The key went to the binding only: nothing typed, the focus where it was.
            QCOMPARE(scene.window()->activeFocusItem(), focused);
        }
        QCOMPARE(text(scene), after);
        QCOMPARE(scene.item(QStringLiteral("ipInput"))->property("text").toString(), addressText);
        if (operation != Operation::Redo)
            QCOMPARE(selectionStart(scene), 1);

        switch (operation) {
        case Operation::ScrollToTop:
            QCOMPARE(contentY(scene), 0.0);
            break;
        case Operation::ScrollToBottom: {
            QObject* flick = scene.find(QStringLiteral("flickView"));
            const qreal bottom =
                flick->property("contentHeight").toReal() - flick->property("height").toReal();
            QVERIFY(bottom > 300);
            QCOMPARE(contentY(scene), bottom);
            break;
        }
        case Operation::AutoFormat:
        case Operation::RemoveIndent:
        case Operation::RemoveBlankLines:
            QCOMPARE(contentY(scene), 300.0);
            QCOMPARE(scene.attrs()->inStack().last(), after);
            break;
        case Operation::Save:
            QTRY_COMPARE_WITH_TIMEOUT(phone.saveCount(), saves + 1, kWait);
            QCOMPARE(phone.requests(savePath()).last().body, QByteArray("noteId=41"));
            break;
        case Operation::Undo:
            QCOMPARE(scene.attrs()->inStack(), QStringList{QStringLiteral("one")});
            QCOMPARE(scene.attrs()->outStack(), QStringList{QStringLiteral("two")});
            break;
        case Operation::Redo:
            QVERIFY(scene.attrs()->outStack().isEmpty());
            QCOMPARE(scene.attrs()->inStack().last(), QStringLiteral("three"));
            break;
        default:
            QCOMPARE(contentY(scene), 300.0);
            break;
        }
        if (operation != Operation::Save && phone.isRunning())
            QCOMPARE(phone.saveCount(), saves);
    }

    void saveWithNoNoteSendsNothing() {
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QVERIFY(scene.activate());
        NoteServer phone;
        QVERIFY(phone.start(QStringLiteral("127.0.2.3"), 8080));
        phone.closeNote();
        scene.item(QStringLiteral("ipInput"))->setProperty("text", phone.host());
        QTRY_COMPARE_WITH_TIMEOUT(text(scene), tavrin::link::noNoteHint(), kWait);
        QVERIFY(scene.attrs()->noteIdIsZero());
        scene.item(QStringLiteral("textEdit"))->forceActiveFocus();

        scene.key(Qt::Key_S, Qt::ControlModifier);
        QVERIFY(waitForHeartbeats(phone, 2));
        QCOMPARE(phone.requestCount(savePath()), 0);

        // The same press with a note open does reach the phone.
        phone.openNote(QJsonValue(QStringLiteral("n-9")), QStringLiteral("note"));
        QTRY_VERIFY_WITH_TIMEOUT(scene.attrs()->isLoadOk(), kWait);
        scene.key(Qt::Key_S, Qt::ControlModifier);
        QTRY_COMPARE_WITH_TIMEOUT(phone.requestCount(savePath()), 1, kWait);
        QCOMPARE(phone.requests(savePath()).first().body, QByteArray("noteId=n-9"));
    }

    void editorKeepsItsOwnUndo_data() {
        QTest::addColumn<QString>("field");
        QTest::newRow("editor") << "textEdit";
        QTest::newRow("address field") << "ipInput";
    }

    // While a text field has the focus, Ctrl+Z and Ctrl+Shift+Z are that
    // field's own undo and redo of typing, as the toolkit gives precedence.
    void editorKeepsItsOwnUndo() {
        QFETCH(QString, field);
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QVERIFY(scene.activate());
        const bool inEditor = field == QLatin1String("textEdit");
        if (inEditor)
            QVERIFY(scene.openNote(QJsonValue(1), QString())); // typing needs a note
        else
            scene.call("showIpInputView", {true});
        setText(scene, QStringLiteral("one"));
        setText(scene, QStringLiteral("two"));
        QQuickItem* target = scene.item(field);
        target->forceActiveFocus();
        QTRY_VERIFY(target->hasActiveFocus());
        scene.key(Qt::Key_End, Qt::ControlModifier);
        scene.typeText(QStringLiteral("xy"));
        const QString typed = target->property("text").toString();
        QCOMPARE(typed, inEditor ? QStringLiteral("twoxy") : QStringLiteral("xy"));
        scene.history()->addToOutStack(QStringLiteral("kept"));
        const QStringList undoHistory = scene.attrs()->inStack();

        scene.key(Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(target->property("text").toString() != typed);
        QVERIFY(typed.startsWith(target->property("text").toString()));
        QCOMPARE(scene.attrs()->outStack(), QStringList{QStringLiteral("kept")});

        scene.key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(target->property("text").toString(), typed);
        QCOMPARE(scene.attrs()->outStack(), QStringList{QStringLiteral("kept")});
        if (!inEditor) {
            QCOMPARE(text(scene), QStringLiteral("two"));
            QCOMPARE(scene.attrs()->inStack(), undoHistory);
        } else {
            // With nothing left to redo in the editor, redo is the history's.
            scene.key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
            QCOMPARE(target->property("text").toString(), QStringLiteral("kept"));
            QVERIFY(scene.attrs()->outStack().isEmpty());
        }
    }

    // ---- Dialogs -----------------------------------------------------------

    void freshSliderDialogs() {
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QVERIFY(scene.activate());
        scene.key(Qt::Key_T, Qt::ControlModifier);
        QTRY_VERIFY_WITH_TIMEOUT(isOpen(scene, "fontSizeDialog"), kWait);
        QCOMPARE(titleOf(scene, "fontSizeDialog"), QStringLiteral("设置字体大小15"));
        QCOMPARE(sliderValue(scene, "fontSizeSlider"), 15.0);
        scene.key(Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(!isOpen(scene, "fontSizeDialog"), kWait);

        scene.key(Qt::Key_P, Qt::ControlModifier);
        QTRY_VERIFY_WITH_TIMEOUT(isOpen(scene, "paddingDialog"), kWait);
        QCOMPARE(titleOf(scene, "paddingDialog"), QStringLiteral("设置内边距：10"));
        QCOMPARE(sliderValue(scene, "paddingSlider"), 10.0);
    }

    void sliderMoveStoresTheCeiling_data() {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("slider");
        QTest::addColumn<QString>("key"); // the setting
        QTest::addColumn<QString>("titleText");
        QTest::newRow("font size") << "fontSizeDialog"
                                   << "fontSizeSlider"
                                   << "fontSize" << QStringLiteral("设置字体大小");
        QTest::newRow("padding") << "paddingDialog"
                                 << "paddingSlider"
                                 << "padding" << QStringLiteral("设置内边距：");
    }

    void sliderMoveStoresTheCeiling() {
        QFETCH(QString, dialog);
        QFETCH(QString, slider);
        QFETCH(QString, key);
        QFETCH(QString, titleText);
        const QByteArray name = key.toLatin1();
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QVERIFY(scene.activate());
        scene.find(dialog)->setProperty("visible", true);
        QTRY_VERIFY_WITH_TIMEOUT(scene.find(dialog)->property("opened").toBool(), kWait);

        moveSlider(scene, slider, 20.2);
        QCOMPARE(setting(scene, name), 21);
        QCOMPARE(titleOf(scene, dialog), titleText + QLatin1String("21"));
        QCOMPARE(sliderValue(scene, slider), 21.0);
        QObject* edit = scene.textEdit();
        if (key == QLatin1String("fontSize"))
            QCOMPARE(edit->property("font").value<QFont>().pixelSize(), 21);
        else
            QCOMPARE(edit->property("textMargin").toReal(), 21.0);

        // From the first move on the title is fixed; the slider keeps following.
        scene.settings()->setProperty(name.constData(), 30);
        QCOMPARE(sliderValue(scene, slider), 30.0);
        QCOMPARE(titleOf(scene, dialog), titleText + QLatin1String("21"));

        // Real drags of the handle past either end of the track.
        QQuickItem* track = scene.item(slider);
        QQuickItem* handle = track->property("handle").value<QQuickItem*>();
        QVERIFY(handle);
        const QPointF window0 = track->mapFromScene(QPointF(1, 0));
        const QPointF windowEnd = track->mapFromScene(QPointF(scene.window()->width() - 1, 0));
        const qreal middle = track->height() / 2;
        QVERIFY(window0.x() < 0 && windowEnd.x() > track->width());
        scene.drag(track, handle->position() + QPointF(handle->width(), handle->height()) / 2,
                   QPointF(window0.x(), middle));
        QCOMPARE(setting(scene, name), 0);
        QCOMPARE(sliderValue(scene, slider), 0.0);
        QCOMPARE(titleOf(scene, dialog), titleText + QLatin1String("0"));
        QVERIFY(isOpen(scene, dialog));

        scene.drag(track, handle->position() + QPointF(handle->width(), handle->height()) / 2,
                   QPointF(windowEnd.x(), middle));
        QCOMPARE(setting(scene, name), 40);
        QCOMPARE(sliderValue(scene, slider), 40.0);
        QCOMPARE(titleOf(scene, dialog), titleText + QLatin1String("40"));
    }

    void sliderShowsAnOutOfRangeSettingAtTheEnd_data() {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("slider");
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("held"); // what the store takes of it
        QTest::addColumn<qreal>("handle");
        QTest::addColumn<QString>("title");
        // The font dialog picks sizes beyond the slider's 40, up to 96 pixels.
        QTest::newRow("font size 55")
            << "fontSizeDialog"
            << "fontSizeSlider"
            << "fontSize" << 55 << 55 << 40.0 << QStringLiteral("设置字体大小55");
        QTest::newRow("font size 500")
            << "fontSizeDialog"
            << "fontSizeSlider"
            << "fontSize" << 500 << 96 << 40.0 << QStringLiteral("设置字体大小96");
        QTest::newRow("font size -5") << "fontSizeDialog"
                                      << "fontSizeSlider"
                                      << "fontSize" << -5 << 0 << 0.0
                                      << QStringLiteral("设置字体大小0");
        // A margin goes from 0 to 40, like its slider.
        QTest::newRow("padding 41") << "paddingDialog"
                                    << "paddingSlider"
                                    << "padding" << 41 << 40 << 40.0
                                    << QStringLiteral("设置内边距：40");
        QTest::newRow("padding -3") << "paddingDialog"
                                    << "paddingSlider"
                                    << "padding" << -3 << 0 << 0.0 << QStringLiteral("设置内边距：0");
    }

    void sliderShowsAnOutOfRangeSettingAtTheEnd() {
        QFETCH(QString, dialog);
        QFETCH(QString, slider);
        QFETCH(QString, key);
        QFETCH(int, value);
        QFETCH(int, held);
        QFETCH(qreal, handle);
        QFETCH(QString, title);
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        scene.settings()->setProperty(key.toLatin1().constData(), value);
        scene.find(dialog)->setProperty("visible", true);
        QCOMPARE(sliderValue(scene, slider), handle);
        QCOMPARE(titleOf(scene, dialog), title);
        QCOMPARE(setting(scene, key.toLatin1()), held); // shown, not written back
    }

    void showMsgReplacesAndRecentres() {
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QVERIFY(scene.activate());
        QObject* dialog = scene.find("msgDialog");
        QObject* label = scene.find("msgLabel");
        QCOMPARE(dialog->property("title").toString(), QString());
        QCOMPARE(label->property("text").toString(), QString());
        auto centred = [&] {
            const qreal width = dialog->property("width").toReal();
            const qreal height = dialog->property("height").toReal();
            return dialog->property("x").toReal() == 240 - width / 2 &&
                   dialog->property("y").toReal() == 320 - height / 2;
        };

        scene.call("showMsg", {QStringLiteral("第一"), QStringLiteral("短")});
        QTRY_VERIFY_WITH_TIMEOUT(dialog->property("opened").toBool(), kWait);
        QCOMPARE(dialog->property("width").toReal(), 280.0);
        QTRY_VERIFY_WITH_TIMEOUT(centred(), kWait);
        const qreal shortHeight = dialog->property("height").toReal();
        QSignalSpy closings(dialog, SIGNAL(aboutToHide()));

        // One long run of Chinese text and one long word: both wrap inside 280 pixels.
        const QString longText =
            QString(60, QChar(0x5b57)) + QLatin1Char('\n') + QString(80, QLatin1Char('w'));
        scene.call("showMsg", {QStringLiteral("第二"), longText});
        QCOMPARE(dialog->property("title").toString(), QStringLiteral("第二"));
        QCOMPARE(label->property("text").toString(), longText);
        QVERIFY(dialog->property("visible").toBool());
        QCOMPARE(closings.count(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(dialog->property("height").toReal() > shortHeight, kWait);
        QTRY_VERIFY_WITH_TIMEOUT(centred(), kWait);
        QVERIFY(label->property("lineCount").toInt() > 4);
        QCOMPARE(label->property("width").toReal(), 280.0);
    }

    void shortcutButtonShowsTheHelp() {
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QVERIFY(scene.activate());
        scene.call("showMsg", {QStringLiteral("旧"), QStringLiteral("旧的文字")});
        scene.find("msgDialog")->setProperty("visible", false);
        QTRY_VERIFY_WITH_TIMEOUT(!isOpen(scene, "msgDialog"), kWait);

        scene.click(scene.item("btnShortcut"));
        QTRY_VERIFY_WITH_TIMEOUT(isOpen(scene, "msgDialog"), kWait);
        QCOMPARE(titleOf(scene, "msgDialog"), QStringLiteral("快捷键说明"));
        const QString help = scene.find("msgLabel")->property("text").toString();
        QCOMPARE(help, shortcutHelp());
        // Every line names the keys of one of the window's shortcuts, and each shortcut has a line.
        QStringList helpKeys;
        for (const QString& line : help.split(QLatin1Char('\n')))
            helpKeys << QKeySequence(line.section(QLatin1Char(':'), 0, 0)).toString();
        QStringList boundKeys;
        for (QObject* object : scene.window()->findChildren<QObject*>())
            if (object->inherits("QQuickAction"))
                boundKeys << QKeySequence(object->property("shortcut").toString()).toString();
        helpKeys.sort();
        boundKeys.sort();
        QCOMPARE(helpKeys, boundKeys);
        QCOMPARE(helpKeys.size(), 13);
    }

    void popupDialogsClose_data() {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<bool>("byEscape"); // otherwise by a press outside
        for (const char* dialog : {"msgDialog", "fontSizeDialog", "paddingDialog"}) {
            QTest::addRow("%s, Escape", dialog) << QString::fromLatin1(dialog) << true;
            QTest::addRow("%s, press outside", dialog) << QString::fromLatin1(dialog) << false;
        }
    }

    void popupDialogsClose() {
        QFETCH(QString, dialog);
        QFETCH(bool, byEscape);
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QVERIFY(scene.activate());
        if (dialog == QLatin1String("msgDialog"))
            scene.call("showShortcuts");
        else
            scene.key(dialog == QLatin1String("fontSizeDialog") ? Qt::Key_T : Qt::Key_P,
                      Qt::ControlModifier);
        QTRY_VERIFY_WITH_TIMEOUT(scene.find(dialog)->property("opened").toBool(), kWait);

        if (byEscape)
            scene.key(Qt::Key_Escape);
        else
            QTest::mouseClick(scene.window(), Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
        QTRY_VERIFY_WITH_TIMEOUT(!isOpen(scene, dialog), kWait);
    }

    void openingAnOpenDialogChangesNothing_data() {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("slider");
        QTest::addColumn<int>("key");
        QTest::newRow("font size") << "fontSizeDialog"
                                   << "fontSizeSlider" << int(Qt::Key_T);
        QTest::newRow("padding") << "paddingDialog"
                                 << "paddingSlider" << int(Qt::Key_P);
    }

    void openingAnOpenDialogChangesNothing() {
        QFETCH(QString, dialog);
        QFETCH(QString, slider);
        QFETCH(int, key);
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QVERIFY(scene.activate());
        QObject* popup = scene.find(dialog);
        QSignalSpy shows(popup, SIGNAL(aboutToShow()));
        QSignalSpy hides(popup, SIGNAL(aboutToHide()));
        scene.key(Qt::Key(key), Qt::ControlModifier);
        QTRY_VERIFY_WITH_TIMEOUT(popup->property("opened").toBool(), kWait);
        moveSlider(scene, slider, 7.5);
        const QString title = titleOf(scene, dialog);

        // The open popup holds the key back; what the binding does, once more, changes nothing.
        scene.key(Qt::Key(key), Qt::ControlModifier);
        popup->setProperty("visible", true);
        QVERIFY(isOpen(scene, dialog));
        QCOMPARE(shows.count(), 1);
        QCOMPARE(hides.count(), 0);
        QCOMPARE(titleOf(scene, dialog), title);
        QCOMPARE(sliderValue(scene, slider), 8.0);
    }

    // The platform dialogs are driven through accept() and reject(), without
    // their platform window.
    void colourDialogsStoreTheChosenColour_data() {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QColor>("chosen");
        QTest::addColumn<QString>("stored");
        QTest::newRow("text colour, red")
            << "colorDialog"
            << "color" << QColor(Qt::red) << QStringLiteral("#ff0000");
        QTest::newRow("background, half transparent")
            << "bgColorDialog"
            << "bgColor" << QColor(0x11, 0x22, 0x33, 0x80) << QStringLiteral("#80112233");
        QTest::newRow("background, opaque")
            << "bgColorDialog"
            << "bgColor" << QColor(0xab, 0xcd, 0xef) << QStringLiteral("#abcdef");
    }

    void colourDialogsStoreTheChosenColour() {
        QFETCH(QString, dialog);
        QFETCH(QString, key);
        QFETCH(QColor, chosen);
        QFETCH(QString, stored);
        const QByteArray name = key.toLatin1();
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QObject* colours = scene.find(dialog);
        const QString initial = settingText(scene, name);
        QCOMPARE(colours->property("currentColor").value<QColor>(), QColor(initial));

        colours->setProperty("currentColor", QColor(Qt::blue));
        QMetaObject::invokeMethod(colours, "reject");
        QCOMPARE(settingText(scene, name), initial);

        colours->setProperty("currentColor", chosen);
        QMetaObject::invokeMethod(colours, "accept");
        QCOMPARE(settingText(scene, name), stored);
        if (key == QLatin1String("color"))
            QCOMPARE(scene.textEdit()->property("color").value<QColor>(), chosen);
    }

    void fontDialogStoresSizeAndFamily_data() {
        QTest::addColumn<QFont>("chosen");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("family");
        QFont pixels(QStringLiteral("DejaVu Serif"));
        pixels.setPixelSize(30);
        pixels.setBold(true);
        QTest::newRow("30 pixels") << pixels << 30 << QStringLiteral("DejaVu Serif");
        // Converted at 96 dpi: 12 pt are 16 pixels.
        QTest::newRow("12 points") << QFont(QStringLiteral("DejaVu Sans Mono"), 12) << 16
                                   << QStringLiteral("DejaVu Sans Mono");
    }

    void fontDialogStoresSizeAndFamily() {
        QFETCH(QFont, chosen);
        QFETCH(int, size);
        QFETCH(QString, family);
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QObject* fonts = scene.find("fontDialog");
        // It opens on the editor's 15 pixels, in points, with a real family.
        const QFont opening = fonts->property("currentFont").value<QFont>();
        QCOMPARE(opening.pointSizeF(), 11.25);
        QVERIFY(!opening.family().isEmpty());
        QMetaObject::invokeMethod(fonts, "accept");
        QCOMPARE(setting(scene, "fontSize"), 15);
        scene.settings()->setProperty("fontFamily", QString());

        QFont other(QStringLiteral("DejaVu Sans"));
        other.setPixelSize(33);
        fonts->setProperty("currentFont", other);
        QMetaObject::invokeMethod(fonts, "reject");
        QCOMPARE(setting(scene, "fontSize"), 15);
        QCOMPARE(settingText(scene, "fontFamily"), QString());

        fonts->setProperty("currentFont", chosen);
        QMetaObject::invokeMethod(fonts, "accept");
        QCOMPARE(setting(scene, "fontSize"), size);
        QCOMPARE(settingText(scene, "fontFamily"), family);
        const QFont editorFont = scene.textEdit()->property("font").value<QFont>();
        QCOMPARE(editorFont.pixelSize(), size);
        QCOMPARE(editorFont.family(), family);
        QVERIFY(!editorFont.bold());
        // The font size dialog has not been moved: its title still follows.
        QCOMPARE(titleOf(scene, "fontSizeDialog"), QStringLiteral("设置字体大小%1").arg(size));
    }

    void fontDialogOpensOnTheEditorsFont() {
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        QVERIFY(scene.activate());
        scene.settings()->setProperty("fontFamily", QStringLiteral("DejaVu Sans"));
        scene.settings()->setProperty("fontSize", 20);
        QObject* fonts = scene.find("fontDialog");
        scene.key(Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier);
        QTRY_VERIFY_WITH_TIMEOUT(fonts->property("visible").toBool(), kWait);
        const QFont opening = fonts->property("currentFont").value<QFont>();
        QCOMPARE(opening.family(), QStringLiteral("DejaVu Sans"));
        QCOMPARE(opening.pointSizeF(), 15.0); // 20 pixels at 96 dpi
        // Where the platform has no dialog of its own, the widget dialog shows that font.
        int shown = 0;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<QFontDialog*>(widget); dialog && dialog->isVisible()) {
                ++shown;
                QCOMPARE(dialog->currentFont().family(), QStringLiteral("DejaVu Sans"));
                QCOMPARE(dialog->currentFont().pointSizeF(), 15.0);
            }
        }
        QCOMPARE(shown, 1);
        QMetaObject::invokeMethod(fonts, "reject");
        QTRY_VERIFY_WITH_TIMEOUT(!fonts->property("visible").toBool(), kWait);
        QCOMPARE(setting(scene, "fontSize"), 20);
    }

    void fontDialogAfterASliderMove() {
        QTemporaryDir dir;
        SceneFixture scene(dir.path());
        moveSlider(scene, "fontSizeSlider", 20.2);
        QCOMPARE(titleOf(scene, "fontSizeDialog"), QStringLiteral("设置字体大小21"));

        QFont chosen(QStringLiteral("DejaVu Sans"));
        chosen.setPixelSize(30);
        QObject* fonts = scene.find("fontDialog");
        fonts->setProperty("currentFont", chosen);
        QMetaObject::invokeMethod(fonts, "accept");
        QCOMPARE(setting(scene, "fontSize"), 30);
        QCOMPARE(sliderValue(scene, "fontSizeSlider"), 30.0);
        QCOMPARE(titleOf(scene, "fontSizeDialog"), QStringLiteral("设置字体大小21"));
    }
};

QTEST_MAIN(SceneToolsTest)
#include "tst_scene_tools.moc"
