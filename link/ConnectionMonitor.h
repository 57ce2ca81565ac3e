// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "link/LinkState.h"

#include <QJsonValue>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QVariant>
#include <optional>

class QTimer;

namespace tavrin {

class Attrs;
namespace transport {
class Transport;
struct Answer;
} // namespace transport

// Watches the phone: the heartbeat every interval, the change of the open
// note, the loading of a note, and the one state that follows from them. It
// writes the note id, the markdown flag and the loaded flag into the record.
//
// Every signal is emitted synchronously, in the order the steps happen.
class ConnectionMonitor : public QObject {
    Q_OBJECT

public:
    explicit ConnectionMonitor(transport::Transport* transport, QObject* parent = nullptr);

    void setAttrs(Attrs* attrs);

    void setTransport(transport::Transport* transport) { m_transport = transport; }
    void setTimings(const link::Timings& timings);
    const link::Timings& timings() const { return m_timings; }

    link::State state() const { return m_state; }
    link::Refusal refusal() const { return m_refusal; }
    // The note the editor holds across a drop: loaded once and not replaced since.
    bool holdsNote() const { return m_heldNote.has_value(); }
    // Loading that note again after a drop.
    bool isResuming() const;
    QTimer* countDown() const { return m_countDown; }
    int outstandingHeartbeats() const { return m_outstandingHeartbeats; }
    // The phone's character count for the window title; null for none.
    QVariant charCountText() const { return m_charCountText; }
    QUrl backgroundSource() const { return m_backgroundSource; }

    // The address in the record changed: the heartbeat starts the first time.
    // True when this started it.
    bool addressChanged();
    void heartBeat();
    void loadNote();
    void reloadBackground();

signals:
    void stateChanged();
    void charCountTextChanged();
    void backgroundSourceChanged();
    // The link is about to let go of the note it held: its edits may need keeping.
    void leavingNote(const QJsonValue& heldId);
    // The phone opened another note, or (`resuming`) the held one again after
    // a drop; it is being loaded.
    void noteSwitched(bool resuming);
    // A heartbeat answered for the note held: the phone is there.
    void noteStillOpen();
    // The editor must show one of the link's hints instead of a note.
    void hintRequested(const QString& hint);
    // The note arrived; the record already holds its id and markdown flag.
    void noteLoaded(const QJsonValue& noteId, const QString& content);

private:
    void setState(link::State state, link::Refusal refusal = link::Refusal::None);
    void onHeartbeatAnswer(const transport::Answer& answer);
    void onHeartbeatFailed();
    void onLoadAnswer(const transport::Answer& answer);
    void setCharCountText(const QVariant& text);
    void refuseLoad(link::Refusal refusal);
    void loadFailed();
    // The note named by a heartbeat is not in the editor (a failed or refused
    // load, or a drop while reloading): load it again, after a wait that
    // doubles, counted in heartbeats.
    void retryLoadIfDue();

    QPointer<Attrs> m_attrs;
    transport::Transport* m_transport;
    link::Timings m_timings;
    QTimer* m_countDown;
    link::State m_state = link::State::NoAddress;
    link::Refusal m_refusal = link::Refusal::None;
    std::optional<QJsonValue> m_heldNote;
    int m_loadRetryBeats = 0;
    int m_beatsUntilLoadRetry = 0;
    int m_outstandingHeartbeats = 0;
    QVariant m_charCountText;
    QUrl m_backgroundSource;
};

} // namespace tavrin
