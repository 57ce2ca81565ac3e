// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QJsonValue>
#include <QString>
#include <optional>

namespace tavrin {

// Edits the phone has not confirmed, kept on disk so that neither a dropped
// link nor a crash loses them: one file per note (address and id), written
// whole with QSaveFile, removed once the phone has the text.
class NoteJournal {
public:
    struct Entry {
        QString address;
        QJsonValue noteId;
        QString base; // the text the phone last confirmed
        QString text; // the editor's text, not yet confirmed
        QDateTime savedAt;
    };

    // Files go into `directory`; empty: the application's data location.
    explicit NoteJournal(const QString& directory = QString());

    QString directory() const;
    bool save(const Entry& entry);
    std::optional<Entry> find(const QString& address, const QJsonValue& noteId) const;
    void remove(const QString& address, const QJsonValue& noteId);

private:
    QString fileFor(const QString& address, const QJsonValue& noteId) const;

    QString m_directory;
};

} // namespace tavrin
