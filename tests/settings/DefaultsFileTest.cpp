#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include <gtest/gtest.h>

#include "support/TmpfsMount.h"

#include "settings/Defaults.h"
#include "support/TempFolder.h"

namespace vigil {
namespace {

using test::readText;
using test::TempFolder;
using test::writeText;
using Json = nlohmann::json;
constexpr const char* kSuite = "Q4T2WXLM83.VigilSharingDefaults";

std::vector<std::filesystem::path> filesStartingWith(const std::filesystem::path& folder,
                                                     const std::string& prefix) {
    std::vector<std::filesystem::path> out;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().filename().string().rfind(prefix, 0) == 0)
            out.push_back(entry.path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

int errorLines(const std::string& text) {
    int count = 0;
    size_t at = 0;
    while ((at = text.find("Error: ", at)) != std::string::npos) {
        ++count;
        ++at;
    }
    return count;
}

class DefaultsFileTest : public ::testing::Test {
  protected:
    std::filesystem::path file() const { return folder / (std::string(kSuite) + ".json"); }
    std::string asidePrefix() const { return std::string(kSuite) + ".json.corrupt-"; }
    TempFolder folder;
};

TEST_F(DefaultsFileTest, ACorruptFileIsMovedAsideAndTheValuesHeldStand) {
    const std::string garbage = "{\"theme\": 2, \"widgetRows\": ";
    writeText(file(), garbage);

    testing::internal::CaptureStderr();
    Defaults d(kSuite, folder.path());
    EXPECT_EQ(d["theme"].intValue(), 0);
    EXPECT_FALSE(d.hasKey("widgetRows"));
    EXPECT_EQ(d["theme"].intValue(), 0);  // no second report on the next read
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(errorLines(err), 1) << err;
    EXPECT_NE(err.find("moved aside"), std::string::npos) << err;

    auto aside = filesStartingWith(folder.path(), asidePrefix());
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(readText(aside[0]), garbage);
    EXPECT_FALSE(std::filesystem::exists(file()));

    // The next corrupt file gets its own name even within the same second: nothing is replaced.
    // This time the store holds a value: it stands, and is written back in the file's place.
    EXPECT_TRUE(d.set("theme", 1));
    writeText(file(), "not json at all");
    testing::internal::CaptureStderr();
    EXPECT_EQ(d["theme"].intValue(), 1);
    const std::string second = testing::internal::GetCapturedStderr();
    EXPECT_EQ(errorLines(second), 1) << second;
    EXPECT_NE(second.find("keeping the values in memory"), std::string::npos) << second;
    aside = filesStartingWith(folder.path(), asidePrefix());
    ASSERT_EQ(aside.size(), 2u);
    EXPECT_EQ(readText(aside[0]) + readText(aside[1]), garbage + "not json at all");
    EXPECT_EQ(Json::parse(readText(file())), (Json{{"theme", 1}}));
}

// Bytes this process has read through read() and its kind, from /proc/self/io.
int64_t bytesRead() {
    std::istringstream in(readText("/proc/self/io"));
    std::string name;
    int64_t value = 0;
    while (in >> name >> value) {
        if (name == "rchar:")
            return value;
    }
    return -1;
}

TEST_F(DefaultsFileTest, AFileOverTheLimitIsRefusedUnreadAndTheValuesHeldStand) {
    Defaults d(kSuite, folder.path());
    ASSERT_TRUE(d.set("theme", 1));
    ASSERT_TRUE(d.set("widgetRows", 2));
    // 100 MB put in the file's place by rename, as another program would (sparse: no disk used).
    const auto big = folder / "big";
    writeText(big, "");
    std::filesystem::resize_file(big, 100u << 20);
    std::filesystem::rename(big, file());

    const int64_t before = bytesRead();
    ASSERT_GE(before, 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(d["theme"].intValue(), 1);
    EXPECT_EQ(d["widgetRows"].intValue(), 2);
    const int64_t read = bytesRead() - before;
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_LT(read, 1 << 20) << "the refused file was read";
    EXPECT_EQ(errorLines(err), 1) << err;
    EXPECT_NE(err.find("is 100 MiB, over the 16 MiB"), std::string::npos) << err;
    EXPECT_NE(err.find("keeping the values in memory"), std::string::npos) << err;

    // Moved aside whole; the values are back in the file, where another store finds them.
    const auto aside = filesStartingWith(folder.path(), asidePrefix());
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(std::filesystem::file_size(aside[0]), 100u << 20);
    EXPECT_EQ(Json::parse(readText(file())), (Json{{"theme", 1}, {"widgetRows", 2}}));
    EXPECT_EQ(Defaults(kSuite, folder.path())["widgetRows"].intValue(), 2);
}

TEST_F(DefaultsFileTest, AWriteNeverOverwritesACorruptFile) {
    Defaults d(kSuite, folder.path());
    EXPECT_TRUE(d.set("a", 1));
    writeText(file(), "[1, 2");  // corrupted behind the store's back, not read yet
    testing::internal::CaptureStderr();
    EXPECT_TRUE(d.set("b", 2));
    EXPECT_EQ(errorLines(testing::internal::GetCapturedStderr()), 1);
    auto aside = filesStartingWith(folder.path(), asidePrefix());
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(readText(aside[0]), "[1, 2");
    // What the store held stands in for the refused file.
    EXPECT_EQ(Json::parse(readText(file())), (Json{{"a", 1}, {"b", 2}}));
}

TEST_F(DefaultsFileTest, AFileOfTheWrongShape) {
    // Not a dictionary at all: moved aside like a corrupt file.
    writeText(file(), "[1, 2, 3]");
    testing::internal::CaptureStderr();
    {
        Defaults d(kSuite, folder.path());
        EXPECT_TRUE(d.keys().empty());
    }
    EXPECT_EQ(errorLines(testing::internal::GetCapturedStderr()), 1);
    EXPECT_EQ(filesStartingWith(folder.path(), asidePrefix()).size(), 1u);

    // A dictionary with values of the wrong types: the sound keys are kept, the others read as
    // their defaults, and a write keeps every key (nothing is dropped).
    writeText(file(), R"({"theme": "dark", "widgetRows": 2, "temperature": [1],
                          "publicAddress": 17, "detailsView": 3.0})");
    testing::internal::CaptureStderr();
    Defaults d(kSuite, folder.path());
    EXPECT_EQ(d.get(DefaultsKey<int64_t>("theme")), 0);
    EXPECT_EQ(d.get(DefaultsKey<int64_t>("widgetRows")), 2);
    EXPECT_EQ(d.get(DefaultsKey<int64_t>("temperature")), 0);
    EXPECT_FALSE(d.get(DefaultsKey<std::optional<std::string>>("publicAddress")));
    EXPECT_EQ(d.get(DefaultsKey<int64_t>("detailsView")), 3);
    EXPECT_TRUE(d.set("detailsView", 1));
    EXPECT_EQ(errorLines(testing::internal::GetCapturedStderr()), 0);
    const Json stored = Json::parse(readText(file()));
    EXPECT_EQ(stored["theme"], "dark");
    EXPECT_EQ(stored["temperature"], Json::array({1}));
    EXPECT_EQ(stored["detailsView"], 1);
}

TEST_F(DefaultsFileTest, AnEmptyFileIsAnEmptyStoreAndAHugeOneIsMovedAside) {
    writeText(file(), "  \n");
    testing::internal::CaptureStderr();
    {
        Defaults d(kSuite, folder.path());
        EXPECT_TRUE(d.keys().empty());
    }
    EXPECT_EQ(errorLines(testing::internal::GetCapturedStderr()), 0);

    std::string huge = "{\"a\": \"" + std::string(DefaultsFile::kMaxFileSize, 'x') + "\"}";
    writeText(file(), huge);
    testing::internal::CaptureStderr();
    Defaults d(kSuite, folder.path());
    EXPECT_FALSE(d.hasKey("a"));
    EXPECT_EQ(errorLines(testing::internal::GetCapturedStderr()), 1);
    auto aside = filesStartingWith(folder.path(), asidePrefix());
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(std::filesystem::file_size(aside[0]), huge.size());
}

TEST_F(DefaultsFileTest, AnotherInstanceSeesAChangeWithoutRestarting) {
    Defaults reader(kSuite, folder.path());
    Defaults writer(kSuite, folder.path());
    EXPECT_FALSE(reader.hasKey("theme"));  // the folder exists, the file not yet
    writer.set("theme", 4);
    EXPECT_EQ(reader["theme"].intValue(), 4);
    writer.set("theme", 5);
    EXPECT_EQ(reader["theme"].intValue(), 5);
    // An edit by hand (in place, not by rename) is seen too.
    writeText(file(), R"({"theme": 6})");
    EXPECT_EQ(reader["theme"].intValue(), 6);
    std::filesystem::remove(file());
    EXPECT_FALSE(reader.hasKey("theme"));

    // A store whose folder does not exist yet follows the file once someone creates it.
    const auto nested = folder / "not" / "yet";
    Defaults early(kSuite, nested);
    EXPECT_FALSE(early.hasKey("x"));
    Defaults(kSuite, nested).set("x", 1);
    EXPECT_EQ(early["x"].intValue(), 1);
    struct stat st;
    ASSERT_EQ(stat(nested.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(DefaultsFileTest, TemporaryFilesOfADeadWriterAreCleanedUp) {
    const auto stale = folder / (std::string(kSuite) + ".json.tmp-Ab12Cd");
    writeText(stale, "{\"half\": ");
    Defaults d(kSuite, folder.path());
    EXPECT_TRUE(d.set("a", 1));
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_TRUE(filesStartingWith(folder.path(), std::string(kSuite) + ".json.tmp-").empty());
}

TEST_F(DefaultsFileTest, AReadOnlyFolderKeepsChangesInMemoryWithOneErrorLine) {
    const auto where = folder / "config";
    std::filesystem::create_directory(where);
    vigil::test::TmpfsMount mount(where, "4m");
    if (!mount.mounted())
        GTEST_SKIP() << mount.reason() << " (needs root with CAP_SYS_ADMIN)";
    const auto path = where / (std::string(kSuite) + ".json");
    Defaults(kSuite, where).set("theme", 2);
    if (!mount.setReadOnly(true))
        GTEST_SKIP() << mount.reason();

    testing::internal::CaptureStderr();
    Defaults d(kSuite, where);
    EXPECT_EQ(d["theme"].intValue(), 2);
    EXPECT_FALSE(d.set("temperature", 1));
    EXPECT_FALSE(d.set("theme", 3));
    d.remove("widgetRows");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(errorLines(err), 1) << err;
    EXPECT_NE(err.find("Read-only file system"), std::string::npos) << err;
    EXPECT_EQ(d["temperature"].intValue(), 1);
    EXPECT_EQ(d["theme"].intValue(), 3);
    EXPECT_EQ(Json::parse(readText(path)), (Json{{"theme", 2}}));

    // Once the folder is writable again, the next write saves what memory held.
    ASSERT_TRUE(mount.setReadOnly(false));
    EXPECT_TRUE(d.set("detailsView", 5));
    EXPECT_EQ(Json::parse(readText(path)),
              (Json{{"theme", 3}, {"temperature", 1}, {"detailsView", 5}}));
}

TEST_F(DefaultsFileTest, NoFolderAtAllKeepsValuesInMemory) {
    // A file where the folder should be: the folder cannot be made.
    writeText(folder / "blocked", "");
    testing::internal::CaptureStderr();
    Defaults d(kSuite, folder / "blocked" / "config");
    EXPECT_FALSE(d.set("theme", 1));
    EXPECT_FALSE(d.set("theme", 2));
    EXPECT_EQ(errorLines(testing::internal::GetCapturedStderr()), 1);
    EXPECT_EQ(d["theme"].intValue(), 2);
}

}  // namespace
}  // namespace vigil
