// SPDX-License-Identifier: GPL-3.0-or-later
// What the undo/redo history costs in a long note, the compact history (newest
// text whole, older ones as changes) next to the whole-copy lists it replaced.
// For notes of 1 K, 100 K and 1 M UTF-16 units of Chinese and Latin lines it
// prints the time to record one keystroke (compared, and reported with its
// change), the time of one undo and one redo with the editor's own recording,
// and the memory of a full history: the bytes its entries hold, and the
// process RSS before and after sixty keystrokes.
//
// Every row runs in a fresh process (this program started again with
// --row), so what one row freed cannot hide what the next one takes.

#include "tools/History.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTextStream>
#include <algorithm>
#include <numeric>
#include <type_traits>
#include <unistd.h>
#include <unordered_set>
#include <vector>

using tavrin::History;

namespace {

// The history as it was: whole texts in two lists.
class WholeCopyHistory : public QObject {
    Q_OBJECT
public:
    void addToInStack(const QString& content) {
        if (content.isEmpty())
            return;
        append(m_in, content);
        emit inStackChanged();
    }
    void addToOutStack(const QString& content) {
        if (content.isEmpty())
            return;
        append(m_out, content);
        emit outStackChanged();
    }
    void postToUndo() {
        if (m_in.isEmpty())
            return;
        const QString text = m_in.takeLast();
        emit inStackChanged();
        emit restoreText(text);
        addToOutStack(text);
    }
    void postToRedo() {
        if (m_out.isEmpty())
            return;
        const QString text = m_out.takeLast();
        emit outStackChanged();
        emit restoreText(text);
    }
    QStringList inStack() const { return m_in; }
    // Bytes of the entries' buffers, each shared buffer once.
    qint64 memoryBytes() const {
        std::unordered_set<const QChar*> seen;
        qint64 bytes = 0;
        for (const QStringList* list : {&m_in, &m_out})
            for (const QString& text : *list)
                if (seen.insert(text.constData()).second)
                    bytes += qint64(sizeof(QString::Data)) + qint64(text.capacity() + 1) * 2;
        return bytes;
    }

signals:
    void inStackChanged();
    void outStackChanged();
    void restoreText(const QString& text);

private:
    static void append(QStringList& stack, const QString& content) {
        if (stack.size() >= History::kCapacity)
            stack.removeFirst();
        stack.append(content);
    }
    QStringList m_in;
    QStringList m_out;
};

double residentMiB() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * double(sysconf(_SC_PAGESIZE)) / (1 << 20)
                             : -1;
}

// About `length` units of lines in Chinese, in Latin and mixed.
QString note(int length) {
    static const QString chinese[] = {
        QStringLiteral("用电脑的键盘写手机上的便签"), QStringLiteral("每一次按键都回到手机"),
        QStringLiteral("长的便签也不该变慢"), QStringLiteral("撤销和重做")};
    static const QString latin[] = {QStringLiteral("every keystroke goes back "),
                                    QStringLiteral("the note stays on the phone "),
                                    QStringLiteral("undo and redo "), QStringLiteral("line ")};
    QRandomGenerator random(11);
    QString text;
    text.reserve(length + 64);
    while (text.size() < length) {
        const int kind = random.bounded(3);
        for (int words = 1 + random.bounded(8); words > 0; --words)
            text += (kind == 0 || (kind == 2 && random.bounded(2))) ? chinese[random.bounded(4)]
                                                                    : latin[random.bounded(4)];
        text += QLatin1Char('\n');
    }
    text.truncate(length);
    return text;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double percentile95(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[std::min(values.size() - 1, values.size() * 95 / 100)];
}

double mean(const std::vector<double>& values) {
    return values.empty() ? 0 : std::accumulate(values.begin(), values.end(), 0.0) / values.size();
}

qint64 bufferBytes(const QString& text) {
    return qint64(sizeof(QString::Data)) + qint64(text.capacity() + 1) * 2;
}

double microseconds(const QElapsedTimer& timer) {
    return double(timer.nsecsElapsed()) / 1000.0;
}

// One keystroke in the editor: a character typed at a random place. The
// editor's own copy of its text is not part of what is timed.
struct Typist {
    QString text;
    QRandomGenerator random{5};
    int type() {
        const int position = random.bounded(text.size() + 1);
        text.insert(position, random.bounded(2) ? QChar(u'字') : QChar(u'k'));
        return position;
    }
};

// Runs one row in this process and prints its figures on one line:
// add-us add-p95 known-us known-p95 undo-us redo-us entries own rss-before rss-full
template <typename H> void measure(H& history, int length, bool knowsChanges, QTextStream& out) {
    Typist editor;
    editor.text = note(length);
    const double rssBefore = residentMiB();
    QObject::connect(&history, &H::restoreText, [&](const QString& restored) {
        if (restored == editor.text)
            return;
        editor.text = restored;
        history.addToInStack(editor.text);
    });

    // Sixty keystrokes after the load fill the undo history.
    history.addToInStack(editor.text);
    for (int i = 0; i < 60; ++i) {
        editor.type();
        history.addToInStack(editor.text);
    }
    const qint64 entries = history.memoryBytes();
    // What the entries hold beyond the editor's own buffer, which the newest shares.
    const bool shared = history.inStack().constLast().constData() == editor.text.constData();
    const qint64 own = entries - (shared ? bufferBytes(editor.text) : 0);
    const double rssFull = residentMiB();

    const int keystrokes = length >= 1000000 ? 200 : 2000;
    std::vector<double> plain;
    std::vector<double> known;
    for (int i = 0; i < keystrokes; ++i) {
        editor.type();
        QElapsedTimer timer;
        timer.start();
        history.addToInStack(editor.text);
        plain.push_back(microseconds(timer));
    }
    if (knowsChanges) {
        for (int i = 0; i < keystrokes; ++i) {
            const int position = editor.type();
            QElapsedTimer timer;
            timer.start();
            if constexpr (std::is_same_v<H, History>)
                history.addToInStack(editor.text, position, 0, 1);
            known.push_back(microseconds(timer));
        }
    }

    // Undo and redo, each with the editor's assignment and recording inside.
    // Every other undo only moves the text the editor shows, so the figure is
    // the mean per press.
    std::vector<double> undo;
    std::vector<double> redo;
    for (int i = 0; i < 30; ++i) {
        QElapsedTimer timer;
        timer.start();
        history.postToUndo();
        undo.push_back(microseconds(timer));
    }
    for (int i = 0; i < 30; ++i) {
        QElapsedTimer timer;
        timer.start();
        history.postToRedo();
        redo.push_back(microseconds(timer));
    }
    out << median(plain) << ' ' << percentile95(plain) << ' ' << median(known) << ' '
        << percentile95(known) << ' ' << mean(undo) << ' ' << mean(redo) << ' ' << entries << ' '
        << own << ' ' << rssBefore << ' ' << rssFull << '\n';
}

// The editor alone, typing the same sixty keystrokes: what RSS does without any
// history (the allocator keeps a freed buffer of the note's size, for one).
void measureBareEditor(int length, QTextStream& out) {
    Typist editor;
    editor.text = note(length);
    const double rssBefore = residentMiB();
    for (int i = 0; i < 60; ++i) {
        const QString shown = editor.text; // the editor's text as it is displayed
        editor.type();
    }
    out << "0 0 0 0 0 0 0 0 " << rssBefore << ' ' << residentMiB() << '\n';
}

QStringList runRow(const QString& program, int length, const QString& model) {
    QProcess child;
    child.start(program, {QStringLiteral("--row"), QString::number(length), model});
    if (!child.waitForFinished(-1) || child.exitCode() != 0)
        return {};
    return QString::fromLatin1(child.readAllStandardOutput()).simplified().split(QLatin1Char(' '));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == QLatin1String("--row")) {
        const int length = args[2].toInt();
        if (args[3] == QLatin1String("none")) {
            measureBareEditor(length, out);
        } else if (args[3] == QLatin1String("compact")) {
            History history;
            measure(history, length, true, out);
        } else {
            WholeCopyHistory history;
            measure(history, length, false, out);
        }
        return 0;
    }

    out << "Undo/redo history, per note size. Keystroke times: median (p95) in microseconds\n"
           "of one recording, compared ('add') or with the change reported ('known').\n"
           "Undo and redo: mean microseconds per press, the editor's assignment and\n"
           "recording included. After 60 keystrokes (50 undo entries): 'entries' is what\n"
           "the entries hold, 'own' the part not shared with the editor's text, and RSS\n"
           "the process before and after the keystrokes; 'none' is the editor alone.\n\n";
    out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9 %10\n")
               .arg(QStringLiteral("chars"), 8)
               .arg(QStringLiteral("history"), -11)
               .arg(QStringLiteral("add us (p95)"), 16)
               .arg(QStringLiteral("known us (p95)"), 16)
               .arg(QStringLiteral("undo us"), 9)
               .arg(QStringLiteral("redo us"), 9)
               .arg(QStringLiteral("entries MiB"), 12)
               .arg(QStringLiteral("own KiB"), 10)
               .arg(QStringLiteral("RSS MiB"), 16)
               .arg(QStringLiteral("growth MiB"), 11);
    for (int length : {1000, 100000, 1000000}) {
        for (const QString& model :
             {QStringLiteral("none"), QStringLiteral("whole-copy"), QStringLiteral("compact")}) {
            const QStringList f = runRow(args[0], length, model);
            if (f.size() != 10) {
                out << "row " << length << ' ' << model << " failed\n";
                return 1;
            }
            const bool known = model == QLatin1String("compact");
            const bool none = model == QLatin1String("none");
            const auto time = [](const QString& value, const QString& p95) {
                return QStringLiteral("%1 (%2)")
                    .arg(value.toDouble(), 0, 'f', 2)
                    .arg(p95.toDouble(), 0, 'f', 2);
            };
            out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9 %10\n")
                       .arg(length, 8)
                       .arg(model, -11)
                       .arg(none ? QStringLiteral("-") : time(f[0], f[1]), 16)
                       .arg(known ? time(f[2], f[3]) : QStringLiteral("-"), 16)
                       .arg(none ? QStringLiteral("-") : QString::number(f[4].toDouble(), 'f', 1),
                            9)
                       .arg(none ? QStringLiteral("-") : QString::number(f[5].toDouble(), 'f', 1),
                            9)
                       .arg(none ? QStringLiteral("-")
                                 : QString::number(f[6].toDouble() / (1 << 20), 'f', 3),
                            12)
                       .arg(none ? QStringLiteral("-")
                                 : QString::number(f[7].toDouble() / 1024, 'f', 1),
                            10)
                       .arg(QStringLiteral("%1 -> %2")
                                .arg(f[8].toDouble(), 0, 'f', 1)
                                .arg(f[9].toDouble(), 0, 'f', 1),
                            16)
                       .arg(f[9].toDouble() - f[8].toDouble(), 11, 'f', 1);
            out.flush();
        }
    }
    return 0;
}

#include "bench_history.moc"
