#include <sys/stat.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

#include <gtest/gtest.h>

#include "settings/Defaults.h"
#include "support/TempFolder.h"

namespace vigil {

enum class Rows : int64_t { all = 0, system = 1, network = 2 };
template <>
struct DefaultsEnumTraits<Rows> : DefaultsContiguousEnum<Rows, 0, 2> {};

struct Window {
    int64_t width = 0;
    std::string title;
    friend bool operator==(const Window&, const Window&) = default;
};
void to_json(nlohmann::json& j, const Window& w) {
    j = {{"width", w.width}, {"title", w.title}};
}
void from_json(const nlohmann::json& j, Window& w) {
    j.at("width").get_to(w.width);
    j.at("title").get_to(w.title);
}

namespace {

using test::TempFolder;
using Json = nlohmann::json;
constexpr const char* kSuite = "Q4T2WXLM83.VigilSharingDefaults";

TEST(DefaultsTest, EveryValueTypeSurvivesARestart) {
    TempFolder folder;
    const DefaultsKey<std::string> text("text");
    const DefaultsKey<int64_t> integer("integer");
    const DefaultsKey<int> small("small");
    const DefaultsKey<double> real("real");
    const DefaultsKey<bool> flag("flag");
    const DefaultsKey<DefaultsData> blob("blob");
    const DefaultsKey<std::optional<DefaultsDate>> when("when");
    const DefaultsKey<std::optional<DefaultsUrl>> url("url");
    const DefaultsKey<DefaultsDictionary> dict("dict");
    const DefaultsKey<DefaultsArray> list("list");
    const DefaultsKey<std::vector<std::string>> texts("texts");
    const DefaultsKey<std::vector<int64_t>> integers("integers");
    const DefaultsKey<std::vector<double>> reals("reals");
    const DefaultsKey<std::vector<bool>> flags("flags");
    const DefaultsKey<std::vector<DefaultsData>> blobs("blobs");
    const DefaultsKey<std::vector<DefaultsDate>> dates("dates");
    const DefaultsKey<std::optional<Rows>> rows("rows");
    const DefaultsKey<std::optional<Window>> window("window");
    const DefaultsKey<std::optional<std::string>> address("publicAddress");

    DefaultsData bytes;
    for (int i = 0; i < 256; ++i)
        bytes.push_back(static_cast<uint8_t>(i));
    const DefaultsDate date = DefaultsDate(std::chrono::microseconds(1765200000123456));
    {
        Defaults d(kSuite, folder.path());
        EXPECT_TRUE(d.set(text, "grüße \"quoted\"\n"));
        d.set(integer, std::numeric_limits<int64_t>::min());
        d.set(small, -7);
        d.set(real, 0.1);
        d.set(flag, true);
        d.set(blob, bytes);
        d.set(when, date);
        d.set(url, DefaultsUrl{"http://127.0.0.1:8080/"});
        d.set(dict, DefaultsDictionary{{"a", 1}, {"b", "two"}});
        d.set(list, DefaultsArray{1, "two", nullptr});
        d.set(texts, {"x", "y"});
        d.set(integers, {1, -2, 3});
        d.set(reals, {0.5, -1.25});
        d.set(flags, {true, false});
        d.set(blobs, {DefaultsData{1}, DefaultsData{}, DefaultsData{1, 2}});
        d.set(dates, {date});
        d.set(rows, Rows::network);
        d.set(window, Window{320, "Vigil"});
        d.set(address, std::string("203.0.113.7"));
    }
    const auto file = folder / (std::string(kSuite) + ".json");
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    Defaults d(kSuite, folder.path());
    EXPECT_EQ(d.get(text), "grüße \"quoted\"\n");
    EXPECT_EQ(d.get(integer), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(d.get(small), -7);
    EXPECT_EQ(d.get(real), 0.1);
    EXPECT_TRUE(d.get(flag));
    EXPECT_EQ(d.get(blob), bytes);
    EXPECT_EQ(d.get(when), date);
    EXPECT_EQ(d.get(url)->text, "http://127.0.0.1:8080/");
    EXPECT_EQ(d.get(dict), (DefaultsDictionary{{"a", 1}, {"b", "two"}}));
    EXPECT_EQ(d.get(list), (DefaultsArray{1, "two", nullptr}));
    EXPECT_EQ(d.get(texts), (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(d.get(integers), (std::vector<int64_t>{1, -2, 3}));
    EXPECT_EQ(d.get(reals), (std::vector<double>{0.5, -1.25}));
    EXPECT_EQ(d.get(flags), (std::vector<bool>{true, false}));
    EXPECT_EQ(d.get(blobs), (std::vector<DefaultsData>{{1}, {}, {1, 2}}));
    EXPECT_EQ(d.get(dates), std::vector<DefaultsDate>{date});
    EXPECT_EQ(d.get(rows), Rows::network);
    EXPECT_EQ(d.get(window), (Window{320, "Vigil"}));
    EXPECT_EQ(d.get(address), "203.0.113.7");
    // Booleans are numbers: the typed Boolean reads back through the untyped int as 1.
    EXPECT_EQ(d["flag"].int_(), 1);
    EXPECT_EQ(d["flag"].intValue(), 1);
}

TEST(DefaultsTest, AbsentKeysReadAsEmptyOrTheTypeDefault) {
    TempFolder folder;
    Defaults d(kSuite, folder.path());
    EXPECT_EQ(d.get(DefaultsKey<std::string>("none")), "");
    EXPECT_EQ(d.get(DefaultsKey<int64_t>("none")), 0);
    EXPECT_EQ(d.get(DefaultsKey<double>("none")), 0.0);
    EXPECT_FALSE(d.get(DefaultsKey<bool>("none")));
    EXPECT_TRUE(d.get(DefaultsKey<DefaultsData>("none")).empty());
    EXPECT_TRUE(d.get(DefaultsKey<std::vector<std::string>>("none")).empty());
    EXPECT_FALSE(d.get(DefaultsKey<std::optional<std::string>>("none")));
    EXPECT_FALSE(d.get(DefaultsKey<std::optional<int64_t>>("none")));
    EXPECT_FALSE(d.get(DefaultsKey<std::optional<DefaultsValue>>("none")));
    EXPECT_FALSE(d["none"].object());
    EXPECT_EQ(d["none"].stringValue(), "");
    EXPECT_EQ(d["none"].intValue(), 0);
    EXPECT_EQ(d["none"].doubleValue(), 0.0);
    EXPECT_FALSE(d["none"].boolValue());
    EXPECT_FALSE(d.hasKey("none"));
    // Reading creates nothing on disk.
    EXPECT_FALSE(std::filesystem::exists(d.path()));
}

TEST(DefaultsTest, ValuesOfAnotherTypeReadAsEmptyOrConvertLikeNumbers) {
    TempFolder folder;
    Defaults d(kSuite, folder.path());
    d.set("text", "12");
    d.set("real", 2.7);
    d.set("negative", -2.7);
    d.set("huge", 1e300);
    d.set("unsigned", Json(std::numeric_limits<uint64_t>::max()));
    d.set("mixed", Json::array({1, "two"}));
    d.set("integralReals", Json::array({1.0, 2.5}));
    d.set("numbersAsFlags", Json::array({true, 1}));
    d.set("rows", 9);
    d.set("blob", Json{{"$data", "not base64!"}});

    // An integer key holding a text: empty, or 0.
    EXPECT_FALSE(d.get(DefaultsKey<std::optional<int64_t>>("text")));
    EXPECT_EQ(d.get(DefaultsKey<int64_t>("text")), 0);
    EXPECT_FALSE(d["text"].number());
    // A text key holding a number reads as "".
    EXPECT_EQ(d.get(DefaultsKey<std::string>("real")), "");
    // Numbers convert: truncation toward zero, clamped to the type, never undefined.
    EXPECT_EQ(d.get(DefaultsKey<int64_t>("real")), 2);
    EXPECT_EQ(d.get(DefaultsKey<int64_t>("negative")), -2);
    EXPECT_EQ(d.get(DefaultsKey<int64_t>("huge")), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(d.get(DefaultsKey<int32_t>("huge")), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(d.get(DefaultsKey<int64_t>("unsigned")), std::numeric_limits<int64_t>::max());
    EXPECT_TRUE(d.get(DefaultsKey<bool>("real")));
    // Typed arrays are kept only when every element has the element type.
    EXPECT_TRUE(d.get(DefaultsKey<std::vector<int64_t>>("mixed")).empty());
    EXPECT_FALSE(d.get(DefaultsKey<std::optional<std::vector<int64_t>>>("integralReals")));
    EXPECT_EQ(d.get(DefaultsKey<std::vector<double>>("integralReals")),
              (std::vector<double>{1.0, 2.5}));
    EXPECT_FALSE(d.get(DefaultsKey<std::optional<std::vector<bool>>>("numbersAsFlags")));
    EXPECT_EQ(d.get(DefaultsKey<DefaultsArray>("mixed")).size(), 2u);
    // A raw value that names no case reads as empty.
    EXPECT_FALSE(d.get(DefaultsKey<std::optional<Rows>>("rows")));
    EXPECT_FALSE(d.get(DefaultsKey<std::optional<DefaultsData>>("blob")));
    EXPECT_FALSE(d.get(DefaultsKey<std::optional<Window>>("text")));
    // A tagged value is not a dictionary.
    EXPECT_FALSE(d["blob"].dictionary());
}

TEST(DefaultsTest, NonFiniteDoublesAndBadTextSurviveTheFile) {
    TempFolder folder;
    {
        Defaults d(kSuite, folder.path());
        EXPECT_TRUE(d.set("nan", std::nan("")));
        EXPECT_TRUE(d.set("inf", -std::numeric_limits<double>::infinity()));
        // Not valid UTF-8: stored with the bad byte replaced, never an exception.
        EXPECT_TRUE(d.set("bytes", std::string("ab\xff")));
        EXPECT_TRUE(d.set(std::string("key\xfe"), 1));
    }
    Defaults d(kSuite, folder.path());
    EXPECT_TRUE(std::isnan(d.get(DefaultsKey<double>("nan"))));
    EXPECT_EQ(d.get(DefaultsKey<double>("inf")), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(d.get(DefaultsKey<int64_t>("nan")), 0);
    EXPECT_EQ(d.get(DefaultsKey<std::string>("bytes")), "ab\xef\xbf\xbd");
    EXPECT_EQ(d.keys().size(), 4u);
}

TEST(DefaultsTest, RemovingKeys) {
    TempFolder folder;
    Defaults d(kSuite, folder.path());
    d.removeAll();  // on an empty store: nothing happens, no file appears
    EXPECT_FALSE(std::filesystem::exists(d.path()));

    const DefaultsKey<std::optional<std::string>> address("publicAddress");
    d.set(address, std::string("192.0.2.1"));
    d.set("a", 1);
    d.set("b", 2);
    EXPECT_TRUE(d.hasKey(address));
    d.set(address, std::nullopt);
    EXPECT_FALSE(d.hasKey(address));
    d.set("a", std::optional<DefaultsValue>());
    EXPECT_FALSE(d.hasKey("a"));
    d.remove(DefaultsKey<int64_t>("b"));
    EXPECT_TRUE(d.keys().empty());
    d.set("c", 3);
    d.set("d", 4);
    d.removeAll();
    EXPECT_TRUE(d.keys().empty());
    EXPECT_TRUE(Defaults(kSuite, folder.path()).keys().empty());
}

TEST(DefaultsTest, SubscriptReadsAndWritesTypedKeys) {
    TempFolder folder;
    Defaults d(kSuite, folder.path());
    const DefaultsKey<int64_t> theme("theme");
    d[theme] = 3;
    const int64_t read = d[theme];
    EXPECT_EQ(read, 3);
    EXPECT_EQ(d["theme"].number()->intValue(), 3);
    EXPECT_EQ(d.numberForKey("theme")->doubleValue(), 3.0);
    d["theme"] = 4.5;
    EXPECT_EQ(d[theme], 4);
    d["theme"] = std::optional<int64_t>();
    EXPECT_FALSE(d.hasKey(theme));
}

TEST(DefaultsTest, ThreadsAndTwoInstancesWritingAtOnceLoseNothing) {
    TempFolder folder;
    Defaults first(kSuite, folder.path());
    Defaults second(kSuite, folder.path());
    constexpr int kThreads = 4, kWrites = 25;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            Defaults& store = t % 2 == 0 ? first : second;
            for (int i = 0; i < kWrites; ++i) {
                const std::string key = "t" + std::to_string(t) + "." + std::to_string(i);
                if (!store.set(key, i))
                    ++failures;
                if (store["t" + std::to_string(t) + ".0"].intValue() != 0)
                    ++failures;
                if (!store.hasKey(key))
                    ++failures;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(first.keys().size(), static_cast<size_t>(kThreads * kWrites));
    EXPECT_EQ(second.keys().size(), static_cast<size_t>(kThreads * kWrites));
}

TEST(DefaultsTest, ConfigFolderFollowsXdgRules) {
    // Only the rules are checked here, on the values this process has.
    const auto folder = Defaults::configFolder();
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') {
        EXPECT_EQ(folder, std::filesystem::path(xdg));
    } else if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
        EXPECT_EQ(folder, std::filesystem::path(home) / ".config");
    }
    EXPECT_EQ(Defaults::shared().path().filename(), std::string(kSuite) + ".json");
    EXPECT_EQ(&Defaults::shared(), &Defaults::shared());
}

}  // namespace
}  // namespace vigil
