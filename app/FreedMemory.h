// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

class QTimer;

namespace tavrin {

// Typing in a long note passes many copies of it through the heap (the text
// before each change, the push bodies and the journal's record of texts the
// phone had not yet confirmed, the load's answer), freed soon after but kept
// by the C library for reuse, resident. Once the note and its sync have been
// still for a second, that memory goes back to the system, so that a long
// note costs what it holds. Not at every change: memory given back is faulted
// in again by the next allocation.
class FreedMemory : public QObject {
    Q_OBJECT

public:
    static constexpr int kStillMs = 1000;

    explicit FreedMemory(QObject* parent = nullptr);

    // The note or its sync moved: give memory back once both are still.
    void moved();

    // Gives the free memory of the process's heap back now; false where the C
    // library offers no way to.
    static bool giveBack();

private:
    QTimer* m_still;
};

} // namespace tavrin
