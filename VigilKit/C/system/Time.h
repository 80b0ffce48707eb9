#pragma once

// Wall-clock time: seconds since the epoch (Time_now) or milliseconds (Time_milli), and the fields
// of a time in local time.

#include <cstdint>

int64_t Time_now();
int64_t Time_milli();
// Milliseconds on the monotonic clock, from an unspecified start: for intervals and rates, which a
// change of the wall clock must not bend.
int64_t Time_monotonicMilli();
int Time_seconds(int64_t t);
int Time_minutes(int64_t t);
int Time_hour(int64_t t);
int Time_weekday(int64_t t);  // 0 = Sunday
int Time_day(int64_t t);      // 1..31
int Time_month(int64_t t);    // 1..12
int Time_year(int64_t t);     // four digits
// Local time to seconds since the epoch, daylight saving decided by the system. A field out of
// range writes "<field> is outside the range (<min>..<max>)" and gives 0.
int64_t Time_build(int year, int month, int day, int hour, int minute, int second);
// Whole days between two times, rounded to the nearest day, never negative.
long Time_daysBetween(int64_t t1, int64_t t0);
