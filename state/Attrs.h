// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QJsonValue>
#include <QObject>
#include <QStringList>
#include <QVariant>
#include <optional>

namespace tavrin {

class History;

// The runtime record the scene shares between its parts. Never stored.
//
// `noteId` is the JSON value the phone gave, compared by type and value;
// QJsonValue::Undefined is "no value", which is distinct from the number 0.
class Attrs : public QObject {
    Q_OBJECT
    Q_PROPERTY(QJsonValue noteId READ noteId WRITE setNoteId NOTIFY noteIdChanged)
    Q_PROPERTY(QVariant ip READ ipValue NOTIFY ipChanged)
    Q_PROPERTY(bool isMarkdown READ isMarkdown WRITE setMarkdown NOTIFY isMarkdownChanged)
    Q_PROPERTY(bool isLoadOk READ isLoadOk WRITE setLoadOk NOTIFY isLoadOkChanged)
    Q_PROPERTY(int versionCode READ versionCode CONSTANT)
    Q_PROPERTY(QString versionName READ versionName CONSTANT)
    Q_PROPERTY(tavrin::History* history READ history CONSTANT)
    Q_PROPERTY(QStringList inStack READ inStack NOTIFY inStackChanged)
    Q_PROPERTY(QStringList outStack READ outStack NOTIFY outStackChanged)

public:
    explicit Attrs(QObject* parent = nullptr);

    QJsonValue noteId() const { return m_noteId; }
    void setNoteId(const QJsonValue& id);
    // The guards of every part compare the id with the number 0 only.
    bool noteIdIsZero() const;

    // The address, or nothing before the first valid one was entered.
    std::optional<QString> ip() const { return m_ip; }
    QVariant ipValue() const { return m_ip ? QVariant(*m_ip) : QVariant(); }
    void setIp(const QString& ip);

    bool isMarkdown() const { return m_markdown; }
    void setMarkdown(bool markdown);
    bool isLoadOk() const { return m_loadOk; }
    void setLoadOk(bool loadOk);

    int versionCode() const;
    QString versionName() const;

    History* history() const { return m_history; }
    QStringList inStack() const;
    QStringList outStack() const;

signals:
    void noteIdChanged();
    void ipChanged();
    void isMarkdownChanged();
    void isLoadOkChanged();
    void inStackChanged();
    void outStackChanged();

private:
    QJsonValue m_noteId{QJsonValue::Undefined};
    std::optional<QString> m_ip;
    bool m_markdown = false;
    bool m_loadOk = false;
    History* m_history;
};

// Ids are equal when their JSON type and value are equal; two ids without
// value are equal too.
bool sameNoteId(const QJsonValue& a, const QJsonValue& b);

} // namespace tavrin
