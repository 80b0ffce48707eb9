#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "C/ExactText.h"
#include "C/system/Mem.h"
#include "C/system/System.h"
#include "C/system/Time.h"
#include "C/util/List.h"

namespace {

using vigil::test::exactly;

// The sanitizers' allocators note a failed huge allocation on a line of their own first.
std::string afterAllocatorNote(const std::string& pattern) {
    return "^([^\n]*Sanitizer[^\n]*\n)?" + pattern.substr(1);
}

class RuntimeDeath : public ::testing::Test {
  protected:
    void SetUp() override { VIGIL_DEATH_STYLE(); }
};

int a = 1, b = 2, c = 3;

TEST(List, EmptyAndSingle) {
    List_T L = List_new();
    EXPECT_EQ(List_pop(L), nullptr);
    EXPECT_EQ(List_length(L), 0);
    void** array = List_toArray(L);
    EXPECT_EQ(array[0], nullptr);
    FREE(array);
    List_reverse(L);
    List_clear(L);
    EXPECT_EQ(List_remove(L, &a), nullptr);
    List_append(L, &a);
    EXPECT_EQ(List_pop(L), &a);
    EXPECT_EQ(List_length(L), 0);
    // Append after the last pop: the tail was reset, so the element is reachable again.
    List_append(L, &b);
    List_push(L, &a);
    EXPECT_EQ(List_pop(L), &a);
    EXPECT_EQ(List_pop(L), &b);
    List_free(&L);
    EXPECT_EQ(L, nullptr);
}

TEST(List, OrderRemoveCatReverse) {
    List_T L = List_new();
    List_append(L, &b);
    List_push(L, &a);
    List_append(L, &c);
    List_append(L, &b);
    EXPECT_EQ(List_length(L), 4);
    EXPECT_EQ(List_remove(L, &b), &b);  // first occurrence only
    EXPECT_EQ(List_remove(L, nullptr), nullptr);
    void** array = List_toArray(L);
    EXPECT_EQ(array[0], &a);
    EXPECT_EQ(array[1], &c);
    EXPECT_EQ(array[2], &b);
    EXPECT_EQ(array[3], nullptr);
    FREE(array);
    // Removing the tail keeps appends in order.
    EXPECT_EQ(List_remove(L, &b), &b);
    List_append(L, &b);
    List_reverse(L);
    List_append(L, &a);
    array = List_toArray(L);
    EXPECT_EQ(array[0], &b);
    EXPECT_EQ(array[1], &c);
    EXPECT_EQ(array[2], &a);
    EXPECT_EQ(array[3], &a);
    FREE(array);
    List_T other = List_new();
    List_append(other, &c);
    List_cat(L, other);
    List_cat(L, L);
    EXPECT_EQ(List_length(L), 5);
    EXPECT_EQ(List_length(other), 1);
    List_free(&other);
    List_free(&L);
}

TEST(List, ClearedListReusesNodes) {
    List_T L = List_new();
    for (int round = 0; round < 3; round++) {
        for (int i = 0; i < 1000; i++)
            List_append(L, &a);
        EXPECT_EQ(List_length(L), 1000);
        List_clear(L);
        EXPECT_EQ(List_length(L), 0);
        EXPECT_EQ(List_pop(L), nullptr);
    }
    for (int i = 0; i < 10; i++)
        List_push(L, &b);
    EXPECT_EQ(List_pop(L), &b);
    List_free(&L);  // nodes on the list and on the free list: LeakSanitizer checks both
}

TEST_F(RuntimeDeath, ListAndMemoryTexts) {
    EXPECT_DEATH(List_length(nullptr),
                 "^AssertException: L\n raised in List_length at "
                 "VigilKit/C/util/List\\.cpp:[0-9]+\n$");
    EXPECT_DEATH(Mem_alloc(0, "caller", "unit.cpp", 9),
                 "^AssertException: nbytes > 0\n raised in Mem_alloc at ");
    EXPECT_DEATH(Mem_calloc(0, 1, "caller", "unit.cpp", 9), "^AssertException: count > 0\n");
    int line = __LINE__ + 1;
    EXPECT_DEATH(ALLOC(INT64_C(1) << 60), afterAllocatorNote(exactly(vigil::test::raised(
                                              "Memory Exception: Cannot allocate memory",
                                              "TestBody", "tests/C/ListMemTimeTest.cpp", line))));
    void* p = nullptr;
    EXPECT_DEATH(RESIZE(p, INT64_C(1) << 60),
                 afterAllocatorNote("^Memory Exception: Cannot allocate memory\n"));
}

TEST_F(RuntimeDeath, SystemErrorAndAbortTexts) {
    EXPECT_STREQ(System_getError(ENOENT), "No such file or directory");
    errno = EACCES;
    EXPECT_STREQ(System_getLastError(), "Permission denied");
    testing::internal::CaptureStderr();
    System_error("%s -- %s", "open", System_getError(ENOENT));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: open -- No such file or directory\n");
    EXPECT_DEATH(System_abort("%s", "Fatal X\n"), exactly("Fatal X\n"));
}

TEST(Time, ClockAndFields) {
    int64_t now = Time_now();
    int64_t milli = Time_milli();
    EXPECT_GT(now, INT64_C(1600000000));
    EXPECT_LE(now * 1000, milli + 1000);
    int64_t t = Time_build(2024, 2, 29, 13, 45, 30);
    EXPECT_EQ(Time_year(t), 2024);
    EXPECT_EQ(Time_month(t), 2);
    EXPECT_EQ(Time_day(t), 29);
    EXPECT_EQ(Time_hour(t), 13);
    EXPECT_EQ(Time_minutes(t), 45);
    EXPECT_EQ(Time_seconds(t), 30);
    EXPECT_EQ(Time_weekday(t), 4);  // a Thursday
}

TEST(Time, BuildRanges) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(Time_build(2038, 1, 1, 0, 0, 0), 0);
    EXPECT_EQ(Time_build(2000, 13, 1, 0, 0, 0), 0);
    EXPECT_EQ(Time_build(2000, 1, 1, 0, 60, 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "year is outside the range (1970..2037)\nmonth is outside the range (1..12)\n"
              "minute is outside the range (0..59)\n");
}

TEST(Time, DaysBetween) {
    EXPECT_EQ(Time_daysBetween(43200, 0), 1);
    EXPECT_EQ(Time_daysBetween(0, 43200), 1);
    EXPECT_EQ(Time_daysBetween(0, 11 * 3600 + 59 * 60), 0);
    EXPECT_EQ(Time_daysBetween(10 * 86400, 0), 10);
    EXPECT_EQ(Time_daysBetween(5, 5), 0);
}

}  // namespace
