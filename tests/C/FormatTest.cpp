// The stream's formatter against the C library's snprintf, and its own rules where they differ.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "C/ExactText.h"
#include "C/io/OutputStream.h"

namespace {

// Formats through an OutputStream over a pipe and returns what came out of the pipe.
class Printer {
  public:
    Printer() {
        if (pipe2(fds_, O_NONBLOCK | O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        // Room for the longest text a test prints, so that no reader has to run alongside.
        if (fcntl(fds_[1], F_SETPIPE_SZ, 1 << 20) < 0)
            throw std::runtime_error("pipe size");
        out_ = OutputStream_new(fds_[1]);
    }
    ~Printer() {
        OutputStream_free(&out_);
        close(fds_[0]);
        close(fds_[1]);
    }

    template <typename... Args>
    std::string operator()(const char* format, Args... args) {
        int n = OutputStream_print(out_, format, args...);
        while (OutputStream_buffered(out_) > 0)
            EXPECT_GT(OutputStream_flush(out_), 0);
        std::string text(static_cast<size_t>(n), '\0');
        size_t got = 0;
        while (got < text.size()) {
            ssize_t r = read(fds_[0], text.data() + got, text.size() - got);
            if (r <= 0)
                break;
            got += static_cast<size_t>(r);
        }
        return text;
    }

  private:
    int fds_[2];
    OutputStream_T out_;
};

template <typename T>
std::string reference(const std::string& format, T value) {
    int n = std::snprintf(nullptr, 0, format.c_str(), value);
    std::string text(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(text.data(), text.size(), format.c_str(), value);
    text.resize(static_cast<size_t>(n));
    return text;
}

const std::vector<std::string> kFlags = {"", "-", "+", " ", "0", "-+", "+0", " 0", "-0", "(", "+ "};
const std::vector<std::string> kWidths = {"", "1", "5", "12", "40"};
const std::vector<std::string> kPrecisions = {"", ".", ".0", ".1", ".3", ".12"};

TEST(Format, IntegersMatchSnprintf) {
    Printer print;
    const std::vector<int> ints = {0, 1, -1, 7, 42, -42, 1000000, INT_MAX, INT_MIN};
    const std::vector<long long> longs = {0, -1, 42, LLONG_MAX, LLONG_MIN, 1LL << 40};
    const std::vector<unsigned long long> unsigneds = {0, 1, 8, 255, 4096, ULLONG_MAX, 1ULL << 63};
    int compared = 0;
    for (const auto& flags : kFlags) {
        for (const auto& width : kWidths) {
            for (const auto& precision : kPrecisions) {
                std::string spec = "%" + flags + width + precision;
                // "(" is accepted and ignored; the C library does not know it.
                std::string cspec = "%";
                for (char c : flags)
                    if (c != '(')
                        cspec += c;
                cspec += width + precision;
                bool zeroPrecision = precision == "." || precision == ".0";
                for (int v : ints) {
                    if (v == 0 && zeroPrecision)
                        continue;  // the digit stays: tested below
                    EXPECT_EQ(print((spec + "d").c_str(), v), reference(cspec + "d", v))
                        << spec << "d of " << v;
                    EXPECT_EQ(print((spec + "i").c_str(), v), reference(cspec + "i", v));
                    compared += 2;
                }
                for (long long v : longs) {
                    if (v == 0 && zeroPrecision)
                        continue;
                    EXPECT_EQ(print((spec + "ld").c_str(), v), reference(cspec + "lld", v))
                        << spec << "ld of " << v;
                    EXPECT_EQ(print((spec + "lld").c_str(), v), reference(cspec + "lld", v));
                    compared += 2;
                }
                // The C library ignores "+" and " " for unsigned conversions; the stream's
                // formatter puts the sign: compared without them.
                if (flags.find_first_of("+ ") != std::string::npos)
                    continue;
                for (unsigned long long v : unsigneds) {
                    if (v == 0 && zeroPrecision)
                        continue;
                    for (const char* conversion : {"u", "x", "o"}) {
                        EXPECT_EQ(print((spec + conversion).c_str(), v),
                                  reference(cspec + "ll" + conversion, v))
                            << spec << conversion << " of " << v;
                        EXPECT_EQ(print((spec + "l" + conversion).c_str(), v),
                                  reference(cspec + "ll" + conversion, v));
                        compared += 2;
                    }
                }
            }
        }
    }
    EXPECT_GT(compared, 5000);
}

TEST(Format, FloatsMatchSnprintf) {
    Printer print;
    const std::vector<double> values = {0.0,    -0.0,    1.0,      -1.5,      3.14159265358979,
                                        1e-5,   0.5,     2.5,      123456789, 1e300,
                                        -1e308, DBL_MAX, DBL_MIN,  INFINITY,  -INFINITY,
                                        NAN,    1e15,    9.999999, 0.000123};
    for (const auto& flags : {"", "-", "+", " ", "0", "-+", "+0"}) {
        for (const auto& width : {"", "8", "20", "330"}) {
            for (const auto& precision : {"", ".0", ".2", ".10", ".99"}) {
                for (const char* conversion : {"f", "e", "g"}) {
                    std::string spec = std::string("%") + flags + width + precision + conversion;
                    for (double v : values)
                        EXPECT_EQ(print(spec.c_str(), v), reference(spec, v))
                            << spec << " of " << v;
                    std::string lspec =
                        std::string("%") + flags + width + precision + "l" + conversion;
                    EXPECT_EQ(print(lspec.c_str(), 2.5), reference(spec, 2.5));
                }
            }
        }
    }
}

TEST(Format, TextsCharactersPointersMatchSnprintf) {
    Printer print;
    for (const auto& flags : {"", "-"}) {
        for (const auto& width : {"", "1", "5", "20"}) {
            for (const auto& precision : {"", ".0", ".2", ".50"}) {
                std::string spec = std::string("%") + flags + width + precision + "s";
                for (const char* s : {"", "a", "hello world", "\xff\xfe invalid utf-8"})
                    EXPECT_EQ(print(spec.c_str(), s), reference(spec, s)) << spec << " of " << s;
            }
            std::string spec = std::string("%") + flags + width + "c";
            EXPECT_EQ(print(spec.c_str(), 'x'), reference(spec, 'x')) << spec;
        }
    }
    int local = 0;
    void* p = &local;
    EXPECT_EQ(print("%p", p), reference("%lx", reinterpret_cast<unsigned long>(p)));
    EXPECT_EQ(print("%30p|%-30p", p, p),
              reference("%30lx", reinterpret_cast<unsigned long>(p)) + "|" +
                  reference("%-30lx", reinterpret_cast<unsigned long>(p)));
    EXPECT_EQ(print("%.40p", p), reference("%lx", reinterpret_cast<unsigned long>(p)));  // ignored
    EXPECT_EQ(print("%p", nullptr), "0");
}

TEST(Format, StarsPercentAndMixedArguments) {
    Printer print;
    EXPECT_EQ(print("%*d|%-*d|%*d", 6, 42, 6, 42, -6, 42), "    42|42    |42    ");
    EXPECT_EQ(print("%.*d|%.*s|%*.*f", 4, 7, 3, "abcdef", 10, 3, 2.0), "0007|abc|     2.000");
    EXPECT_EQ(print("%.*d", -1, 5), "5");  // a negative precision counts as none
    EXPECT_EQ(print("100%% %s %d%c", "done", 3, '!'), "100% done 3!");
    EXPECT_EQ(print("plain text"), "plain text");
    EXPECT_EQ(print("%s=%ld/%u %x", "k", static_cast<long>(-5), uint64_t{7}, uint64_t{255}),
              "k=-5/7 ff");
}

TEST(Format, OwnPaddingRules) {
    Printer print;
    EXPECT_EQ(print("%5d", 42), "   42");
    EXPECT_EQ(print("%-5d|", 42), "42   |");
    EXPECT_EQ(print("%05d", -42), "-0042");
    EXPECT_EQ(print("%.3d", 7), "007");
    // Zero with precision 0 still puts its digit; only the padding counts it as absent.
    EXPECT_EQ(print("%.0d", 0), "0");
    EXPECT_EQ(print("%3.0d", 0), "   0");
    EXPECT_EQ(print("%.2s", "longer"), "lo");
    // Unsigned conversions take the "+" and " " flags as signs.
    EXPECT_EQ(print("%+u % x", uint64_t{5}, uint64_t{10}), "+5  a");
}

TEST(Format, LongOutputPassesThroughTheBuffer) {
    Printer print;
    std::string big(100000, 'q');
    EXPECT_TRUE(print("<%s>", big.c_str()) == "<" + big + ">");
    EXPECT_TRUE(print("%100000d", 1) == std::string(99999, ' ') + "1");
    EXPECT_EQ(print("%-99999.99f|", -DBL_MAX).size(), 100000u);
}

class FormatDeath : public ::testing::Test {
  protected:
    void SetUp() override { VIGIL_DEATH_STYLE(); }
};

TEST_F(FormatDeath, ContractViolations) {
    Printer print;
    EXPECT_DEATH(print("%s", static_cast<const char*>(nullptr)),
                 "^AssertException: str\n raised in cvt_s at VigilKit/C/io/OutputStream\\.cpp:");
    EXPECT_DEATH(print("%q", 1), "^AssertException: convert != nullptr\n");
    EXPECT_DEATH(print("trailing %"), "^AssertException: convert != nullptr\n");
    EXPECT_DEATH(print("%.100f", 1.0), "^AssertException: precision < 100\n raised in cvt_f");
    EXPECT_DEATH(print("%99999999999d", 1), "^AssertException: n <= \\(INT_MAX - d\\) / 10\n");
    EXPECT_DEATH(print("%*d", INT_MIN, 1), "^AssertException: spec.width != INT_MIN\n");
    EXPECT_DEATH(print((std::string("%") + std::string(255, '-') + "d").c_str(), 1),
                 "^AssertException: \\+\\+spec.flags\\[\\*p\\] < 255\n");
    EXPECT_EQ(print((std::string("%") + std::string(254, '-') + "3d").c_str(), 1), "1  ");
}

}  // namespace
