// SPDX-License-Identifier: GPL-3.0-or-later
// Times the four reformatting functions, hand-written scanners against the
// regular-expression form, on a long note and on a text that makes the
// trailing-space pattern backtrack. Prints milliseconds per call.

#include "tools/Reformat.h"
#include "support/RegexReformat.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTextStream>
#include <algorithm>
#include <vector>

using namespace tavrin;

namespace {

using reformat::regex_form::kOperations;
using reformat::regex_form::Operation;
using reformat::regex_form::Transform;

// A note of about `length` characters: indented paragraphs of Chinese and
// Latin words, lines with trailing spaces, blank and space-only lines.
QString longNote(int length) {
    static const QString pieces[] = {
        QStringLiteral("便签的内容"), QStringLiteral("写在电脑上"), QStringLiteral("word "),
        QStringLiteral("text, "),     QStringLiteral("。"),         QStringLiteral("  "),
    };
    QRandomGenerator random(7);
    QString note;
    note.reserve(length + 64);
    while (note.size() < length) {
        switch (random.bounded(4)) {
        case 0:
            note += QStringLiteral("\u3000\u3000");
            break;
        case 1:
            note += QLatin1Char('\t');
            break;
        default:
            break;
        }
        const int words = 3 + random.bounded(30);
        for (int i = 0; i < words; ++i)
            note += pieces[random.bounded(int(std::size(pieces)))];
        switch (random.bounded(5)) {
        case 0:
            note += QStringLiteral("\n\n\n");
            break;
        case 1:
            note += QStringLiteral("\n   \n");
            break;
        case 2:
            note += QStringLiteral("   \n");
            break;
        default:
            note += QLatin1Char('\n');
        }
    }
    note.truncate(length);
    return note;
}

double millisecondsPerCall(Transform transform, const QString& text, int repetitions) {
    std::vector<double> times;
    int sink = 0;
    for (int i = 0; i < repetitions; ++i) {
        QElapsedTimer timer;
        timer.start();
        sink += transform(text).size();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    if (sink < 0) // keeps the calls from being optimised away
        return -1;
    return times[times.size() / 2];
}

void run(QTextStream& out, const QString& label, const QString& text, int repetitions) {
    out << label << " (" << text.size() << " UTF-16 units), median of " << repetitions
        << " calls\n";
    out << QStringLiteral("  %1 %2 %3 %4\n")
               .arg(QStringLiteral("function"), -20)
               .arg(QStringLiteral("scanner ms"), 12)
               .arg(QStringLiteral("regex ms"), 12)
               .arg(QStringLiteral("ratio"), 8);
    for (const Operation& op : kOperations) {
        const bool same = op.scanner(text) == op.regex(text);
        const double scanner = millisecondsPerCall(op.scanner, text, repetitions);
        const double regex = millisecondsPerCall(op.regex, text, repetitions);
        out << QStringLiteral("  %1 %2 %3 %4%5\n")
                   .arg(QString::fromLatin1(op.name), -20)
                   .arg(scanner, 12, 'f', 3)
                   .arg(regex, 12, 'f', 3)
                   .arg(scanner > 0 ? regex / scanner : 0.0, 8, 'f', 1)
                   .arg(same ? QString() : QStringLiteral("  RESULTS DIFFER"));
    }
    out.flush();
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    run(out, QStringLiteral("note"), longNote(100000), 21);
    // 20 000 spaces before a letter: the trailing-space pattern tries every
    // position of the run and fails at its end, quadratic for the regex.
    run(out, QStringLiteral("space run before a letter"),
        QString(20000, QLatin1Char(' ')) + QStringLiteral("a\nb"), 3);
    return 0;
}
