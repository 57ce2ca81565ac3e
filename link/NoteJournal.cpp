// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/NoteJournal.h"

#include "link/LinkState.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

namespace tavrin {

namespace {

// The id with its JSON type: the number 5 and the text "5" are two notes.
QByteArray idKey(const QJsonValue& id) {
    return QJsonDocument(QJsonArray{id}).toJson(QJsonDocument::Compact);
}

} // namespace

NoteJournal::NoteJournal(const QString& directory)
    : m_directory(directory) {}

QString NoteJournal::directory() const {
    if (!m_directory.isEmpty())
        return m_directory;
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/journal");
}

QString NoteJournal::fileFor(const QString& address, const QJsonValue& noteId) const {
    const QByteArray key = address.toUtf8() + '\n' + idKey(noteId);
    const QByteArray name = QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex();
    return directory() + QLatin1Char('/') + QString::fromLatin1(name) + QStringLiteral(".json");
}

bool NoteJournal::save(const Entry& entry) {
    if (!QDir().mkpath(directory()))
        return false;
    const QJsonObject object{{"address", entry.address},
                             {"noteId", QJsonArray{entry.noteId}},
                             {"base", entry.base},
                             {"text", entry.text},
                             {"savedAt", entry.savedAt.toString(Qt::ISODateWithMs)}};
    QSaveFile file(fileFor(entry.address, entry.noteId));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QJsonDocument(object).toJson(QJsonDocument::Compact));
    const bool written = file.commit();
    if (!written)
        qCWarning(lcLink) << "could not write the journal" << file.fileName() << file.errorString();
    return written;
}

std::optional<NoteJournal::Entry> NoteJournal::find(const QString& address,
                                                    const QJsonValue& noteId) const {
    QFile file(fileFor(address, noteId));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
    Entry entry;
    entry.address = object.value(QLatin1String("address")).toString();
    entry.noteId = object.value(QLatin1String("noteId")).toArray().at(0);
    // A file of another note with the same name, or a damaged one, is not this note's.
    if (entry.address != address || idKey(entry.noteId) != idKey(noteId) ||
        !object.value(QLatin1String("text")).isString() ||
        !object.value(QLatin1String("base")).isString())
        return std::nullopt;
    entry.base = object.value(QLatin1String("base")).toString();
    entry.text = object.value(QLatin1String("text")).toString();
    entry.savedAt =
        QDateTime::fromString(object.value(QLatin1String("savedAt")).toString(), Qt::ISODateWithMs);
    return entry;
}

void NoteJournal::remove(const QString& address, const QJsonValue& noteId) {
    QFile::remove(fileFor(address, noteId));
}

} // namespace tavrin
