#pragma once
// Qt's QTRY_* macros report a timeout to Qt's own test runner, which GoogleTest never asks:
// the test function just returns and is counted as passed. These wait the same way and fail
// the test. Include this after <QTest>-using headers; usable where QTRY_* is (void functions).
#include <QTest>
#include <gtest/gtest.h>

#undef QTRY_VERIFY_WITH_TIMEOUT
#undef QTRY_VERIFY
#undef QTRY_COMPARE_WITH_TIMEOUT
#undef QTRY_COMPARE

#define QTRY_VERIFY_WITH_TIMEOUT(expr, timeout) \
    ASSERT_TRUE(QTest::qWaitFor([&] { return static_cast<bool>(expr); }, timeout)) << "waited for " #expr
#define QTRY_VERIFY(expr) QTRY_VERIFY_WITH_TIMEOUT(expr, 5000)
// The comparison after the wait reports a timeout, with both values.
#define QTRY_COMPARE_WITH_TIMEOUT(actual, expected, timeout)                                 \
    do {                                                                                     \
        static_cast<void>(QTest::qWaitFor([&] { return (actual) == (expected); }, timeout)); \
        ASSERT_EQ(actual, expected) << "waited for " #actual " == " #expected;               \
    } while (false)
#define QTRY_COMPARE(actual, expected) QTRY_COMPARE_WITH_TIMEOUT(actual, expected, 5000)
