#include "platform/Smart.h"

#include <fcntl.h>
#include <linux/nvme_ioctl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/BlockDevices.h"
#include "platform/MountTable.h"
#include "platform/Read.h"

namespace vigil {

bool ataSmartSupported(const SmartBlock& identify) {
    auto word = [&](int index) {
        return static_cast<uint16_t>(identify[2 * index] | (identify[2 * index + 1] << 8));
    };
    uint16_t w82 = word(82), w83 = word(83);
    bool valid = (w83 & 0xC000) == 0x4000;
    return valid && (w82 & 0x0001) != 0;
}

bool ataChecksumValid(const SmartBlock& block) {
    uint8_t sum = 0;
    for (uint8_t byte : block)
        sum = static_cast<uint8_t>(sum + byte);
    return sum == 0;
}

double ataTemperature(const SmartBlock& block) {
    // 2-byte revision, then 30 entries of 12 bytes: id, flags (2), value, worst, raw (6), reserved.
    for (int i = 0; i < 30; ++i) {
        const uint8_t* entry = block.data() + 2 + 12 * i;
        if (entry[0] == ata::temperatureAttribute)
            return entry[5];
    }
    return 0;
}

std::optional<int64_t> ataReallocatedSectors(const SmartBlock& block) {
    for (int i = 0; i < 30; ++i) {
        const uint8_t* entry = block.data() + 2 + 12 * i;
        if (entry[0] != ata::reallocatedSectorsAttribute)
            continue;
        int64_t raw = 0;
        for (int byte = 5; byte >= 0; --byte)
            raw = (raw << 8) | entry[5 + byte];
        return raw;
    }
    return std::nullopt;
}

std::optional<bool> ataStatusPassed(const AtaRegisters& answer) {
    if (answer.lbaMid == ata::smartLbaMid && answer.lbaHigh == ata::smartLbaHigh)
        return true;
    if (answer.lbaMid == ata::thresholdExceededLbaMid &&
        answer.lbaHigh == ata::thresholdExceededLbaHigh)
        return false;
    return std::nullopt;
}

std::optional<AtaRegisters> parseAtaSense(const uint8_t* sense, size_t length) {
    if (!sense || length < 8)
        return std::nullopt;
    uint8_t response = sense[0] & 0x7F;
    AtaRegisters out;
    if (response == 0x72 || response == 0x73) {
        size_t total = std::min(length, static_cast<size_t>(8) + sense[7]);
        size_t pos = 8;
        while (pos + 2 <= total) {
            uint8_t code = sense[pos];
            size_t descLength = 2 + static_cast<size_t>(sense[pos + 1]);
            if (pos + descLength > total)
                break;
            if (code == 0x09 && descLength >= 14) {
                const uint8_t* d = sense + pos;
                out.feature = d[3];  // error
                out.count = d[5];
                out.lbaLow = d[7];
                out.lbaMid = d[9];
                out.lbaHigh = d[11];
                out.device = d[12];
                out.command = d[13];  // status
                return out;
            }
            pos += descLength;
        }
        return std::nullopt;
    }
    if ((response == 0x70 || response == 0x71) && length >= 12) {
        out.feature = sense[3];
        out.command = sense[4];
        out.device = sense[5];
        out.count = sense[6];
        out.lbaHigh = sense[9];
        out.lbaMid = sense[10];
        out.lbaLow = sense[11];
        return out;
    }
    return std::nullopt;
}

SmartReading parseNvmeHealth(const SmartBlock& log) {
    SmartReading reading;
    reading.capable = true;
    reading.availability = SmartAvailability::read;
    reading.passed = log[0] == 0;
    unsigned kelvin = log[1] | (log[2] << 8);
    reading.temperature = kelvin > 273 ? static_cast<double>(kelvin) - 273 : 0;
    return reading;
}

SmartReading readSmart(SmartTransport& transport) {
    SmartReading reading;
    switch (transport.kind()) {
        case SmartTransport::Kind::none:
            return reading;
        case SmartTransport::Kind::nvme: {
            // Every NVMe controller keeps the health log: no answer means it could not be asked.
            SmartBlock log{};
            if (!transport.nvmeGetLogPage(0x02, &log)) {
                reading.availability = transport.refused() ? SmartAvailability::notPermitted
                                                           : SmartAvailability::unreadable;
                return reading;
            }
            return parseNvmeHealth(log);
        }
        case SmartTransport::Kind::ata:
            break;
    }
    AtaRegisters identify;
    identify.command = ata::identifyDevice;
    identify.count = 1;
    SmartBlock block{};
    if (!transport.ataReadBlock(identify, &block)) {
        // A drive that is no ATA drive (SCSI, a USB bridge without pass-through) rejects IDENTIFY.
        if (transport.refused())
            reading.availability = SmartAvailability::notPermitted;
        return reading;
    }
    if (!ataSmartSupported(block))
        return reading;
    reading.capable = true;
    reading.availability = SmartAvailability::read;

    AtaRegisters status;
    status.command = ata::smart;
    status.feature = ata::smartReturnStatus;
    status.lbaMid = ata::smartLbaMid;
    status.lbaHigh = ata::smartLbaHigh;
    AtaRegisters answer;
    if (!transport.ataNonData(status, &answer))
        return reading;
    auto passed = ataStatusPassed(answer);
    if (!passed)
        return reading;
    reading.passed = *passed;

    AtaRegisters readData = status;
    readData.feature = ata::smartReadData;
    readData.count = 1;
    block.fill(0);
    if (!transport.ataReadBlock(readData, &block) || !ataChecksumValid(block))
        return reading;
    reading.temperature = ataTemperature(block);
    reading.reallocatedSectors = ataReallocatedSectors(block);
    return reading;
}

namespace {

class NoSmartTransport : public SmartTransport {
  public:
    Kind kind() const override { return Kind::none; }
    bool ataNonData(const AtaRegisters&, AtaRegisters*) override { return false; }
    bool ataReadBlock(const AtaRegisters&, SmartBlock*) override { return false; }
    bool nvmeGetLogPage(uint8_t, SmartBlock*) override { return false; }
};

class DeviceSmartTransport : public SmartTransport {
  public:
    DeviceSmartTransport(int fd, Kind kind) : fd_(fd), kind_(kind) {}
    ~DeviceSmartTransport() override { ::close(fd_); }

    Kind kind() const override { return kind_; }
    bool refused() const override { return refused_; }

    bool ataNonData(const AtaRegisters& in, AtaRegisters* out) override {
        // Non-data protocol, CK_COND set so the drive's registers come back in the sense data.
        auto answer = passThrough(in, /*protocol=*/3, /*flags=*/0x20, nullptr);
        if (!answer || !answer->registers || (answer->registers->command & 0x01))
            return false;  // ERR bit
        *out = *answer->registers;
        return true;
    }

    bool ataReadBlock(const AtaRegisters& in, SmartBlock* data) override {
        // PIO data-in, transfer length in the count field, in blocks, from the device.
        auto answer = passThrough(in, /*protocol=*/4, /*flags=*/0x0E, data);
        if (!answer || (answer->status != 0 && answer->status != 2))
            return false;
        // Some translators answer with sense even on success; an ERR bit is a failure.
        if (answer->status == 2 && (!answer->registers || (answer->registers->command & 0x01)))
            return false;
        return answer->complete;
    }

    bool nvmeGetLogPage(uint8_t logId, SmartBlock* data) override {
        struct nvme_admin_cmd cmd {};
        cmd.opcode = 0x02;  // Get Log Page
        cmd.nsid = 0xFFFFFFFF;
        cmd.addr = reinterpret_cast<uintptr_t>(data->data());
        cmd.data_len = static_cast<uint32_t>(data->size());
        uint32_t dwords = static_cast<uint32_t>(data->size() / 4) - 1;
        cmd.cdw10 = logId | ((dwords & 0xFFFF) << 16);
        cmd.timeout_ms = 10000;
        return succeeded(::ioctl(fd_, NVME_IOCTL_ADMIN_CMD, &cmd));
    }

  private:
    struct Answer {
        unsigned status;  // SCSI status: 0 good, 2 check condition
        std::optional<AtaRegisters> registers;
        bool complete;  // every byte asked for arrived
    };

    // One ATA PASS-THROUGH (16) through SG_IO; nullopt when the ioctl or the host adapter failed.
    std::optional<Answer> passThrough(const AtaRegisters& in, int protocol, uint8_t flags,
                                      SmartBlock* data) {
        uint8_t cdb[16];
        fillCdb(cdb, in, protocol, flags);
        uint8_t sense[64] = {};
        sg_io_hdr_t io{};
        io.interface_id = 'S';
        io.dxfer_direction = data ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
        io.cmd_len = sizeof cdb;
        io.cmdp = cdb;
        if (data) {
            io.dxfer_len = static_cast<unsigned>(data->size());
            io.dxferp = data->data();
        }
        io.mx_sb_len = sizeof sense;
        io.sbp = sense;
        io.timeout = 10000;
        if (!succeeded(::ioctl(fd_, SG_IO, &io)) || io.host_status != 0)
            return std::nullopt;
        return Answer{io.status, parseAtaSense(sense, io.sb_len_wr), io.resid == 0};
    }

    // Remembers whether a failed ioctl was refused for lack of privileges.
    bool succeeded(int ioctlResult) {
        refused_ = ioctlResult != 0 && (errno == EPERM || errno == EACCES);
        return ioctlResult == 0;
    }

    static void fillCdb(uint8_t (&cdb)[16], const AtaRegisters& in, int protocol, uint8_t flags) {
        std::memset(cdb, 0, sizeof cdb);
        cdb[0] = 0x85;  // ATA PASS-THROUGH (16)
        cdb[1] = static_cast<uint8_t>(protocol << 1);
        cdb[2] = flags;
        cdb[4] = in.feature;
        cdb[6] = in.count;
        cdb[8] = in.lbaLow;
        cdb[10] = in.lbaMid;
        cdb[12] = in.lbaHigh;
        cdb[13] = in.device;
        cdb[14] = in.command;
    }

    int fd_;
    Kind kind_;
    bool refused_ = false;
};

}  // namespace

std::unique_ptr<SmartTransport> openSmartTransport(const std::string& root, const std::string& disk,
                                                   int* openError) {
    if (disk.empty() || disk.find('/') != std::string::npos || disk == "." || disk == "..") {
        if (openError)
            *openError = EINVAL;
        return nullptr;
    }
    if (BlockDevices::isVirtualDevice(disk))
        return std::make_unique<NoSmartTransport>();
    auto kind = disk.rfind("nvme", 0) == 0 ? SmartTransport::Kind::nvme : SmartTransport::Kind::ata;
    std::string node = platform::joinRoot(root, "/dev/" + disk);
    int fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (openError)
            *openError = errno;
        return nullptr;
    }
    return std::make_unique<DeviceSmartTransport>(fd, kind);
}

}  // namespace vigil
