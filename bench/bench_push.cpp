// SPDX-License-Identifier: GPL-3.0-or-later
// What one keystroke costs in a long note: the whole text percent-encoded into
// a content-push body, and recorded in the 50-entry undo history. Prints
// microseconds per keystroke and the history's memory for the note sizes below.

#include "link/protocol/Protocol.h"
#include "tools/History.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonValue>
#include <QTextStream>

using namespace tavrin;

namespace {

QString note(int length) {
    const QString pattern =
        QStringLiteral("用电脑的键盘写手机上的便签。Every keystroke goes back.\n");
    QString text;
    text.reserve(length);
    while (text.size() < length)
        text += pattern;
    text.truncate(length);
    return text;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    out << "chars     body-bytes  encode-us/keystroke  history-MiB(50 distinct texts)\n";
    for (int length : {1000, 10000, 100000, 1000000}) {
        QString text = note(length);
        const int rounds = length >= 1000000 ? 20 : 200;
        QElapsedTimer timer;
        qsizetype bytes = 0;
        timer.start();
        for (int i = 0; i < rounds; ++i) {
            text[i % text.size()] = QChar(u'a' + i % 26); // one edit per round
            bytes = protocol::contentBody(QJsonValue(37), text)->size();
        }
        const double perKeystrokeUs = timer.nsecsElapsed() / 1000.0 / rounds;

        // Every entry is a full copy; a full history holds 50 distinct texts.
        History history;
        for (int i = 0; i < History::kCapacity + 10; ++i) {
            text[i % text.size()] = QChar(u'A' + i % 26);
            history.addToInStack(text);
        }
        const double historyMiB = double(history.inStack().size()) * text.size() * 2 / (1 << 20);
        out << qSetFieldWidth(9) << length << qSetFieldWidth(0) << " " << qSetFieldWidth(11)
            << bytes << qSetFieldWidth(0) << " " << qSetFieldWidth(20)
            << QString::number(perKeystrokeUs, 'f', 1) << qSetFieldWidth(0) << " "
            << QString::number(historyMiB, 'f', 1) << "\n";
    }
    return 0;
}
