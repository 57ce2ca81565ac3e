// The undo and redo histories, driven as the editor drives them: every change
// of the editor text is recorded, undo and redo assign whole texts.

#include "state/Attrs.h"
#include "tools/History.h"

#include <QJsonValue>
#include <QTest>

using tavrin::Attrs;
using tavrin::History;

namespace {

// The editor's part: a changed text raises one notification, which records it.
struct Editor {
    explicit Editor(History* history)
        : history(history) {
        QObject::connect(history, &History::restoreText, [this](const QString& t) { assign(t); });
    }
    void assign(const QString& newText) {
        if (newText == text)
            return;
        text = newText;
        ++notifications;
        history->addToInStack(text);
    }
    History* history;
    QString text;
    int notifications = 0;
};

QStringList texts(int from, int to) {
    QStringList list;
    for (int i = from; i <= to; ++i)
        list << QStringLiteral("text %1").arg(i);
    return list;
}

} // namespace

class HistoryTest : public QObject {
    Q_OBJECT

private slots:
    void workedSequence() {
        Attrs attrs;
        attrs.setNoteId(QJsonValue(1));
        History* history = attrs.history();
        Editor editor(history);

        struct Step {
            const char* action;
            QString text;
            QStringList undo;
            QStringList redo;
            bool notified;
        };
        const QList<Step> steps{
            {"type", "a", {"a"}, {}, true},       {"type", "ab", {"a", "ab"}, {}, true},
            {"undo", "ab", {"a"}, {"ab"}, false}, {"undo", "a", {"a"}, {"ab", "a"}, true},
            {"redo", "a", {"a"}, {"ab"}, false},  {"redo", "ab", {"a", "ab"}, {}, true},
        };
        for (const Step& step : steps) {
            const int before = editor.notifications;
            const QByteArray action(step.action);
            if (action == "type")
                editor.assign(step.text);
            else if (action == "undo")
                history->postToUndo();
            else
                history->postToRedo();
            QCOMPARE(editor.text, step.text);
            QCOMPARE(attrs.inStack(), step.undo);
            QCOMPARE(attrs.outStack(), step.redo);
            QCOMPARE(editor.notifications - before, step.notified ? 1 : 0);
        }
    }

    void boundedAndNeverEmpty() {
        History history;
        history.addToInStack(QString());
        QVERIFY(history.inStack().isEmpty());
        for (const QString& text : texts(1, 51))
            history.addToInStack(text);
        QCOMPARE(history.inStack(), texts(2, 51));

        // Two equal oldest entries: exactly one goes.
        History twins;
        twins.addToInStack(QStringLiteral("same"));
        twins.addToInStack(QStringLiteral("same"));
        for (const QString& text : texts(1, 48))
            twins.addToInStack(text);
        QCOMPARE(twins.inStack().size(), 50);
        twins.addToInStack(QStringLiteral("next"));
        QStringList expected{QStringLiteral("same")};
        expected << texts(1, 48) << QStringLiteral("next");
        QCOMPARE(twins.inStack(), expected);

        for (const QString& text : texts(1, 60))
            twins.addToOutStack(text);
        QCOMPARE(twins.outStack(), texts(11, 60));
        twins.clearStack();
        QVERIFY(twins.inStack().isEmpty() && twins.outStack().isEmpty());
    }

    void deletingAllThenUndo() {
        Attrs attrs;
        attrs.setNoteId(QJsonValue(1));
        Editor editor(attrs.history());
        editor.assign(QStringLiteral("note"));
        editor.assign(QString()); // nothing recorded
        QCOMPARE(attrs.inStack(), QStringList{QStringLiteral("note")});
        attrs.history()->postToUndo();
        QCOMPARE(editor.text, QStringLiteral("note"));
        QCOMPARE(attrs.inStack(), QStringList{QStringLiteral("note")});
        QCOMPARE(attrs.outStack(), QStringList{QStringLiteral("note")});
    }

    void typingAfterUndoKeepsRedo() {
        Attrs attrs;
        attrs.setNoteId(QJsonValue(QStringLiteral("string id")));
        Editor editor(attrs.history());
        editor.assign(QStringLiteral("a"));
        editor.assign(QStringLiteral("ab"));
        attrs.history()->postToUndo();
        attrs.history()->postToUndo();
        editor.assign(QStringLiteral("ax"));
        QCOMPARE(attrs.outStack(), (QStringList{QStringLiteral("ab"), QStringLiteral("a")}));
        attrs.history()->postToRedo();
        QCOMPARE(editor.text, QStringLiteral("a"));
    }

    void guardedByTheNoteId_data() {
        QTest::addColumn<QJsonValue>("id");
        QTest::addColumn<bool>("acts");
        QTest::newRow("number 0") << QJsonValue(0) << false;
        QTest::newRow("no value yet") << QJsonValue(QJsonValue::Undefined) << true;
        QTest::newRow("string \"0\"") << QJsonValue(QStringLiteral("0")) << true;
        QTest::newRow("a note") << QJsonValue(12) << true;
    }

    void guardedByTheNoteId() {
        QFETCH(QJsonValue, id);
        QFETCH(bool, acts);
        Attrs attrs;
        attrs.setNoteId(QJsonValue(5));
        attrs.setNoteId(id);
        Editor editor(attrs.history());
        editor.assign(QStringLiteral("one"));
        editor.assign(QStringLiteral("two"));
        attrs.history()->postToUndo();
        attrs.history()->postToUndo();
        QCOMPARE(editor.text, acts ? QStringLiteral("one") : QStringLiteral("two"));
        attrs.history()->addToOutStack(QStringLiteral("three"));
        attrs.history()->postToRedo();
        QCOMPARE(editor.text, acts ? QStringLiteral("three") : QStringLiteral("two"));
        // Empty histories: nothing happens either way.
        attrs.history()->clearStack();
        attrs.history()->postToUndo();
        attrs.history()->postToRedo();
        QCOMPARE(editor.text, acts ? QStringLiteral("three") : QStringLiteral("two"));
    }
};

QTEST_GUILESS_MAIN(HistoryTest)
#include "tst_history.moc"
