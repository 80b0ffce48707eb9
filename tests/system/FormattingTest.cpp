#include "system/Formatting.h"

#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>

#include <gtest/gtest.h>

#include "settings/Defaults.h"
#include "support/SelfExec.h"
#include "support/TempFolder.h"

namespace vigil {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::nan("");

double power(double base, int k) {
    double v = 1;
    for (int i = 0; i < k; ++i)
        v *= base;
    return v;
}

TEST(ByteNotationTest, RawValuesAndUnitTexts) {
    const char* texts[] = {"B", "KB", "MB", "GB", "TB", "PB", "EB", "ZB"};
    for (int raw = 0; raw <= 7; ++raw) {
        auto notation = byteNotationFromRaw(raw);
        ASSERT_TRUE(notation);
        EXPECT_EQ(static_cast<int>(*notation), raw);
        EXPECT_STREQ(unitText(*notation), texts[raw]);
    }
    EXPECT_FALSE(byteNotationFromRaw(-1));
    EXPECT_FALSE(byteNotationFromRaw(8));
    EXPECT_FALSE(byteNotationFromRaw(std::numeric_limits<int64_t>::min()));
}

TEST(ByteStrTest, WorkedExamples) {
    struct Row {
        double bytes;
        const char *binary, *decimal, *fromGB;
    };
    const Row rows[] = {
        {0, "0 B", "0 B", "0 B"},
        {512, "512 B", "512 B", "512 B"},
        {1024, "1024 B", "1.02 KB", "1024 B"},
        {1025, "1 KB", "1.02 KB", "1 KB"},
        {1536, "1.50 KB", "1.54 KB", "2 KB"},
        {1048576, "1024 KB", "1.05 MB", "1024 KB"},
        {1610612736, "1.50 GB", "1.61 GB", "2 GB"},
        {8589934592, "8 GB", "8.59 GB", "8 GB"},
        {500107862016, "465.76 GB", "500.11 GB", "466 GB"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(byteStr(row.bytes), row.binary) << row.bytes;
        EXPECT_EQ(diskByteStr(row.bytes), row.decimal) << row.bytes;
        EXPECT_EQ(byteStr(row.bytes, ByteNotation::GB), row.fromGB) << row.bytes;
    }
}

TEST(ByteStrTest, EachPowerStaysInTheLowerUnitAndMovesUpJustAbove) {
    const char* units[] = {"B", "KB", "MB", "GB", "TB", "PB", "EB", "ZB"};
    for (int k = 1; k <= 8; ++k) {
        const double at = power(1024, k);
        EXPECT_EQ(byteStr(at), std::string("1024 ") + units[k - 1]) << k;
        if (k < 8) {
            EXPECT_EQ(byteStr(std::nextafter(at, kInf)), std::string("1 ") + units[k]);
        }
        const double atDecimal = power(1000, k);
        if (k < 8) {
            EXPECT_EQ(diskByteStr(atDecimal), std::string("1000 ") + units[k - 1]) << k;
            EXPECT_EQ(diskByteStr(atDecimal * 1.001), std::string("1 ") + units[k]) << k;
        }
    }
    EXPECT_EQ(byteStr(1023), "1023 B");
    // Just below a power the lower unit shows a fraction that rounds up to the base.
    EXPECT_EQ(byteStr(1048575), "1024.00 KB");
    EXPECT_EQ(diskByteStr(999999), "1000.00 KB");
    EXPECT_EQ(byteStr(1048577), "1 MB");
}

TEST(ByteStrTest, LargestValuesAndTheEndOfTheUnits) {
    EXPECT_EQ(byteStr(power(1024, 8)), "1024 ZB");
    EXPECT_EQ(byteStr(std::nextafter(power(1024, 8), kInf)), "");
    EXPECT_EQ(byteStr(power(1024, 9)), "");
    EXPECT_EQ(diskByteStr(1e27), "");
    EXPECT_EQ(byteStr(std::numeric_limits<double>::max()), "");
    EXPECT_EQ(byteStr(std::numeric_limits<uint64_t>::max()), "16 EB");
    EXPECT_EQ(byteStr(std::numeric_limits<int64_t>::max()), "8 EB");
    EXPECT_EQ(diskByteStr(std::numeric_limits<uint64_t>::max()), "18.45 EB");
    EXPECT_EQ(byteStr(power(1024, 8), ByteNotation::ZB), "1024 ZB");
}

TEST(ByteStrTest, NegativeAndNonFiniteInput) {
    EXPECT_EQ(byteStr(-1536), "-1536 B");
    EXPECT_EQ(diskByteStr(-1536), "-1536 B");
    EXPECT_EQ(byteStr(std::numeric_limits<int64_t>::min()), "-9223372036854775808 B");
    EXPECT_EQ(byteStr(int64_t{-5}), "-5 B");
    // A small negative fraction rounds to zero and is shown without a sign.
    EXPECT_EQ(byteStr(-0.4), "0 B");
    EXPECT_EQ(byteStr(-0.0), "0 B");
    EXPECT_EQ(byteStr(kNaN), "");
    EXPECT_EQ(byteStr(kInf), "");
    EXPECT_EQ(byteStr(-kInf), "");
    EXPECT_EQ(diskByteStr(kNaN), "");
    EXPECT_EQ(byteStr(kNaN, ByteNotation::GB), "");
}

TEST(ByteStrTest, DecimalsAndRounding) {
    // Two decimals only from a fraction of 0.005 up.
    EXPECT_EQ(byteStr(1028), "1 KB");     // 1.0039
    EXPECT_EQ(byteStr(1030), "1.01 KB");  // 1.0059
    // printf rounding of exact halves: to even.
    EXPECT_EQ(byteStr(1152), "1.12 KB");  // 1.125
    EXPECT_EQ(byteStr(1408), "1.38 KB");  // 1.375
    EXPECT_EQ(byteStr(0.5), "0 B");
    EXPECT_EQ(byteStr(1.5), "2 B");
    EXPECT_EQ(byteStr(2.5), "2 B");
    EXPECT_EQ(byteStr(2560, ByteNotation::GB), "2 KB");  // 2.5
    // From GB: gigabytes and below whole, terabytes and above with two decimals.
    EXPECT_EQ(byteStr(1.5 * power(1024, 3), ByteNotation::GB), "2 GB");
    EXPECT_EQ(byteStr(1.5 * power(1024, 4), ByteNotation::GB), "1.50 TB");
    EXPECT_EQ(byteStr(1.5 * power(1024, 7), ByteNotation::GB), "1.50 ZB");
    EXPECT_EQ(byteStr(1.5 * power(1024, 7), ByteNotation::ZB), "2 ZB");
    EXPECT_EQ(byteStr(1536, ByteNotation::B), "1.50 KB");
    EXPECT_EQ(byteStr(uint64_t{1536}, ByteNotation::KB), "2 KB");
    EXPECT_EQ(byteStr(uint64_t{1536}), "1.50 KB");
    EXPECT_EQ(diskByteStr(1000), "1000 B");
}

TEST(BpsStrTest, RatesAreNeverShownInBytes) {
    EXPECT_EQ(bpsStr(0), "0.0 KB/s");
    EXPECT_EQ(bpsStr(100), "0.1 KB/s");
    EXPECT_EQ(bpsStr(1500), "1.5 KB/s");
    EXPECT_EQ(bpsStr(123456), "120.6 KB/s");
    EXPECT_EQ(bpsStr(1048576), "1.0 MB/s");
    EXPECT_EQ(bpsStr(2000000), "1.9 MB/s");
}

TEST(BpsStrTest, UnitBoundariesRoundingAndBadInput) {
    const char* units[] = {"B", "KB", "MB", "GB", "TB", "PB", "EB", "ZB"};
    for (int k = 2; k <= 7; ++k) {
        EXPECT_EQ(bpsStr(power(1024, k)), std::string("1.0 ") + units[k] + "/s") << k;
        // Just below the power the lower unit rounds up to 1024.0.
        EXPECT_EQ(bpsStr(std::nextafter(power(1024, k), 0)),
                  std::string("1024.0 ") + units[k - 1] + "/s")
            << k;
    }
    EXPECT_EQ(bpsStr(std::nextafter(power(1024, 8), 0)), "1024.0 ZB/s");
    EXPECT_EQ(bpsStr(power(1024, 8)), "");
    EXPECT_EQ(bpsStr(std::numeric_limits<double>::max()), "");
    EXPECT_EQ(bpsStr(256), "0.2 KB/s");  // 0.25, printf rounds halves to even
    EXPECT_EQ(bpsStr(768), "0.8 KB/s");  // 0.75
    EXPECT_EQ(bpsStr(-1), "0.0 KB/s");
    EXPECT_EQ(bpsStr(-2048), "-2.0 KB/s");
    EXPECT_EQ(bpsStr(kNaN), "");
    EXPECT_EQ(bpsStr(kInf), "");
    EXPECT_EQ(bpsStr(-kInf), "");
}

TEST(TemperatureTest, CelsiusAndFahrenheitRoundHalvesAwayFromZero) {
    EXPECT_EQ(celcius(45.5), "46°");
    EXPECT_EQ(celcius(45.4), "45°");
    EXPECT_EQ(celcius(0), "0°");
    EXPECT_EQ(celcius(-0.4), "0°");
    EXPECT_EQ(celcius(-0.5), "-1°");
    EXPECT_EQ(celcius(-45.5), "-46°");
    EXPECT_EQ(fahrenheit(20), "68°");
    EXPECT_EQ(fahrenheit(-40), "-40°");
    EXPECT_EQ(fahrenheit(37), "99°");   // 98.6
    EXPECT_EQ(fahrenheit(2.5), "37°");  // 36.5
    EXPECT_EQ(celcius(kNaN), "");
    EXPECT_EQ(fahrenheit(kInf), "");
    EXPECT_EQ(celcius(1e300).size(), 301u + 2);  // every digit and the UTF-8 degree sign
}

TEST(TemperatureTest, DegreesFollowTheTemperatureSetting) {
    test::TempFolder folder;
    Defaults d(Defaults::kSharedSuite, folder.path());
    EXPECT_EQ(degrees(20, d), "20°");  // absent: Celsius
    d.set("temperature", 1);
    EXPECT_EQ(degrees(20, d), "68°");
    d.set("temperature", 0);
    EXPECT_EQ(degrees(20, d), "20°");
    d.set("temperature", 2);
    EXPECT_EQ(degrees(20, d), "68°");
    d.set("temperature", true);
    EXPECT_EQ(degrees(20, d), "68°");
    d.set("temperature", "1");  // not a number
    EXPECT_EQ(degrees(20, d), "20°");
    d.set("temperature", 0.5);  // integer value 0
    EXPECT_EQ(degrees(20, d), "20°");
}

// The shared store is opened from XDG_CONFIG_HOME, and degrees() reads it at each call.
VIGIL_CHILD_JOB(formattingDegrees) {
    Defaults writer(Defaults::kSharedSuite, test::childEnv("XDG_CONFIG_HOME"));
    std::printf("%s|", degrees(20).c_str());
    writer.set("temperature", 1);
    std::printf("%s|", degrees(20).c_str());
    writer.set("temperature", 0);
    std::printf("%s", degrees(20).c_str());
    return 0;
}

TEST(TemperatureTest, DegreesReadTheSharedStore) {
    test::TempFolder folder;
    auto result = test::runSelf(
        {"VIGIL_CHILD_JOB=formattingDegrees", "XDG_CONFIG_HOME=" + folder.path().string()});
    ASSERT_TRUE(result.exitedWith(0)) << result.err;
    EXPECT_EQ(result.out, "20°|68°|20°");
}

TEST(ToStrTest, TwoDecimals) {
    EXPECT_EQ(toStr(3.14159), "3.14");
    EXPECT_EQ(toStr(2.675), "2.67");  // 2.67499999... in binary
    EXPECT_EQ(toStr(0), "0.00");
    EXPECT_EQ(toStr(-0.001), "0.00");
    EXPECT_EQ(toStr(-1.5), "-1.50");
    EXPECT_EQ(toStr(1e20), "100000000000000000000.00");
    EXPECT_EQ(toStr(kNaN), "");
}

// Under a locale whose decimal mark is a comma, figures still use a point.
VIGIL_CHILD_JOB(formattingLocale) {
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        return 2;
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.2f", 1.5);
    std::printf("%s|%s|%s|%s|%s", probe, byteStr(1536).c_str(), bpsStr(1500).c_str(),
                toStr(3.14159).c_str(), byteStr(1610612736, ByteNotation::B).c_str());
    return 0;
}

TEST(FormattingLocaleTest, NumbersIgnoreTheUsersLocale) {
    test::TempFolder folder;
    const std::string command =
        "localedef -i de_DE -f UTF-8 " + folder.path().string() + "/de_DE.UTF-8 >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0 || !std::filesystem::exists(folder / "de_DE.UTF-8")) {
        GTEST_SKIP() << "cannot build a de_DE locale with localedef (locales sources missing)";
    }
    auto result =
        test::runSelf({"VIGIL_CHILD_JOB=formattingLocale", "LOCPATH=" + folder.path().string()});
    ASSERT_TRUE(result.exitedWith(0)) << "the child could not switch to de_DE: " << result.err;
    // The probe shows the locale really is in force for printf.
    EXPECT_EQ(result.out, "1,50|1.50 KB|1.5 KB/s|3.14|1.50 GB");
}

TEST(UptimeTest, Examples) {
    EXPECT_EQ(TimeFormat::uptime(0), "0 minutes");
    EXPECT_EQ(TimeFormat::uptime(59), "0 minutes");
    EXPECT_EQ(TimeFormat::uptime(60), "1 minute");
    EXPECT_EQ(TimeFormat::uptime(3600), "1 hour, 0 minutes");
    EXPECT_EQ(TimeFormat::uptime(86400), "1 day, 0 minutes");
    EXPECT_EQ(TimeFormat::uptime(90061), "1 day, 1 hour, 1 minute");
    EXPECT_EQ(TimeFormat::uptime(200000), "2 days, 7 hours, 33 minutes");
    EXPECT_EQ(uptimeString(200000), "2 days, 7 hours, 33 minutes");
}

TEST(UptimeTest, BoundariesAndBadInput) {
    EXPECT_EQ(TimeFormat::uptime(119), "1 minute");
    EXPECT_EQ(TimeFormat::uptime(120), "2 minutes");
    EXPECT_EQ(TimeFormat::uptime(3599), "59 minutes");
    EXPECT_EQ(TimeFormat::uptime(7199), "1 hour, 59 minutes");
    EXPECT_EQ(TimeFormat::uptime(7200), "2 hours, 0 minutes");
    EXPECT_EQ(TimeFormat::uptime(86399), "23 hours, 59 minutes");
    EXPECT_EQ(TimeFormat::uptime(172799), "1 day, 23 hours, 59 minutes");
    EXPECT_EQ(TimeFormat::uptime(172800), "2 days, 0 minutes");
    EXPECT_EQ(TimeFormat::uptime(-1), "0 minutes");
    EXPECT_EQ(TimeFormat::uptime(std::numeric_limits<int64_t>::min()), "0 minutes");
    EXPECT_EQ(TimeFormat::uptime(std::numeric_limits<int64_t>::max()),
              "106751991167300 days, 15 hours, 30 minutes");
    EXPECT_EQ(TimeFormat::uptime(std::numeric_limits<uint64_t>::max()),
              TimeFormat::uptime(std::numeric_limits<int64_t>::max()));
    EXPECT_EQ(TimeFormat::uptime(90061.9), "1 day, 1 hour, 1 minute");
    EXPECT_EQ(TimeFormat::uptime(kNaN), "0 minutes");
    EXPECT_EQ(TimeFormat::uptime(-kInf), "0 minutes");
    EXPECT_EQ(TimeFormat::uptime(kInf), TimeFormat::uptime(std::numeric_limits<int64_t>::max()));
}

TEST(TimeFormatTest, SplitAndClock) {
    EXPECT_EQ(TimeFormat::split(200000), (TimeFormat::Split{2, 7, 33, 20}));
    EXPECT_EQ(TimeFormat::split(-90061), (TimeFormat::Split{-1, -1, -1, -1}));
    const int64_t now = TimeFormat::now();
    const int64_t milli = TimeFormat::milli();
    EXPECT_GT(now, 1700000000);
    EXPECT_GE(milli / 1000, now);
    EXPECT_LE(milli / 1000, now + 5);
}

}  // namespace
}  // namespace vigil
