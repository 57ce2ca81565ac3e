// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The simulator's phone: keeps the open note in a text file, and carries out the commands
// typed on the console.

#include "sim/NoteServer.h"

#include <QJsonValue>
#include <QMap>
#include <QString>

#include <atomic>
#include <functional>

namespace tavrin::sim {

class PhoneConsole {
public:
    using Printer = std::function<void(const QString& line)>;

    PhoneConsole(NoteServer& server, const QString& noteFile, Printer print);

    // Opens the note with this id on the phone, its content read from the note file (which
    // is created empty when missing). False when the file cannot be read.
    bool open(const QJsonValue& id, bool markdown);
    // Writes an applied content push back to the note file.
    void writeNoteFile(const QString& content);
    // Counts one request served, for the status.
    void countServed() { ++m_served; }

    // Carries out one command line; false when it asks to quit.
    bool execute(const QString& line);

    // A number when the text is an integer, else the text itself as a string id.
    static QJsonValue parseId(const QString& text);
    static QString helpText();
    QString statusText() const;

private:
    bool readNoteFile(QString* content);
    void misbehave(const QString& line);
    void behave(const QStringList& words);

    NoteServer& m_server;
    QString m_noteFile;
    Printer m_print;
    QJsonValue m_lastId{1};
    bool m_lastMarkdown = false;
    std::atomic<int> m_served{0};
    QMap<QString, QString> m_misbehaviours; // path, or "all", to the mode as typed
};

} // namespace tavrin::sim
