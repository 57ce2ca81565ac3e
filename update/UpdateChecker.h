// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "update/UpdateAnswer.h"

#include <QObject>
#include <QString>
#include <QUrl>

namespace tavrin {

namespace transport {
class Transport;
struct Answer;
} // namespace transport

// Asks the maker's update server whether a newer version exists.
class UpdateChecker : public QObject {
    Q_OBJECT
    Q_PROPERTY(QUrl logoUrl READ logoUrl CONSTANT)
    Q_PROPERTY(QString downloadPage READ downloadPage CONSTANT)
    // False in builds without the update check: the scene shows no update button.
    Q_PROPERTY(bool available READ available CONSTANT)

public:
    explicit UpdateChecker(QObject* parent = nullptr);

    QUrl logoUrl() const;
    QString downloadPage() const;
    bool available() const;

    // Sends the check and returns at once; the answer arrives as one of the
    // signals below, or as nothing (see the .cpp for which answer gives what).
    // Sends nothing when the check is not available.
    Q_INVOKABLE void checkUpdate(bool byHand);

    // The deadline of the checks sent from now on (tests shorten it).
    void setTimeoutMs(int timeoutMs) { m_timeoutMs = timeoutMs; }
    int timeoutMs() const { return m_timeoutMs; }

signals:
    // A newer version exists; the scene shows its dialog with this note.
    void newVersionFound(const QString& upgradeNote);
    // A message for the message dialog (manual checks only).
    void messageRequested(const QString& title, const QString& text);

private:
    // The title of the check's messages, in the user's language.
    static QString messageTitle();
    void handleAnswer(const transport::Answer& reply, bool byHand);

    transport::Transport* m_transport;
    int m_timeoutMs = update::kCheckTimeoutMs;
};

} // namespace tavrin
