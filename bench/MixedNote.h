// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The benchmarks' note: `size` characters of lines in Chinese and in ASCII, by turns.
inline QString mixedNote(int size) {
    QString note;
    note.reserve(size + 64);
    for (int line = 0; note.size() < size; ++line) {
        if (line % 2 == 0)
            note += QStringLiteral("这是第%1行的中文内容，用来测量输入。\n").arg(line);
        else
            note += QStringLiteral("ASCII line %1 with a few words to type after.\n").arg(line);
    }
    note.truncate(size);
    return note;
}
