#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "C/ExactText.h"
#include "C/system/Mem.h"
#include "C/system/System.h"
#include "C/util/Str.h"

using vigil::test::exactly;

namespace {

class StrDeath : public ::testing::Test {
  protected:
    void SetUp() override { VIGIL_DEATH_STYLE(); }
};

// A modifiable copy of a literal for the in-place functions.
struct Text {
    char s[512];
    explicit Text(const char* t) { std::snprintf(s, sizeof s, "%s", t); }
};

TEST(Str, TrimFamily) {
    Text a("  \t hello world \r\n");
    EXPECT_STREQ(Str_trim(a.s), "hello world");
    Text b(" \t\n ");
    EXPECT_STREQ(Str_rtrim(b.s), "");
    Text c("   x  ");
    EXPECT_STREQ(Str_ltrim(c.s), "x  ");
    Text d("a  b\t\tc d\te");
    EXPECT_STREQ(Str_wtrim(d.s), "a b c d\te");
    Text e("  lead");
    EXPECT_STREQ(Str_wtrim(e.s), " lead");
    Text f("line\r\nnext");
    EXPECT_STREQ(Str_chomp(f.s), "line");
    EXPECT_EQ(Str_trim(nullptr), nullptr);
    Text empty("");
    EXPECT_STREQ(Str_trim(empty.s), "");
}

TEST(Str, Unquote) {
    Text a(" \"'quoted value'\" ");
    EXPECT_STREQ(Str_unquote(a.s), "quoted value");
    Text b("\"");
    EXPECT_STREQ(Str_unquote(b.s), "");
    Text c("x\"\"");
    EXPECT_STREQ(Str_unquote(c.s), "x");
}

TEST(Str, CaseAndCompare) {
    Text a("MiXeD 1");
    EXPECT_STREQ(Str_toLower(a.s), "mixed 1");
    EXPECT_STREQ(Str_toUpper(a.s), "MIXED 1");
    EXPECT_TRUE(Str_startsWith("IP: 1.2.3.4", "ip"));
    EXPECT_FALSE(Str_startsWith("I", "ip"));
    EXPECT_FALSE(Str_startsWith(nullptr, "ip"));
    EXPECT_TRUE(Str_endsWith("volume.DMG", ".dmg"));
    EXPECT_TRUE(Str_endsWith("abc", ""));
    EXPECT_FALSE(Str_endsWith("", "a"));
    EXPECT_TRUE(Str_endsWith("", ""));
    EXPECT_FALSE(Str_endsWith("b", "ab"));
    EXPECT_TRUE(Str_isEqual("ABC", "abc"));
    EXPECT_FALSE(Str_isEqual("ABC", "abcd"));
    EXPECT_FALSE(Str_isEqual(nullptr, nullptr));
    EXPECT_TRUE(Str_isByteEqual("abc", "abc"));
    EXPECT_FALSE(Str_isByteEqual("ABC", "abc"));
    const char* hay = "The Quick fox";
    EXPECT_EQ(Str_sub(hay, "QUICK"), hay + 4);
    EXPECT_EQ(Str_sub(hay, "slow"), nullptr);
    EXPECT_EQ(Str_sub(hay, ""), nullptr);
    EXPECT_TRUE(Str_has("a/b", "/\\"));
    EXPECT_FALSE(Str_has("ab", "/\\"));
    EXPECT_LT(Str_cmp("a", "b"), 0);
}

TEST(Str, CopyJoinDup) {
    char dest[5];
    EXPECT_STREQ(Str_copy(dest, "abcdefgh", 4), "abcd");
    EXPECT_STREQ(Str_copy(dest, nullptr, 4), "");
    EXPECT_STREQ(Str_copy(dest, "abc", 0), "");
    char joined[8];
    EXPECT_STREQ(Str_join(joined, 7, "ab", "cd", "efgh", "ij"), "abcdefg");
    EXPECT_STREQ(Str_join(joined, 7, "x"), "x");
    char* d = Str_dup("copy");
    EXPECT_STREQ(d, "copy");
    FREE(d);
    EXPECT_EQ(d, nullptr);
    char* n = Str_ndup("abcdef", 3);
    EXPECT_STREQ(n, "abc");
    FREE(n);
    EXPECT_EQ(Str_dup(nullptr), nullptr);
    char* c = Str_cat("%s-%d", "x", 42);
    EXPECT_STREQ(c, "x-42");
    EXPECT_EQ(std::strlen(c), 4u);
    FREE(c);
    EXPECT_EQ(Str_cat(nullptr), nullptr);
    std::string big(100000, 'z');
    char* b = Str_cat("%s!", big.c_str());
    EXPECT_EQ(std::string(b), big + "!");
    FREE(b);
}

TEST(Str, TruncCurtailLim) {
    Text a("abcdefgh");  // n + 4 characters with n = 4
    EXPECT_STREQ(Str_trunc(a.s, 4), "abcdefgh");
    Text b("abcdefghi");  // n + 5
    EXPECT_STREQ(Str_trunc(b.s, 4), "abcd...");
    Text c("name (disk1s1)");
    EXPECT_STREQ(Str_curtail(c.s, " (DISK"), "name");
    EXPECT_TRUE(Str_lim("abcd", 3));
    EXPECT_FALSE(Str_lim("abc", 3));
    EXPECT_FALSE(Str_lim("", 0));
}

TEST(Str, PathsReplaceUnescape) {
    Text a("/dev/disk1s1");
    EXPECT_STREQ(Str_basename(a.s), "disk1s1");
    Text b("usr/lib");
    EXPECT_STREQ(Str_dirname(b.s), "usr/");
    Text c("name");
    EXPECT_STREQ(Str_dirname(c.s), ".");
    Text d("a.b.c");
    EXPECT_STREQ(Str_replaceChar(d.s, '.', '/'), "a/b/c");
    Text e("a\\ b\\\"c\\d");
    EXPECT_STREQ(Str_unescape(" \"", e.s), "a b\"c\\d");
}

TEST(Str, ParseAcceptsLeadingNumbers) {
    EXPECT_EQ(Str_parseInt("42abc"), 42);
    EXPECT_EQ(Str_parseInt("  -17"), -17);
    EXPECT_EQ(Str_parseInt("2147483647"), INT_MAX);
    EXPECT_EQ(Str_parseLLong("9223372036854775807"), LLONG_MAX);
    EXPECT_DOUBLE_EQ(Str_parseDouble("2.5e3 units"), 2500.0);
}

TEST(Str, MatchAndHash) {
    EXPECT_TRUE(Str_match("^disk[0-9]+s[0-9]+$", "disk1s12"));
    EXPECT_FALSE(Str_match("^disk[0-9]+$", "disk1s12"));
    EXPECT_FALSE(Str_match("x", ""));
    EXPECT_FALSE(Str_match("x", nullptr));
    EXPECT_EQ(Str_hash(""), 0u);
    // h = ((('a') << 4) + 'b'): two bytes never reach the high nibble.
    EXPECT_EQ(Str_hash("ab"), static_cast<uint64_t>(('a' << 4) + 'b'));
    // A signed byte (0xFF = -1) is added as a negative number.
    EXPECT_EQ(Str_hash("\xff"), 0xFFFFFFFF0FFFFF0Full);
    EXPECT_NE(Str_hash("eth0"), Str_hash("eth1"));
}

TEST_F(StrDeath, ParseTexts) {
    EXPECT_DEATH(Str_parseInt(nullptr),
                 "^NumberFormatException: For input string null\n raised in Str_parseInt at "
                 "VigilKit/C/util/Str\\.cpp:[0-9]+\n$");
    EXPECT_DEATH(Str_parseInt("abc"),
                 "^NumberFormatException: For input string abc -- Invalid "
                 "argument\n raised in Str_parseInt at VigilKit/C/util/"
                 "Str\\.cpp:[0-9]+\n$");
    EXPECT_DEATH(Str_parseInt("99999999999"),
                 "^NumberFormatException: For input string 99999999999 -- Numerical result out of "
                 "range\n raised in Str_parseInt at VigilKit/C/util/Str\\.cpp:[0-9]+\n$");
    EXPECT_DEATH(Str_parseLLong("99999999999999999999"),
                 "^NumberFormatException: For input string 99999999999999999999 -- Numerical "
                 "result out of range\n raised in Str_parseLLong at .*\n$");
    EXPECT_DEATH(Str_parseLLong(""), "^NumberFormatException: For input string null\n");
    EXPECT_DEATH(Str_parseDouble("-"),
                 "^NumberFormatException: For input string - -- Invalid "
                 "argument\n raised in Str_parseDouble at ");
    EXPECT_DEATH(Str_parseDouble("1e99999"), "Numerical result out of range");
}

TEST_F(StrDeath, AssertionTexts) {
    EXPECT_DEATH(Str_match("(", "x"),
                 "^AssertException: regular expression error -- [^\n]+\n raised in Str_match at "
                 "VigilKit/C/util/Str\\.cpp:[0-9]+\n$");
    EXPECT_DEATH(Str_trunc(nullptr, -1), "^AssertException: n >= 0\n raised in Str_trunc at ");
    EXPECT_DEATH(Str_lim("x", -1), "^AssertException: limit>=0\n");
    EXPECT_DEATH(Str_copy(nullptr, "x", 1), "^AssertException: dest\n");
    EXPECT_DEATH(Str_match(nullptr, "x"), "^AssertException: pattern\n");
}

TEST_F(StrDeath, RaiseMacroNamesCaller) {
    int line = __LINE__ + 1;
    auto raise = [] { VIGIL_RAISE("AssertException", "detail %d", 7); };
    EXPECT_DEATH(raise(), exactly(vigil::test::raised("AssertException: detail 7", "operator()",
                                                      "tests/C/StrTest.cpp", line)));
}

}  // namespace
