#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "settings/Defaults.h"
#include "support/SelfExec.h"
#include "support/TempFolder.h"

namespace vigil {
namespace {

using test::childEnv;
using test::readText;
using test::TempFolder;
using Json = nlohmann::json;
constexpr const char* kSuite = "Q4T2WXLM83.VigilSharingDefaults";
constexpr size_t kBlobSize = 256 << 10;

// Writes "<prefix><i>" = i for i below VIGIL_CHILD_COUNT.
VIGIL_CHILD_JOB(settingsWriter) {
    Defaults d(kSuite, childEnv("VIGIL_CHILD_FOLDER"));
    const std::string prefix = childEnv("VIGIL_CHILD_PREFIX");
    const int count = std::stoi(childEnv("VIGIL_CHILD_COUNT"));
    for (int i = 0; i < count; ++i) {
        if (!d.set(prefix + std::to_string(i), i))
            return 1;
    }
    return 0;
}

// Rewrites one large value for ever: {"gen": g, "blob": g's letter repeated}, so a torn write
// would show as a blob that does not match its generation.
VIGIL_CHILD_JOB(settingsChurn) {
    Defaults d(kSuite, childEnv("VIGIL_CHILD_FOLDER"));
    for (int64_t gen = 1;; ++gen) {
        const std::string blob(kBlobSize, static_cast<char>('a' + gen % 26));
        d.set("state", Json{{"gen", gen}, {"blob", blob}});
    }
}

VIGIL_CHILD_JOB(settingsSetOne) {
    Defaults d(kSuite, childEnv("VIGIL_CHILD_FOLDER"));
    return d.set(childEnv("VIGIL_CHILD_KEY"), std::stoll(childEnv("VIGIL_CHILD_VALUE"))) ? 0 : 1;
}

std::vector<std::string> env(const std::string& job, const TempFolder& folder,
                             std::vector<std::string> more = {}) {
    more.push_back("VIGIL_CHILD_JOB=" + job);
    more.push_back("VIGIL_CHILD_FOLDER=" + folder.path().string());
    return more;
}

TEST(DefaultsProcessTest, TwoProcessesWritingDifferentKeysLoseNothing) {
    TempFolder folder;
    constexpr int kWrites = 500;
    const pid_t a = test::startSelf(
        env("settingsWriter", folder, {"VIGIL_CHILD_PREFIX=a.", "VIGIL_CHILD_COUNT=500"}));
    const pid_t b = test::startSelf(
        env("settingsWriter", folder, {"VIGIL_CHILD_PREFIX=b.", "VIGIL_CHILD_COUNT=500"}));
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    int statusA = 0, statusB = 0;
    waitpid(a, &statusA, 0);
    waitpid(b, &statusB, 0);
    EXPECT_TRUE(WIFEXITED(statusA) && WEXITSTATUS(statusA) == 0);
    EXPECT_TRUE(WIFEXITED(statusB) && WEXITSTATUS(statusB) == 0);

    Defaults d(kSuite, folder.path());
    EXPECT_EQ(d.keys().size(), 2u * kWrites);
    for (int i = 0; i < kWrites; ++i) {
        ASSERT_EQ(d.numberForKey("a." + std::to_string(i))->intValue(), i);
        ASSERT_EQ(d.numberForKey("b." + std::to_string(i))->intValue(), i);
    }
}

TEST(DefaultsProcessTest, AWriterKilledMidWriteLeavesTheOldOrTheNewFile) {
    TempFolder folder;
    const auto file = folder / (std::string(kSuite) + ".json");
    std::mt19937 random(12345);
    int64_t lastGen = 0;
    // Kills that left a temporary file behind landed in the middle of a write; go on until a
    // few did, so the case under test really happened.
    auto hasTempFile = [&] {
        for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
            if (entry.path().filename().string().find(".tmp-") != std::string::npos)
                return true;
        }
        return false;
    };
    int midWriteKills = 0, rounds = 0;
    for (int round = 0; round < 30 && midWriteKills < 5; ++round) {
        ++rounds;
        const pid_t child = test::startSelf(env("settingsChurn", folder));
        ASSERT_GT(child, 0);
        // Let it get going (it has written at least once since the last round), then kill it
        // at a random moment.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        auto writtenSinceStart = [&] {
            Json stored = Json::parse(readText(file), nullptr, false);
            return !stored.is_discarded() && stored.contains("state") &&
                   stored["state"]["gen"].get<int64_t>() >= 1 &&
                   (round == 0 || stored["state"]["gen"].get<int64_t>() != lastGen);
        };
        while (!writtenSinceStart() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (round % 2 == 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        } else {
            // Aim at the write itself: kill as soon as its temporary file shows.
            while (!hasTempFile() && std::chrono::steady_clock::now() < deadline) {
            }
        }
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
        if (hasTempFile())
            ++midWriteKills;

        const Json stored = Json::parse(readText(file), nullptr, false);
        ASSERT_FALSE(stored.is_discarded()) << "torn file after round " << round;
        const int64_t gen = stored["state"]["gen"].get<int64_t>();
        const std::string& blob = stored["state"]["blob"].get_ref<const std::string&>();
        ASSERT_EQ(blob.size(), kBlobSize);
        ASSERT_EQ(blob.find_first_not_of(static_cast<char>('a' + gen % 26)), std::string::npos);
        lastGen = gen;
    }
    EXPECT_GE(midWriteKills, 3);
    RecordProperty("midWriteKills",
                   std::to_string(midWriteKills) + " of " + std::to_string(rounds));
    // A store opened afterwards reads it without complaint and cleans up the dead writer's
    // temporary file at its first write.
    testing::internal::CaptureStderr();
    Defaults d(kSuite, folder.path());
    EXPECT_EQ(d["state"].dictionaryValue()["gen"], lastGen);
    EXPECT_TRUE(d.set("after", 1));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos);
    }
}

TEST(DefaultsProcessTest, AChangeWrittenByAnotherProcessIsSeen) {
    TempFolder folder;
    Defaults d(kSuite, folder.path());
    d.set("theme", 1);
    EXPECT_EQ(d["theme"].intValue(), 1);
    auto result = test::runSelf(
        env("settingsSetOne", folder, {"VIGIL_CHILD_KEY=theme", "VIGIL_CHILD_VALUE=7"}));
    ASSERT_TRUE(result.exitedWith(0)) << result.err;
    EXPECT_EQ(d["theme"].intValue(), 7);
    result = test::runSelf(
        env("settingsSetOne", folder, {"VIGIL_CHILD_KEY=temperature", "VIGIL_CHILD_VALUE=1"}));
    ASSERT_TRUE(result.exitedWith(0)) << result.err;
    EXPECT_EQ(d["temperature"].intValue(), 1);
    EXPECT_EQ(d["theme"].intValue(), 7);
}

}  // namespace
}  // namespace vigil
