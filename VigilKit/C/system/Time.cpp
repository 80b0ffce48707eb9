#include "C/system/Time.h"

#include <sys/time.h>

#include <cmath>
#include <cstdio>
#include <ctime>

#include "C/system/System.h"

namespace {
struct tm localFields(int64_t t) {
    struct tm fields {};
    time_t seconds = static_cast<time_t>(t);
    localtime_r(&seconds, &fields);
    return fields;
}

bool inRange(const char* field, int value, int min, int max) {
    if (value >= min && value <= max)
        return true;
    std::printf("%s is outside the range (%d..%d)\n", field, min, max);
    std::fflush(stdout);
    return false;
}
}  // namespace

int64_t Time_now() {
    struct timeval tv {};
    if (gettimeofday(&tv, nullptr) != 0)
        System_error("gettimeofday -- %s", System_getLastError());
    return tv.tv_sec;
}

int64_t Time_milli() {
    struct timeval tv {};
    if (gettimeofday(&tv, nullptr) != 0)
        System_error("gettimeofday -- %s", System_getLastError());
    return static_cast<int64_t>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

int64_t Time_monotonicMilli() {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int Time_seconds(int64_t t) {
    return localFields(t).tm_sec;
}
int Time_minutes(int64_t t) {
    return localFields(t).tm_min;
}
int Time_hour(int64_t t) {
    return localFields(t).tm_hour;
}
int Time_weekday(int64_t t) {
    return localFields(t).tm_wday;
}
int Time_day(int64_t t) {
    return localFields(t).tm_mday;
}
int Time_month(int64_t t) {
    return localFields(t).tm_mon + 1;
}
int Time_year(int64_t t) {
    return localFields(t).tm_year + 1900;
}

int64_t Time_build(int year, int month, int day, int hour, int minute, int second) {
    if (!inRange("year", year, 1970, 2037) || !inRange("month", month, 1, 12) ||
        !inRange("day", day, 1, 31) || !inRange("hour", hour, 0, 23) ||
        !inRange("minute", minute, 0, 59) || !inRange("second", second, 0, 61))
        return 0;
    struct tm fields {};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    fields.tm_isdst = -1;
    return static_cast<int64_t>(mktime(&fields));
}

long Time_daysBetween(int64_t t1, int64_t t0) {
    double seconds = std::fabs(static_cast<double>(t1) - static_cast<double>(t0));
    return static_cast<long>((seconds + 43200.0) / 86400.0);
}
