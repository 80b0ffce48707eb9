#include <gtest/gtest.h>

#include <string>

#include "C/ExactText.h"
#include "C/util/StringBuffer.h"

namespace {

class StringBufferDeath : public ::testing::Test {
  protected:
    void SetUp() override { VIGIL_DEATH_STYLE(); }
};

TEST(StringBuffer, AppendFitsThenGrows) {
    StringBuffer_T S = StringBuffer_create(8);
    // Exactly length - used - 1 characters fit.
    StringBuffer_append(S, "%s", "1234567");
    EXPECT_EQ(StringBuffer_length(S), 7);
    EXPECT_STREQ(StringBuffer_toString(S), "1234567");
    // One more grows the buffer and keeps the text.
    StringBuffer_append(S, "%c", '8');
    EXPECT_STREQ(StringBuffer_toString(S), "12345678");
    StringBuffer_append(S, nullptr);
    const char* empty = "";
    StringBuffer_append(S, empty);
    EXPECT_EQ(StringBuffer_length(S), 8);
    StringBuffer_free(&S);
    EXPECT_EQ(S, nullptr);
}

TEST(StringBuffer, VeryLongAppends) {
    StringBuffer_T S = StringBuffer_create(1);
    EXPECT_STREQ(StringBuffer_toString(S), "");
    std::string expected;
    std::string chunk(70000, 'x');
    for (int i = 0; i < 40; i++) {
        StringBuffer_append(S, "%d:%s|", i, chunk.c_str());
        expected += std::to_string(i) + ":" + chunk + "|";
    }
    EXPECT_EQ(StringBuffer_length(S), static_cast<int>(expected.size()));
    EXPECT_EQ(std::string(StringBuffer_toString(S)), expected);
    StringBuffer_free(&S);
    S = StringBuffer_new(nullptr);
    EXPECT_EQ(StringBuffer_length(S), 0);
    StringBuffer_free(&S);
}

TEST(StringBuffer, ReplaceDoesNotOverlap) {
    StringBuffer_T S = StringBuffer_new("aaa");
    EXPECT_EQ(StringBuffer_replace(S, "aa", "b"), 1);
    EXPECT_STREQ(StringBuffer_toString(S), "ba");
    StringBuffer_clear(S);
    StringBuffer_append(S, "x.y.z");
    EXPECT_EQ(StringBuffer_replace(S, ".", "<dot>"), 2);
    EXPECT_STREQ(StringBuffer_toString(S), "x<dot>y<dot>z");
    EXPECT_EQ(StringBuffer_replace(S, "<dot>", ""), 2);
    EXPECT_STREQ(StringBuffer_toString(S), "xyz");
    EXPECT_EQ(StringBuffer_replace(S, "q", "r"), 0);
    EXPECT_EQ(StringBuffer_replace(S, "", "r"), 0);
    EXPECT_EQ(StringBuffer_replace(S, "x", nullptr), 0);
    // Growth past the allocation: 300 one-byte texts each become 10 bytes.
    StringBuffer_clear(S);
    for (int i = 0; i < 300; i++)
        StringBuffer_append(S, "%c", 'a');
    EXPECT_EQ(StringBuffer_replace(S, "a", "0123456789"), 300);
    EXPECT_EQ(StringBuffer_length(S), 3000);
    EXPECT_EQ(StringBuffer_lastIndexOf(S, "0123456789"), 2990);
    StringBuffer_free(&S);
    S = StringBuffer_create(4);
    EXPECT_EQ(StringBuffer_replace(S, "a", "b"), 0);
    StringBuffer_free(&S);
}

TEST(StringBuffer, SearchTrimDeleteSubstring) {
    StringBuffer_T S = StringBuffer_new("  \tone two one\n ");
    StringBuffer_trim(S);
    EXPECT_STREQ(StringBuffer_toString(S), "one two one");
    EXPECT_EQ(StringBuffer_indexOf(S, "one"), 0);
    EXPECT_EQ(StringBuffer_lastIndexOf(S, "one"), 8);
    EXPECT_EQ(StringBuffer_indexOf(S, "three"), -1);
    EXPECT_EQ(StringBuffer_indexOf(S, ""), -1);
    EXPECT_EQ(StringBuffer_lastIndexOf(S, "one two one and more"), -1);
    EXPECT_STREQ(StringBuffer_substring(S, 4), "two one");
    EXPECT_STREQ(StringBuffer_substring(S, 11), "");
    StringBuffer_delete(S, 3);
    EXPECT_STREQ(StringBuffer_toString(S), "one");
    StringBuffer_delete(S, 3);
    EXPECT_EQ(StringBuffer_length(S), 3);
    StringBuffer_clear(S);
    StringBuffer_trim(S);
    EXPECT_EQ(StringBuffer_indexOf(S, "o"), -1);
    StringBuffer_append(S, " \t ");
    StringBuffer_trim(S);
    EXPECT_EQ(StringBuffer_length(S), 0);
    StringBuffer_free(&S);
}

TEST_F(StringBufferDeath, Texts) {
    EXPECT_DEATH(StringBuffer_create(0),
                 "^AssertException: Illegal hint value\n raised in StringBuffer_create at "
                 "VigilKit/C/util/StringBuffer\\.cpp:[0-9]+\n$");
    StringBuffer_T S = StringBuffer_new("abc");
    EXPECT_DEATH(StringBuffer_delete(S, 4),
                 "^AssertException: Index out of bounds\n raised in StringBuffer_delete at "
                 "VigilKit/C/util/StringBuffer\\.cpp:[0-9]+\n$");
    EXPECT_DEATH(StringBuffer_delete(S, -1), "^AssertException: Index out of bounds\n");
    EXPECT_DEATH(StringBuffer_substring(S, 4),
                 "^AssertException: Index out of bounds\n raised in StringBuffer_substring at ");
    EXPECT_DEATH(StringBuffer_length(nullptr), "^AssertException: S\n");
    StringBuffer_T none = nullptr;
    EXPECT_DEATH(StringBuffer_free(&none), "^AssertException: S && \\*S\n");
    StringBuffer_free(&S);
}

}  // namespace
