#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace vigil {

// The ATA task-file registers of one command and of its answer.
struct AtaRegisters {
    uint8_t feature = 0;  // on output: the error register
    uint8_t count = 0;
    uint8_t lbaLow = 0;
    uint8_t lbaMid = 0;
    uint8_t lbaHigh = 0;
    uint8_t device = 0;
    uint8_t command = 0;  // on output: the status register
};

using SmartBlock = std::array<uint8_t, 512>;

// How SMART commands reach a drive: SG_IO ATA PASS-THROUGH and NVMe admin commands on a real
// device, recorded answers in tests.
class SmartTransport {
  public:
    enum class Kind { none, ata, nvme };

    virtual ~SmartTransport() = default;
    virtual Kind kind() const = 0;
    // An ATA command without data; `out` receives the registers the drive returned.
    virtual bool ataNonData(const AtaRegisters& in, AtaRegisters* out) = 0;
    // An ATA PIO data-in command that reads one 512-byte block.
    virtual bool ataReadBlock(const AtaRegisters& in, SmartBlock* data) = 0;
    // NVMe admin Get Log Page for all namespaces, 512 bytes.
    virtual bool nvmeGetLogPage(uint8_t logId, SmartBlock* data) = 0;
    // The last command failed because this process may not send it (pass-through commands need
    // CAP_SYS_RAWIO), not because the drive refused it.
    virtual bool refused() const { return false; }
};

// Whether a drive's SMART could be read and, when not, why.
enum class SmartAvailability : uint8_t {
    read,          // the drive answered
    notSupported,  // the drive has no SMART (or none that reaches us: USB bridges, virtual disks)
    switchedOff,   // the drive has SMART, switched off
    notPermitted,  // this user may not ask the drive, and no UDisks2 asked for us
    unreadable,    // asked, and no answer came
};

// What a drive reports about its health.
struct SmartReading {
    bool capable = false;    // the drive speaks SMART (ATA feature set present, NVMe health log)
    bool passed = true;      // no threshold exceeded / no critical warning
    double temperature = 0;  // degrees Celsius, 0 when not read
    // ATA: sectors the drive has moved to spares (attribute 5; UDisks2 counts pending ones too);
    // empty when the drive does not say.
    std::optional<int64_t> reallocatedSectors;
    SmartAvailability availability = SmartAvailability::notSupported;
};

// ATA command codes and register values of the SMART feature set.
namespace ata {
constexpr uint8_t identifyDevice = 0xEC;
constexpr uint8_t smart = 0xB0;
constexpr uint8_t smartReadData = 0xD0;
constexpr uint8_t smartReturnStatus = 0xDA;
constexpr uint8_t smartLbaMid = 0x4F;
constexpr uint8_t smartLbaHigh = 0xC2;
constexpr uint8_t thresholdExceededLbaMid = 0xF4;
constexpr uint8_t thresholdExceededLbaHigh = 0x2C;
constexpr uint8_t temperatureAttribute = 194;
constexpr uint8_t reallocatedSectorsAttribute = 5;
}  // namespace ata

// IDENTIFY DEVICE says the SMART feature set is supported (word 82 bit 0, with word 83 valid).
bool ataSmartSupported(const SmartBlock& identify);
// The 512 bytes of a SMART data block add up to 0 (mod 256).
bool ataChecksumValid(const SmartBlock& block);
// The current temperature from attribute 194: the low byte of its raw value; 0 when absent.
double ataTemperature(const SmartBlock& block);
// Attribute 5's raw value (reallocated sectors, 48 bits); nothing when the drive has no such
// attribute.
std::optional<int64_t> ataReallocatedSectors(const SmartBlock& block);
// RETURN STATUS answer: true passed, false threshold exceeded, nullopt neither signature.
std::optional<bool> ataStatusPassed(const AtaRegisters& answer);
// Reads the registers out of SCSI sense data after an ATA PASS-THROUGH with CK_COND (descriptor
// format with the ATA Status Return descriptor, or fixed format). nullopt when absent.
std::optional<AtaRegisters> parseAtaSense(const uint8_t* sense, size_t length);
// The NVMe SMART / Health Information log (page 0x02): critical warning byte 0, composite
// temperature in kelvins at bytes 1-2 (little-endian).
SmartReading parseNvmeHealth(const SmartBlock& log);

// Asks the drive: ATA IDENTIFY, SMART RETURN STATUS and READ DATA, or the NVMe health log.
// Read-only: SMART settings of the drive are never changed and no self-test is started.
SmartReading readSmart(SmartTransport& transport);

// The transport for the whole disk <root>/dev/<disk>: NVMe for nvme*, none for loop, virtio,
// device-mapper and the like, ATA pass-through otherwise. nullptr when the node cannot be opened;
// `openError` then gets the errno (EINVAL for a name that is no device name).
std::unique_ptr<SmartTransport> openSmartTransport(const std::string& root, const std::string& disk,
                                                   int* openError = nullptr);

}  // namespace vigil
