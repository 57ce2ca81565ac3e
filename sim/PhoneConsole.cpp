// SPDX-License-Identifier: GPL-3.0-or-later
#include "PhoneConsole.h"

#include "sim/Misbehaviour.h"

#include <QFile>
#include <QSaveFile>
#include <QStringList>

namespace tavrin::sim {

PhoneConsole::PhoneConsole(NoteServer& server, const QString& noteFile, Printer print)
    : m_server(server)
    , m_noteFile(noteFile)
    , m_print(std::move(print)) {}

bool PhoneConsole::readNoteFile(QString* content) {
    QFile file(m_noteFile);
    if (!file.exists() && file.open(QIODevice::WriteOnly)) {
        file.close();
        m_print(QStringLiteral("created the empty note file %1").arg(m_noteFile));
    }
    if (!file.open(QIODevice::ReadOnly)) {
        m_print(QStringLiteral("cannot read %1: %2").arg(m_noteFile, file.errorString()));
        return false;
    }
    *content = QString::fromUtf8(file.readAll());
    if (content->startsWith(QChar(0xFEFF))) {
        content->remove(0, 1);
    }
    return true;
}

bool PhoneConsole::open(const QJsonValue& id, bool markdown) {
    QString content;
    if (!readNoteFile(&content)) {
        return false;
    }
    m_lastId = id;
    m_lastMarkdown = markdown;
    m_server.openNote(id, content, markdown);
    return true;
}

void PhoneConsole::writeNoteFile(const QString& content) {
    QSaveFile file(m_noteFile);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly) || file.write(content.toUtf8()) < 0 || !file.commit()) {
        m_print(QStringLiteral("cannot write %1: %2").arg(m_noteFile, file.errorString()));
    }
}

bool PhoneConsole::execute(const QString& line) {
    const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty()) {
        return true;
    }
    const QString& command = words.first();
    if (command == QLatin1String("quit")) {
        return false;
    }
    if (command == QLatin1String("help")) {
        m_print(helpText());
    } else if (command == QLatin1String("status")) {
        m_print(statusText());
    } else if (command == QLatin1String("close")) {
        m_server.closeNote();
        m_print(QStringLiteral("no note open"));
    } else if (command == QLatin1String("open") &&
               (words.size() == 2 ||
                (words.size() == 3 && words[2] == QLatin1String("markdown")))) {
        if (open(parseId(words[1]), words.size() == 3)) {
            m_print(statusText());
        }
    } else if (command == QLatin1String("reopen") && words.size() == 1) {
        if (open(m_lastId, m_lastMarkdown)) {
            m_print(statusText());
        }
    } else if (command == QLatin1String("misbehave")) {
        misbehave(line);
    } else if (command == QLatin1String("behave") && words.size() <= 2) {
        behave(words);
    } else {
        m_print(QStringLiteral("unknown command \"%1\"; type help").arg(line.trimmed()));
    }
    return true;
}

void PhoneConsole::misbehave(const QString& line) {
    // "misbehave <path|all> <mode> [args...]": the mode gets the rest of the line as typed,
    // so that a raw answer keeps its spaces.
    const QString rest = line.trimmed().mid(int(qstrlen("misbehave"))).trimmed();
    const int space = rest.indexOf(QLatin1Char(' '));
    const QString target = space < 0 ? rest : rest.left(space);
    const QString path = target == QLatin1String("all") ? target : Misbehaviour::pathNamed(target);
    if (path.isEmpty() || space < 0) {
        m_print(QStringLiteral("misbehave <path|all> <mode> [args...]; the path is one such as "
                               "/desktop/getNote/ or heartbeat, note, content, selection, save, "
                               "background, font; modes:\n") +
                Misbehaviour::modesHelp());
        return;
    }
    QString error;
    const std::optional<Misbehaviour> misbehaviour = Misbehaviour::parse(rest.mid(space), &error);
    if (!misbehaviour) {
        m_print(error);
        return;
    }
    NoteServer& server = m_server;
    NoteServer::Override override = [&server, how = *misbehaviour](const Request& request) {
        return std::optional<Reply>(how.apply(server.phoneReply(request)));
    };
    if (path == QLatin1String("all")) {
        m_server.setDefaultOverride(std::move(override));
    } else {
        m_server.setOverride(path, std::move(override));
    }
    m_misbehaviours.insert(path, misbehaviour->text());
    m_print(QStringLiteral("%1 now misbehaves: %2")
                .arg(path == QLatin1String("all") ? QStringLiteral("every path") : path,
                     misbehaviour->text()));
}

void PhoneConsole::behave(const QStringList& words) {
    if (words.size() == 1) {
        m_server.clearOverrides();
        m_misbehaviours.clear();
        m_print(QStringLiteral("every path answers normally again"));
        return;
    }
    const QString path =
        words[1] == QLatin1String("all") ? words[1] : Misbehaviour::pathNamed(words[1]);
    if (path == QLatin1String("all")) {
        m_server.setDefaultOverride(nullptr);
    } else if (!path.isEmpty()) {
        m_server.clearOverride(path);
    }
    if (path.isEmpty() || !m_misbehaviours.remove(path)) {
        m_print(QStringLiteral("%1 was not misbehaving").arg(words[1]));
        return;
    }
    m_print(path == QLatin1String("all")
                ? QStringLiteral("the paths without a misbehaviour of their own answer normally")
                : QStringLiteral("%1 answers normally again").arg(path));
}

QJsonValue PhoneConsole::parseId(const QString& text) {
    bool ok = false;
    const qint64 number = text.toLongLong(&ok);
    if (ok) {
        return QJsonValue(number);
    }
    return QJsonValue(text);
}

QString PhoneConsole::helpText() {
    return QStringLiteral(
               "commands:\n"
               "  open <id> [markdown]  open the note <id> (a number, or else a text),"
               " reading its content from the note file\n"
               "  close                 close the note: the phone reports no note\n"
               "  reopen                open the last note again, re-reading the file\n"
               "  status                show the phone's state\n"
               "  misbehave <path|all> <mode> [args...]\n"
               "                        answer that path (/desktop/getNote/, or heartbeat,"
               " note, content, selection, save, background, font), or every path"
               " without its own, in this mode:\n") +
           Misbehaviour::modesHelp() +
           QStringLiteral("\n"
                          "  behave [path|all]     answer normally again: every path, or that one\n"
                          "  help                  show this help\n"
                          "  quit                  stop the simulator");
}

QString PhoneConsole::statusText() const {
    // Multi-argument arg() throughout: ids and paths may hold "%1" themselves.
    QString text = QStringLiteral("serving http://%1:%2 from %3; ")
                       .arg(m_server.host(), QString::number(m_server.port()), m_noteFile);
    if (m_server.isNoteOpen()) {
        const QJsonValue id = m_server.noteId();
        text +=
            QStringLiteral("note %1 open (%2), %3 chars")
                .arg(id.isString() ? QLatin1Char('"') + id.toString() + QLatin1Char('"')
                                   : NoteServer::idText(id),
                     m_server.isMarkdown() ? QStringLiteral("markdown") : QStringLiteral("plain"),
                     QString::number(m_server.content().toUcs4().size()));
    } else {
        text += QStringLiteral("no note open");
    }
    text +=
        QStringLiteral("; %1 requests served, %2 content pushes applied, %3 saves")
            .arg(QString::number(m_served.load()), QString::number(m_server.appliedContentCount()),
                 QString::number(m_server.saveCount()));
    if (m_server.selectionCount() > 0) {
        const Selection selection = m_server.lastSelection();
        text += QStringLiteral(", last selection %1-%2 (note %3)")
                    .arg(QString::number(selection.start), QString::number(selection.end),
                         selection.noteId);
    }
    for (auto it = m_misbehaviours.cbegin(); it != m_misbehaviours.cend(); ++it) {
        text += QStringLiteral("; %1 misbehaves: %2").arg(it.key(), it.value());
    }
    return text;
}

} // namespace tavrin::sim
