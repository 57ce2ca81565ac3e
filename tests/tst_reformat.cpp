// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/Reformat.h"
#include "support/RegexReformat.h"

#include <QJSEngine>
#include <QRandomGenerator>
#include <QtTest>

using namespace tavrin;

namespace {

// Texts in the tables are written with visible marks:
// ⏎ line feed, ⇥ tab, □ ideographic space, · space, ␍ carriage return, ∅ empty.
QString fromMarks(const QString& marked) {
    QString text;
    for (const QChar unit : marked) {
        switch (unit.unicode()) {
        case 0x23CE: // ⏎
            text.append(QLatin1Char('\n'));
            break;
        case 0x21E5: // ⇥
            text.append(QLatin1Char('\t'));
            break;
        case 0x25A1: // □
            text.append(QChar(0x3000));
            break;
        case 0x00B7: // ·
            text.append(QLatin1Char(' '));
            break;
        case 0x240D: // ␍
            text.append(QLatin1Char('\r'));
            break;
        case 0x2205: // ∅
            break;
        default:
            text.append(unit);
        }
    }
    return text;
}

QString toMarks(const QString& text) {
    QString marked;
    for (const QChar unit : text) {
        switch (unit.unicode()) {
        case '\n':
            marked.append(QChar(0x23CE));
            break;
        case '\t':
            marked.append(QChar(0x21E5));
            break;
        case 0x3000:
            marked.append(QChar(0x25A1));
            break;
        case ' ':
            marked.append(QChar(0x00B7));
            break;
        case '\r':
            marked.append(QChar(0x240D));
            break;
        default:
            marked.append(unit);
        }
    }
    return marked.isEmpty() ? QStringLiteral("∅") : marked;
}

using reformat::regex_form::kOperations;
using reformat::regex_form::Operation;
using reformat::regex_form::Transform;

// The same replacements run by the JavaScript engine's own regular expressions.
const char kJavaScriptForms[] = R"JS(({
    autoFormatPlain: function (t) {
        return "\u3000\u3000" + t.replace(/\t+/g, "").replace(/\u3000/g, "")
            .replace(/\n(\n)*( )*(\n)*\n/g, "\n").replace(/[\n\r]/g, "\n\n\u3000\u3000");
    },
    autoFormatMarkdown: function (t) {
        return t.replace(/\n(\n)*( )*(\n)*\n/g, "\n").replace(/(  )*\n/g, "\n")
            .replace(/[\n\r]/g, "  \n\n");
    },
    removeIndent: function (t) {
        return t.replace(/\t+/g, "").replace(/\u3000/g, "");
    },
    removeBlankLines: function (t) {
        return t.replace(/\n(\n)*( )*(\n)*\n/g, "\n");
    }
}))JS";

void appendAllStrings(QStringList& out, const QString& alphabet, int maxLength) {
    QStringList level{QString()};
    out.append(QString());
    for (int length = 1; length <= maxLength; ++length) {
        QStringList next;
        next.reserve(level.size() * alphabet.size());
        for (const QString& prefix : qAsConst(level)) {
            for (const QChar unit : alphabet)
                next.append(prefix + unit);
        }
        out.append(next);
        level = next;
    }
}

QStringList differentialTexts() {
    QStringList texts;
    // Exhaustive: the characters the blank-line and trailing-space patterns
    // care about, then everything the five patterns look at.
    appendAllStrings(texts, QStringLiteral("\n a"), 9);
    appendAllStrings(texts, QStringLiteral("\n \t\r\u3000a"), 5);

    // Random, with line feeds and spaces more frequent so that long blank
    // runs and space pairs occur.
    const QString alphabet = QStringLiteral("\n\n\n\r\t\u3000    ab");
    QRandomGenerator random(20240611);
    for (int i = 0; i < 20000; ++i) {
        const int length = random.bounded(31);
        QString text;
        text.reserve(length);
        for (int j = 0; j < length; ++j)
            text.append(alphabet.at(random.bounded(alphabet.size())));
        texts.append(text);
    }
    return texts;
}

} // namespace

class TestReformat : public QObject {
    Q_OBJECT

private slots:
    void autoFormatPlain_data();
    void autoFormatPlain();
    void autoFormatMarkdown_data();
    void autoFormatMarkdown();
    void removeBlankLines_data();
    void removeBlankLines();
    void removeIndent_data();
    void removeIndent();
    void autoFormatDispatch();

    void applyToSelection_data();
    void applyToSelection();

    void agreesWithJavaScript_data();
    void agreesWithJavaScript();
    void agreesWithRegularExpressions_data();
    void agreesWithRegularExpressions();

private:
    QStringList m_texts;
};

void TestReformat::autoFormatPlain_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("blank lines collapse") << "a⏎⏎⏎b"
                                          << "□□a⏎⏎□□b";
    QTest::newRow("single break") << "a⏎b"
                                  << "□□a⏎⏎□□b";
    QTest::newRow("tabs removed") << "⇥a⏎⇥⇥b"
                                  << "□□a⏎⏎□□b";
    QTest::newRow("trailing break") << "a⏎"
                                    << "□□a⏎⏎□□";
    QTest::newRow("empty") << "∅"
                           << "□□";
    QTest::newRow("two space-only lines") << "a⏎·⏎·⏎b"
                                          << "□□a⏎⏎□□·⏎⏎□□b";
    QTest::newRow("already formatted") << "□□a⏎⏎□□b"
                                       << "□□a⏎⏎□□b";
    QTest::newRow("carriage return is a break") << "a␍b"
                                                << "□□a⏎⏎□□b";
    QTest::newRow("CRLF gives two breaks") << "a␍⏎b"
                                           << "□□a⏎⏎□□⏎⏎□□b";
    QTest::newRow("ideographic spaces inside removed") << "a□b"
                                                       << "□□ab";
    QTest::newRow("hint") << "请打开一篇纯文本便签"
                          << "□□请打开一篇纯文本便签";
}

void TestReformat::autoFormatPlain() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(toMarks(reformat::autoFormatPlain(fromMarks(text))), expected);
}

void TestReformat::autoFormatMarkdown_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("hard break kept") << "a··⏎b"
                                     << "a··⏎⏎b";
    QTest::newRow("single break") << "a⏎b"
                                  << "a··⏎⏎b";
    QTest::newRow("blank line collapses") << "a⏎⏎b"
                                          << "a··⏎⏎b";
    QTest::newRow("three spaces") << "a···⏎b"
                                  << "a···⏎⏎b";
    QTest::newRow("four spaces") << "a····⏎b"
                                 << "a··⏎⏎b";
    QTest::newRow("trailing break") << "a⏎"
                                    << "a··⏎⏎";
    QTest::newRow("tabs stay") << "⇥a"
                               << "⇥a";
    QTest::newRow("empty") << "∅"
                           << "∅";
    QTest::newRow("ideographic spaces stay") << "□a⏎b"
                                             << "□a··⏎⏎b";
    QTest::newRow("carriage return") << "a␍b"
                                     << "a··⏎⏎b";
    QTest::newRow("spaces without break stay") << "a···"
                                               << "a···";
}

void TestReformat::autoFormatMarkdown() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(toMarks(reformat::autoFormatMarkdown(fromMarks(text))), expected);
}

void TestReformat::removeBlankLines_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty lines") << "a⏎⏎⏎b"
                                 << "a⏎b";
    QTest::newRow("line of spaces") << "a⏎··⏎b"
                                    << "a⏎b";
    QTest::newRow("two space-only lines") << "a⏎·⏎·⏎b"
                                          << "a⏎·⏎b";
    QTest::newRow("tab line is not blank") << "a⏎⇥⏎b"
                                           << "a⏎⇥⏎b";
    QTest::newRow("trailing blank") << "a⏎⏎"
                                    << "a⏎";
    QTest::newRow("single break unchanged") << "a⏎b"
                                            << "a⏎b";
    QTest::newRow("spaces then no break") << "a⏎··b"
                                          << "a⏎··b";
    QTest::newRow("breaks, spaces, no break") << "a⏎⏎··b"
                                              << "a⏎··b";
    QTest::newRow("breaks around spaces") << "a⏎⏎·⏎⏎b"
                                          << "a⏎b";
    QTest::newRow("only breaks") << "⏎⏎⏎⏎"
                                 << "⏎";
    QTest::newRow("leading break and spaces") << "⏎··⏎a"
                                              << "⏎a";
    QTest::newRow("empty") << "∅"
                           << "∅";
}

void TestReformat::removeBlankLines() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(toMarks(reformat::removeBlankLines(fromMarks(text))), expected);
}

void TestReformat::removeIndent_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("everywhere") << "□□a⇥b⇥⇥c"
                                << "abc";
    QTest::newRow("spaces and breaks stay") << "·a⏎·b"
                                            << "·a⏎·b";
    QTest::newRow("only indent") << "⇥□⇥"
                                 << "∅";
}

void TestReformat::removeIndent() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(toMarks(reformat::removeIndent(fromMarks(text))), expected);
}

void TestReformat::autoFormatDispatch() {
    const QString text = fromMarks(QStringLiteral("⇥a⏎b"));
    QCOMPARE(reformat::autoFormat(text, false), reformat::autoFormatPlain(text));
    QCOMPARE(reformat::autoFormat(text, true), reformat::autoFormatMarkdown(text));
    QVERIFY(reformat::autoFormatPlain(text) != reformat::autoFormatMarkdown(text));
}

void TestReformat::applyToSelection_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    QTest::addColumn<bool>("blankLines"); // else removeIndent
    QTest::addColumn<QString>("expected");

    QTest::newRow("blank lines, selection from b to the end")
        << "a⏎⏎⏎b⏎⏎⏎c" << 4 << 9 << true << "a⏎⏎⏎b⏎c";
    QTest::newRow("indent, selection of the second line") << "⇥a⏎⇥b" << 3 << 5 << false << "⇥a⏎b";
    QTest::newRow("nothing selected: whole text") << "⇥a⏎⇥b" << 2 << 2 << false << "a⏎b";
    QTest::newRow("nothing selected at the end") << "a⏎⏎⏎b" << 5 << 5 << true << "a⏎b";
    QTest::newRow("reversed selection") << "a⏎⏎⏎b⏎⏎⏎c" << 9 << 4 << true << "a⏎⏎⏎b⏎c";
    QTest::newRow("start before the text") << "⇥a⏎⇥b" << -3 << 2 << false << "a⏎⇥b";
    QTest::newRow("end beyond the text") << "⇥a⏎⇥b" << 3 << 50 << false << "⇥a⏎b";
    QTest::newRow("both beyond: whole text") << "⇥a⏎⇥b" << 40 << 50 << false << "a⏎b";
    QTest::newRow("selection cuts a blank run")
        << "a⏎⏎⏎b" << 0 << 2 << true << "a⏎⏎⏎b"; // "a⏎" alone holds no blank line
    QTest::newRow("selection inside a blank run") << "a⏎⏎⏎⏎b" << 1 << 4 << true << "a⏎⏎b";
}

void TestReformat::applyToSelection() {
    QFETCH(QString, text);
    QFETCH(int, start);
    QFETCH(int, end);
    QFETCH(bool, blankLines);
    QFETCH(QString, expected);

    const Transform transform = blankLines ? &reformat::removeBlankLines : &reformat::removeIndent;
    QCOMPARE(toMarks(reformat::applyToSelection(fromMarks(text), start, end, transform)), expected);
}

void TestReformat::agreesWithJavaScript_data() {
    QTest::addColumn<int>("operation");
    for (int i = 0; i < int(std::size(kOperations)); ++i)
        QTest::newRow(kOperations[i].name) << i;
    if (m_texts.isEmpty())
        m_texts = differentialTexts();
}

void TestReformat::agreesWithJavaScript() {
    QFETCH(int, operation);
    const Operation& op = kOperations[operation];

    QJSEngine engine;
    const QJSValue forms = engine.evaluate(QString::fromUtf8(kJavaScriptForms));
    QVERIFY2(!forms.isError(), qPrintable(forms.toString()));
    QJSValue function = forms.property(QString::fromLatin1(op.name));
    QVERIFY(function.isCallable());

    for (const QString& text : qAsConst(m_texts)) {
        const QJSValue result = function.call({QJSValue(text)});
        QVERIFY2(result.isString(), qPrintable(result.toString()));
        const QString expected = result.toString();
        const QString actual = op.scanner(text);
        if (actual != expected) {
            const QString message = QStringLiteral("text %1: scanner %2, JavaScript %3")
                                        .arg(toMarks(text), toMarks(actual), toMarks(expected));
            QFAIL(qPrintable(message));
        }
    }
}

void TestReformat::agreesWithRegularExpressions_data() {
    agreesWithJavaScript_data();
}

void TestReformat::agreesWithRegularExpressions() {
    QFETCH(int, operation);
    const Operation& op = kOperations[operation];
    for (const QString& text : qAsConst(m_texts)) {
        const QString expected = op.regex(text);
        const QString actual = op.scanner(text);
        if (actual != expected) {
            const QString message = QStringLiteral("text %1: scanner %2, QRegularExpression %3")
                                        .arg(toMarks(text), toMarks(actual), toMarks(expected));
            QFAIL(qPrintable(message));
        }
    }
}

QTEST_GUILESS_MAIN(TestReformat)
#include "tst_reformat.moc"
