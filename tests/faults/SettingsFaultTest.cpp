// The settings store when its file or folder is taken from under it: a folder that turns read-only
// and then full, a file replaced by garbage, a FIFO, a symlink or a 100 MB file, and a writer
// stopped by SIGTERM. In each case the store goes on answering, writes at most one error line per
// cause, never writes outside its folder and never loses what it held.

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support/TmpfsMount.h"

#include "settings/Defaults.h"
#include "support/SelfExec.h"
#include "support/TempFolder.h"

namespace vigil {
namespace {

using test::readText;
using test::TempFolder;
using test::writeText;
using Json = nlohmann::json;
namespace fs = std::filesystem;
constexpr const char* kSuite = "Q4T2WXLM83.VigilSharingDefaults";

int errorLines(const std::string& text) {
    int count = 0;
    for (size_t at = 0; (at = text.find("Error: ", at)) != std::string::npos; ++at)
        ++count;
    return count;
}

std::vector<fs::path> entriesStartingWith(const fs::path& folder, const std::string& prefix) {
    std::vector<fs::path> out;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().rfind(prefix, 0) == 0)
            out.push_back(entry.path());
    return out;
}

TEST(SettingsFaultTest, AFolderThatTurnsReadOnlyThenFullLosesNothingOnceRestored) {
    TempFolder folder;
    const fs::path where = folder / "config";
    vigil::test::TmpfsMount small(where, "256k");
    if (!small.mounted())
        GTEST_SKIP() << small.reason() << " (needs root with CAP_SYS_ADMIN)";
    const fs::path file = where / (std::string(kSuite) + ".json");

    Defaults d(kSuite, where);
    ASSERT_TRUE(d.set("theme", 1));
    const std::string saved = readText(file);

    testing::internal::CaptureStderr();
    ASSERT_TRUE(small.setReadOnly(true)) << small.reason();
    EXPECT_FALSE(d.set("theme", 2));
    EXPECT_FALSE(d.set("rows", 3));
    ASSERT_TRUE(small.setReadOnly(false)) << small.reason();
    ASSERT_TRUE(small.fill());
    // A full folder: the text does not fit; the old file must stay whole.
    EXPECT_FALSE(d.set("blob", std::string(8192, 'b')));
    EXPECT_FALSE(d.set("rows", 4));
    EXPECT_EQ(readText(file), saved);
    EXPECT_TRUE(entriesStartingWith(where, std::string(kSuite) + ".json.tmp-").empty());
    // Reads go on, from memory.
    EXPECT_EQ(d["theme"].intValue(), 2);
    EXPECT_EQ(d["rows"].intValue(), 4);
    const std::string err = testing::internal::GetCapturedStderr();
    // One line for the read-only folder, one for the full one: two causes, two lines.
    EXPECT_EQ(errorLines(err), 2) << err;
    EXPECT_NE(err.find("Read-only file system"), std::string::npos) << err;
    EXPECT_NE(err.find("No space left on device"), std::string::npos) << err;

    small.empty();
    testing::internal::CaptureStderr();
    EXPECT_TRUE(d.set("detailsView", 5));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(
        Json::parse(readText(file)),
        (Json{{"theme", 2}, {"rows", 4}, {"blob", std::string(8192, 'b')}, {"detailsView", 5}}));
}

TEST(SettingsFaultTest, ASymlinkedSettingsFileIsNeverWrittenThrough) {
    TempFolder folder, elsewhere;
    const fs::path file = folder / (std::string(kSuite) + ".json");
    // A JSON dictionary elsewhere: it is read, but a write replaces the link, not that file.
    const fs::path target = elsewhere / "dotfiles.json";
    writeText(target, "{\"theme\": 7}\n");
    fs::create_symlink(target, file);
    {
        testing::internal::CaptureStderr();
        Defaults d(kSuite, folder.path());
        EXPECT_EQ(d["theme"].intValue(), 7);
        EXPECT_TRUE(d.set("rows", 2));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    }
    EXPECT_EQ(readText(target), "{\"theme\": 7}\n");
    EXPECT_FALSE(fs::is_symlink(file));
    EXPECT_EQ(Json::parse(readText(file)), (Json{{"theme", 7}, {"rows", 2}}));

    // A link to some other file that is not settings: it is moved aside as the link it is.
    const fs::path profile = elsewhere / "profile";
    writeText(profile, "export PATH=/usr/bin\n");
    fs::remove(file);
    fs::create_symlink(profile, file);
    {
        testing::internal::CaptureStderr();
        Defaults d(kSuite, folder.path());
        EXPECT_FALSE(d.hasKey("theme"));
        EXPECT_TRUE(d.set("rows", 3));
        EXPECT_EQ(errorLines(testing::internal::GetCapturedStderr()), 1);
    }
    EXPECT_EQ(readText(profile), "export PATH=/usr/bin\n");
    EXPECT_FALSE(fs::is_symlink(file));

    // The lock file as a dangling link: taking the lock must not create the file it points at.
    const fs::path lockTarget = elsewhere / "created-by-the-lock";
    fs::remove(folder / (std::string(kSuite) + ".json.lock"));
    fs::create_symlink(lockTarget, folder / (std::string(kSuite) + ".json.lock"));
    {
        testing::internal::CaptureStderr();
        Defaults d(kSuite, folder.path());
        EXPECT_EQ(d["rows"].intValue(), 3);
        d.set("rows", 4);
        d.set("theme", 1);
        EXPECT_LE(errorLines(testing::internal::GetCapturedStderr()), 1);
        EXPECT_EQ(d["rows"].intValue(), 4);
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(lockTarget)));
}

TEST(SettingsFaultTest, AFifoInPlaceOfTheFileDoesNotHang) {
    TempFolder folder;
    const fs::path file = folder / (std::string(kSuite) + ".json");
    ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
    // Opening a FIFO for reading waits for a writer; the store must not.
    const auto started = std::chrono::steady_clock::now();
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(20);  // a hang ends the child with SIGALRM
        Defaults d(kSuite, folder.path());
        bool ok = !d.hasKey("theme") && !d.set("theme", 1) && d["theme"].intValue() == 1;
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "status " << status << (WIFSIGNALED(status) ? " (hung or crashed)" : "");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));
}

TEST(SettingsFaultTest, A100MBFileAndDeepGarbageAreMovedAsideAndDefaultsApply) {
    TempFolder folder;
    const fs::path file = folder / (std::string(kSuite) + ".json");
    {
        // 100 MB of zeros, without spending the disk on it.
        const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, 100 << 20), 0);
        close(fd);
    }
    testing::internal::CaptureStderr();
    {
        Defaults d(kSuite, folder.path());
        EXPECT_TRUE(d.keys().empty());
        EXPECT_TRUE(d.set("theme", 1));
    }
    EXPECT_EQ(errorLines(testing::internal::GetCapturedStderr()), 1);
    auto aside = entriesStartingWith(folder.path(), std::string(kSuite) + ".json.corrupt-");
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(fs::file_size(aside[0]), 100u << 20);
    EXPECT_EQ(Json::parse(readText(file)), (Json{{"theme", 1}}));

    // Nesting 256k levels deep, closed and unclosed, and random bytes: none may crash the
    // reader by recursion or otherwise.
    std::mt19937 random(14);
    std::string bytes(65536, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    const std::string texts[] = {std::string(1 << 18, '[') + std::string(1 << 18, ']'),
                                 "{\"a\":" + std::string(1 << 18, '['), bytes};
    for (const auto& text : texts) {
        for (const auto& old : entriesStartingWith(folder.path(), std::string(kSuite) + ".json."))
            fs::remove(old);
        writeText(file, text);
        testing::internal::CaptureStderr();
        Defaults d(kSuite, folder.path());
        EXPECT_FALSE(d.hasKey("theme"));
        EXPECT_TRUE(d.set("theme", 2));
        EXPECT_EQ(errorLines(testing::internal::GetCapturedStderr()), 1);
        EXPECT_EQ(d["theme"].intValue(), 2);
    }
}

// Rewrites one value for ever; the blob's letter follows the generation, so a torn file shows.
constexpr size_t kBlobSize = 64 * 1024;
VIGIL_CHILD_JOB(settingsTermChurn) {
    Defaults d(kSuite, test::childEnv("VIGIL_CHILD_FOLDER"));
    for (int64_t gen = 1;; ++gen)
        d.set("state", Json{{"gen", gen},
                            {"blob", std::string(kBlobSize, static_cast<char>('a' + gen % 26))}});
}

TEST(SettingsFaultTest, SigtermDuringAWriteLeavesTheOldOrTheNewFile) {
    TempFolder folder;
    const fs::path file = folder / (std::string(kSuite) + ".json");
    std::mt19937 random(7);
    int64_t lastGen = 0;
    for (int round = 0; round < 12; ++round) {
        const pid_t child = test::startSelf(
            {"VIGIL_CHILD_JOB=settingsTermChurn", "VIGIL_CHILD_FOLDER=" + folder.path().string()});
        ASSERT_GT(child, 0);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        auto advanced = [&] {
            Json stored = Json::parse(readText(file), nullptr, false);
            return !stored.is_discarded() && stored.contains("state") &&
                   stored["state"]["gen"].get<int64_t>() != lastGen;
        };
        while (!advanced() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 10000));
        kill(child, SIGTERM);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;

        const Json stored = Json::parse(readText(file), nullptr, false);
        ASSERT_FALSE(stored.is_discarded()) << "torn file after round " << round;
        const int64_t gen = stored["state"]["gen"].get<int64_t>();
        const auto& blob = stored["state"]["blob"].get_ref<const std::string&>();
        ASSERT_EQ(blob, std::string(kBlobSize, static_cast<char>('a' + gen % 26)));
        lastGen = gen;
    }
    Defaults d(kSuite, folder.path());
    EXPECT_EQ(d["state"].dictionaryValue()["gen"], lastGen);
}

}  // namespace
}  // namespace vigil
