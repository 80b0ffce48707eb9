#include "platform/Smart.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "collectors/DiskData.h"
#include "support/TestSupport.h"

namespace vigil {
namespace {

// Blocks laid out as the ATA and NVMe command sets document them.
SmartBlock identifyBlock(bool smartSupported) {
    SmartBlock block{};
    auto setWord = [&](int word, uint16_t value) {
        block[2 * word] = value & 0xFF;
        block[2 * word + 1] = value >> 8;
    };
    setWord(0, 0x0040);
    setWord(82, smartSupported ? 0x746B : 0x746A);  // bit 0: SMART feature set
    setWord(83, 0x7D09);                            // bits 15:14 = 01: words 82-84 valid
    setWord(85, smartSupported ? 0x7469 : 0x7468);
    return block;
}

struct Attribute {
    uint8_t id;
    uint8_t value;
    uint8_t raw[6];
};

SmartBlock smartDataBlock(const std::vector<Attribute>& attributes, bool validChecksum = true) {
    SmartBlock block{};
    block[0] = 0x10;  // revision 0x0010
    for (size_t i = 0; i < attributes.size() && i < 30; ++i) {
        uint8_t* entry = block.data() + 2 + 12 * i;
        entry[0] = attributes[i].id;
        entry[1] = 0x22;
        entry[3] = attributes[i].value;
        entry[4] = attributes[i].value;
        for (int b = 0; b < 6; ++b)
            entry[5 + b] = attributes[i].raw[b];
    }
    block[362] = 0x82;  // off-line data collection status
    uint8_t sum = 0;
    for (int i = 0; i < 511; ++i)
        sum = static_cast<uint8_t>(sum + block[i]);
    block[511] = static_cast<uint8_t>(0x100 - sum) + (validChecksum ? 0 : 1);
    return block;
}

// Answers as a drive recorded them; a missing answer is a failed command.
class RecordedTransport : public SmartTransport {
  public:
    Kind recordedKind = Kind::ata;
    std::optional<SmartBlock> identify;
    std::optional<AtaRegisters> status;
    std::optional<SmartBlock> data;
    std::optional<SmartBlock> nvmeLog;
    std::vector<uint8_t> commands;  // features of the SMART commands asked, in order

    Kind kind() const override { return recordedKind; }
    bool ataNonData(const AtaRegisters& in, AtaRegisters* out) override {
        commands.push_back(in.feature);
        if (in.command != ata::smart || in.feature != ata::smartReturnStatus || in.lbaMid != 0x4F ||
            in.lbaHigh != 0xC2 || !status)
            return false;
        *out = *status;
        return true;
    }
    bool ataReadBlock(const AtaRegisters& in, SmartBlock* out) override {
        if (in.command == ata::identifyDevice && identify) {
            *out = *identify;
            return true;
        }
        if (in.command == ata::smart)
            commands.push_back(in.feature);
        if (in.command == ata::smart && in.feature == ata::smartReadData && in.count == 1 && data) {
            *out = *data;
            return true;
        }
        return false;
    }
    bool nvmeGetLogPage(uint8_t logId, SmartBlock* out) override {
        if (logId != 0x02 || !nvmeLog)
            return false;
        *out = *nvmeLog;
        return true;
    }
};

AtaRegisters statusAnswer(uint8_t mid, uint8_t high) {
    AtaRegisters r;
    r.lbaMid = mid;
    r.lbaHigh = high;
    r.command = 0x50;
    return r;
}

std::unique_ptr<RecordedTransport> healthyAta() {
    auto t = std::make_unique<RecordedTransport>();
    t->identify = identifyBlock(true);
    t->status = statusAnswer(0x4F, 0xC2);
    // Raw value of 194 packs current 36, minimum 18 and maximum 47 degrees.
    t->data = smartDataBlock({{5, 100, {0, 0, 0, 0, 0, 0}},
                              {9, 97, {0x10, 0x27, 0, 0, 0, 0}},
                              {194, 64, {0x24, 0x00, 0x12, 0x00, 0x2F, 0x00}}});
    return t;
}

TEST(Smart, AtaPassedWithTemperatureFromTheLowByte) {
    auto t = healthyAta();
    SmartReading reading = readSmart(*t);
    EXPECT_TRUE(reading.capable);
    EXPECT_TRUE(reading.passed);
    EXPECT_DOUBLE_EQ(reading.temperature, 36);
    EXPECT_EQ(reading.reallocatedSectors, 0);
    // Read-only: the status and the data block, no enable/disable, no self-test.
    EXPECT_EQ(t->commands, (std::vector<uint8_t>{ata::smartReturnStatus, ata::smartReadData}));
}

TEST(Smart, AtaThresholdExceededIsFailingButCapable) {
    auto t = healthyAta();
    t->status = statusAnswer(0xF4, 0x2C);
    // 280 sectors moved to spares (48-bit raw value, little-endian).
    t->data = smartDataBlock(
        {{5, 1, {0x18, 0x01, 0, 0, 0, 0}}, {194, 64, {0x24, 0x00, 0x12, 0x00, 0x2F, 0x00}}});
    SmartReading reading = readSmart(*t);
    EXPECT_TRUE(reading.capable);
    EXPECT_FALSE(reading.passed);
    EXPECT_DOUBLE_EQ(reading.temperature, 36);
    EXPECT_EQ(reading.reallocatedSectors, 280);
    t->data = smartDataBlock({{194, 64, {0x24, 0, 0, 0, 0, 0}}});
    EXPECT_EQ(readSmart(*t).reallocatedSectors, std::nullopt);
}

TEST(Smart, AtaWithoutTemperatureOrWithABadBlockReadsZero) {
    auto t = healthyAta();
    t->data = smartDataBlock({{5, 100, {0, 0, 0, 0, 0, 0}}, {190, 64, {0x24, 0, 0, 0, 0, 0}}});
    EXPECT_DOUBLE_EQ(readSmart(*t).temperature, 0);
    t = healthyAta();
    t->data = smartDataBlock({{194, 64, {0x24, 0, 0, 0, 0, 0}}}, /*validChecksum=*/false);
    SmartReading reading = readSmart(*t);
    EXPECT_TRUE(reading.capable);
    EXPECT_TRUE(reading.passed);
    EXPECT_DOUBLE_EQ(reading.temperature, 0);
}

TEST(Smart, AtaStatusFailureKeepsPassed) {
    auto t = healthyAta();
    t->status.reset();
    SmartReading reading = readSmart(*t);
    EXPECT_TRUE(reading.capable);
    EXPECT_TRUE(reading.passed);
    EXPECT_DOUBLE_EQ(reading.temperature, 0);
    // An answer with neither signature is no verdict either.
    t = healthyAta();
    t->status = statusAnswer(0x00, 0x00);
    reading = readSmart(*t);
    EXPECT_TRUE(reading.passed);
    EXPECT_DOUBLE_EQ(reading.temperature, 0);
}

TEST(Smart, NoSmart) {
    auto t = healthyAta();
    t->identify = identifyBlock(false);
    EXPECT_FALSE(readSmart(*t).capable);
    t->identify.reset();  // IDENTIFY refused (a SCSI disk that is no ATA drive)
    EXPECT_FALSE(readSmart(*t).capable);
    t = healthyAta();
    t->recordedKind = SmartTransport::Kind::none;
    SmartReading reading = readSmart(*t);
    EXPECT_FALSE(reading.capable);
    EXPECT_TRUE(reading.passed);
    EXPECT_DOUBLE_EQ(reading.temperature, 0);
}

SmartBlock nvmeHealthLog(uint8_t criticalWarning, uint16_t kelvin) {
    SmartBlock log{};
    log[0] = criticalWarning;
    log[1] = kelvin & 0xFF;
    log[2] = kelvin >> 8;
    log[3] = 100;  // available spare
    log[4] = 10;   // spare threshold
    return log;
}

TEST(Smart, NvmeHealthLog) {
    RecordedTransport t;
    t.recordedKind = SmartTransport::Kind::nvme;
    t.nvmeLog = nvmeHealthLog(0, 0x0134);  // 308 K
    SmartReading reading = readSmart(t);
    EXPECT_TRUE(reading.capable);
    EXPECT_TRUE(reading.passed);
    EXPECT_DOUBLE_EQ(reading.temperature, 35);
    t.nvmeLog = nvmeHealthLog(0x04, 0x0160);  // reliability degraded, 352 K
    reading = readSmart(t);
    EXPECT_FALSE(reading.passed);
    EXPECT_DOUBLE_EQ(reading.temperature, 79);
    t.nvmeLog = nvmeHealthLog(0, 0);  // no temperature reported
    EXPECT_DOUBLE_EQ(readSmart(t).temperature, 0);
    t.nvmeLog.reset();
    EXPECT_FALSE(readSmart(t).capable);
}

TEST(Smart, ReadsRegistersFromSenseData) {
    // Descriptor format with the ATA Status Return descriptor (a threshold-exceeded answer).
    uint8_t descriptor[22] = {0x72, 0x01, 0x00, 0x1D, 0,    0,    0,    14,   0x09, 0x0C, 0x00,
                              0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF4, 0x00, 0x2C, 0x00, 0x50};
    auto registers = parseAtaSense(descriptor, sizeof descriptor);
    ASSERT_TRUE(registers);
    EXPECT_EQ(registers->lbaMid, 0xF4);
    EXPECT_EQ(registers->lbaHigh, 0x2C);
    EXPECT_EQ(registers->command, 0x50);
    EXPECT_EQ(ataStatusPassed(*registers), false);
    // Fixed format: status in byte 4, LBA high/mid/low in bytes 9-11.
    uint8_t fixed[18] = {0x70, 0, 0x01, 0x00, 0x50, 0x00, 0x00, 10, 0, 0xC2, 0x4F, 0x00};
    registers = parseAtaSense(fixed, sizeof fixed);
    ASSERT_TRUE(registers);
    EXPECT_EQ(ataStatusPassed(*registers), true);
    // Truncated or unknown sense never reads out of bounds.
    EXPECT_FALSE(parseAtaSense(descriptor, 4));
    uint8_t lying[10] = {0x72, 0, 0, 0, 0, 0, 0, 200, 0x09, 0x0C};
    EXPECT_FALSE(parseAtaSense(lying, sizeof lying));
    uint8_t other[8] = {0x7F};
    EXPECT_FALSE(parseAtaSense(other, sizeof other));
    EXPECT_FALSE(parseAtaSense(nullptr, 0));
}

TEST(Smart, VirtualDevicesAreNotSmartCapable) {
    for (const char* disk : {"loop0", "vda", "dm-0", "zram0"}) {
        auto transport = openSmartTransport("/", disk);
        ASSERT_TRUE(transport) << disk;
        EXPECT_EQ(transport->kind(), SmartTransport::Kind::none);
        EXPECT_FALSE(readSmart(*transport).capable);
    }
    EXPECT_FALSE(openSmartTransport("/", "../sda"));
    EXPECT_FALSE(openSmartTransport("/nonexistent-vigil-root", "sda"));
}

// A node that refuses the pass-through ioctls (here a plain file; a SCSI disk that is no ATA
// drive answers the same way): opened, asked, not SMART capable, nothing crashes.
TEST(Smart, NodeThatRefusesPassThroughIsNotCapable) {
    namespace fs = std::filesystem;
    fs::path root = fs::temp_directory_path() / ("vigil-smart-" + std::to_string(::getpid()));
    fs::create_directories(root / "dev");
    std::ofstream(root / "dev/sdq") << std::string(4096, '\0');
    std::ofstream(root / "dev/nvme9n1") << std::string(4096, '\0');
    auto ataNode = openSmartTransport(root.string(), "sdq");
    ASSERT_TRUE(ataNode);
    EXPECT_EQ(ataNode->kind(), SmartTransport::Kind::ata);
    EXPECT_FALSE(readSmart(*ataNode).capable);
    auto nvmeNode = openSmartTransport(root.string(), "nvme9n1");
    ASSERT_TRUE(nvmeNode);
    EXPECT_EQ(nvmeNode->kind(), SmartTransport::Kind::nvme);
    EXPECT_FALSE(readSmart(*nvmeNode).capable);
    fs::remove_all(root);
}

TEST(Smart, CollectorAsksTheWholeDiskOfAPartition) {
    std::vector<std::string> asked;
    DiskCollector::Options options;
    options.root = test::fixturePath("disk-desktop");
    options.smartTransport = [&](const std::string& disk) -> std::unique_ptr<SmartTransport> {
        asked.push_back(disk);
        auto t = healthyAta();
        t->status = statusAnswer(0xF4, 0x2C);
        return t;
    };
    DiskCollector collector(options);
    SMARTData record{9, 9, 9};
    EXPECT_TRUE(collector.getSMARTData("sda1", &record));
    EXPECT_EQ(record.isSmart, 1);
    EXPECT_EQ(record.isSmartPassed, 0);
    EXPECT_DOUBLE_EQ(record.temperature, 36);
    EXPECT_EQ(asked, (std::vector<std::string>{"sda"}));
    // A device sysfs does not know: reset, false, no transport opened.
    EXPECT_FALSE(collector.getSMARTData("media", &record));
    EXPECT_EQ(record.isSmart, 0);
    EXPECT_EQ(record.isSmartPassed, 1);
    EXPECT_DOUBLE_EQ(record.temperature, 0);
    EXPECT_EQ(asked.size(), 1u);
}

}  // namespace
}  // namespace vigil
