// SPDX-License-Identifier: GPL-3.0-or-later
// The exact note next to the document: how the document's form is made, how
// positions map across CR LFs, and what each reported change does to the note.

#include "tools/NoteText.h"

#include <QTest>

using tavrin::NoteChange;
using tavrin::NoteMirror;
using namespace tavrin::notetext;

namespace {

const QChar kPs{0x2029};
const QChar kLs{0x2028};
const QChar kNbsp{0xA0};

// A document text: '|' stands for a paragraph separator.
QString doc(const char* text) {
    QString s = QString::fromUtf8(text);
    s.replace(QLatin1Char('|'), kPs);
    return s;
}

} // namespace

Q_DECLARE_METATYPE(QList<int>)

class TestNoteText : public QObject {
    Q_OBJECT

private slots:
    void displayForm_data() {
        QTest::addColumn<QString>("note");
        QTest::addColumn<QString>("shown");
        QTest::newRow("lf") << "a\nb" << "a\nb";
        QTest::newRow("cr") << "a\rb" << "a\nb";
        QTest::newRow("crlf") << "a\r\nb" << "a\nb";
        QTest::newRow("cr cr lf") << "\r\r\n" << "\n\n";
        QTest::newRow("lf cr") << "\n\r" << "\n\n";
        QTest::newRow("paragraph separator") << QString("a") + kPs << "a\n";
        QTest::newRow("fdd0 fdd1") << QString("a") + QChar(0xFDD0) + QChar(0xFDD1) << "a\n\n";
        const QString kept = QString("x") + kLs + kNbsp + QChar(0xFEFF) + QChar(0) + QChar(0xD83D) +
                             QChar(0xDE00) + QChar(0xD800) + "\t";
        QTest::newRow("kept as they are") << kept << kept;
    }
    void displayForm() {
        QFETCH(QString, note);
        QFETCH(QString, shown);
        QCOMPARE(tavrin::notetext::displayForm(note), shown);
        NoteMirror mirror;
        mirror.setText(note);
        QCOMPARE(mirror.text(), note);
        QCOMPARE(mirror.documentLength(), shown.size());
    }

    void positions_data() {
        QTest::addColumn<QString>("note");
        // Note position of every document position 0..documentLength.
        QTest::addColumn<QList<int>>("notePositions");
        QTest::newRow("no crlf") << "a\rb\n" << QList<int>{0, 1, 2, 3, 4};
        QTest::newRow("two crlfs") << "a\r\nb\r\nc" << QList<int>{0, 1, 3, 4, 6, 7};
        QTest::newRow("crlf first and last") << "\r\nx\r\n" << QList<int>{0, 2, 3, 5};
        QTest::newRow("cr then crlf") << "\r\r\n" << QList<int>{0, 1, 3};
    }
    void positions() {
        QFETCH(QString, note);
        QFETCH(QList<int>, notePositions);
        NoteMirror mirror;
        mirror.setText(note);
        QCOMPARE(mirror.documentLength() + 1, notePositions.size());
        for (int d = 0; d < notePositions.size(); ++d) {
            QCOMPARE(mirror.notePosition(d), notePositions[d]);
            QCOMPARE(mirror.documentPosition(notePositions[d]), d);
        }
        // Inside a CR LF: its start.
        for (int n = 0; n + 1 < note.size(); ++n) {
            if (note[n] == QLatin1Char('\r') && note[n + 1] == QLatin1Char('\n'))
                QCOMPARE(mirror.notePosition(mirror.documentPosition(n + 1)), n);
        }
        QCOMPARE(mirror.notePosition(-5), 0);
        QCOMPARE(mirror.notePosition(1000), note.size());
    }

    void apply_data() {
        QTest::addColumn<QString>("note");
        // Steps: document position, removed, inserted (document text).
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("removed");
        QTest::addColumn<QString>("inserted");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("changePosition");
        QTest::addColumn<int>("changeRemoved");
        QTest::addColumn<int>("changeAdded");

        QTest::newRow("typed after a crlf") << "a\r\nb" << 2 << 0 << "x" << "a\r\nxb" << 3 << 0 << 1;
        QTest::newRow("crlf deleted whole") << "a\r\nb" << 1 << 1 << "" << "ab" << 1 << 2 << 0;
        QTest::newRow("typed return is lf") << "ab" << 1 << 0 << doc("|") << "a\nb" << 1 << 0 << 1;
        QTest::newRow("wide report, nothing changed")
            << "a\r\nb\rc" << 0 << 5 << doc("a|b|c") << "a\r\nb\rc" << 6 << 0 << 0;
        QTest::newRow("wide report, one change")
            << "a\r\nb" + QString(kLs) + "c" << 0 << 5 << doc("a|x") + QString(kLs) + "c"
            << "a\r\nx" + QString(kLs) + "c" << 3 << 1 << 1;
        QTest::newRow("pasted nbsp stays") << "ab" << 1 << 0 << QString(kNbsp) + doc("|")
                                           << "a" + QString(kNbsp) + "\nb" << 1 << 0 << 2;
        QTest::newRow("paragraph separator replaced")
            << "a" + QString(kPs) + "b" << 1 << 1 << "x" << "axb" << 1 << 1 << 1;
        QTest::newRow("crlfs in a removed range")
            << "1\r\n2\r\n3\r\n4" << 1 << 4 << "" << "1\r\n4" << 1 << 6 << 0;
        QTest::newRow("replaced in the middle of crlfs")
            << "1\r\n2\r\n3" << 2 << 1 << doc("x|y") << "1\r\nx\ny\r\n3" << 3 << 1 << 3;
        QTest::newRow("surrogate pair removed")
            << "a" + QString(QChar(0xD83D)) + QChar(0xDE00) + "\r\n" << 1 << 2 << "" << "a\r\n" << 1
            << 2 << 0;
        QTest::newRow("fdd0 kept beside a change")
            << "a" + QString(QChar(0xFDD0)) + "b" << 0 << 3 << doc("a|c")
            << "a" + QString(QChar(0xFDD0)) + "c" << 2 << 1 << 1;
    }
    void apply() {
        QFETCH(QString, note);
        QFETCH(int, position);
        QFETCH(int, removed);
        QFETCH(QString, inserted);
        QFETCH(QString, expected);
        NoteMirror mirror;
        mirror.setText(note);
        const NoteChange change = mirror.apply(position, removed, inserted);
        QCOMPARE(mirror.text(), expected);
        QTEST(change.position, "changePosition");
        QTEST(change.removed, "changeRemoved");
        QTEST(change.added, "changeAdded");
        // The change turns the note before into the note after.
        QString replayed = note;
        replayed.replace(change.position, change.removed, expected.mid(change.position, change.added));
        QCOMPARE(replayed, expected);
        // The document's length follows.
        QCOMPARE(mirror.documentLength(),
                 tavrin::notetext::displayForm(note).size() - removed + inserted.size());
    }

    // A LF typed right after a lone CR makes a CR LF in the note while the
    // document holds two separators: the mapping follows the document.
    void typedLfAfterLoneCr() {
        NoteMirror mirror;
        mirror.setText(QStringLiteral("a\rb"));
        mirror.apply(2, 0, doc("|"));
        QCOMPARE(mirror.text(), QStringLiteral("a\r\nb"));
        QCOMPARE(mirror.documentLength(), 4);
        QCOMPARE(mirror.notePosition(3), 3);
        mirror.apply(3, 0, QStringLiteral("x"));
        QCOMPARE(mirror.text(), QStringLiteral("a\r\nxb"));
        mirror.apply(1, 1, QString());
        QCOMPARE(mirror.text(), QStringLiteral("a\nxb"));
    }

    void typedForm() {
        QCOMPARE(tavrin::notetext::typedForm(doc("a|b") + kLs + kNbsp),
                 QString("a\nb") + kLs + kNbsp);
    }
};

QTEST_APPLESS_MAIN(TestNoteText)
#include "tst_note_text.moc"
