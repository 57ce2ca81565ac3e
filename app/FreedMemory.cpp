// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/FreedMemory.h"

#include <QTimer>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace tavrin {

FreedMemory::FreedMemory(QObject* parent)
    : QObject(parent)
    , m_still(new QTimer(this)) {
    m_still->setSingleShot(true);
    m_still->setInterval(kStillMs);
    connect(m_still, &QTimer::timeout, this, [] { giveBack(); });
}

void FreedMemory::moved() {
    m_still->start();
}

bool FreedMemory::giveBack() {
#ifdef __GLIBC__
    malloc_trim(0);
    return true;
#else
    return false;
#endif
}

} // namespace tavrin
