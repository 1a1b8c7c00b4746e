#pragma once
#include <ctime>

// Dates are seconds since 2001-01-01 00:00:00 UTC held as double.
inline constexpr double kReferenceDateOffset = 978307200.0;

// Every step in double so the same timespec always yields the identical value.
inline double dateFromTimespec(const timespec& ts)
{
    double t = static_cast<double>(ts.tv_nsec) / 1e9 + static_cast<double>(ts.tv_sec);
    return t - kReferenceDateOffset;
}

inline double dateNow()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return dateFromTimespec(ts);
}

// Seconds since 1970 of a stored date.
inline double unixTimeFromDate(double date) { return date + kReferenceDateOffset; }
