// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// QTRY_* polls in 50 ms steps, so a wait for a condition that holds after
// 3 ms still takes 50; the suite waits for many such conditions. The same
// macros here poll every 5 ms. Force-included into every test (see
// tests/CMakeLists.txt), after QtTest's own definitions.

#include <QtTest/qtestcase.h>

#undef QTRY_IMPL
#define QTRY_IMPL(expr, timeout)                                                                   \
    const int qt_test_step = 5;                                                                    \
    const int qt_test_timeoutValue = timeout;                                                      \
    { QTRY_LOOP_IMPL((expr), qt_test_timeoutValue, qt_test_step); }                                \
    QTRY_TIMEOUT_DEBUG_IMPL((expr), qt_test_timeoutValue, qt_test_step)
