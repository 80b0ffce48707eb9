// The answers of a drive to SMART commands: SCSI sense data after ATA PASS-THROUGH, IDENTIFY and
// SMART data blocks, the NVMe health log, and a whole readSmart over a transport that replays the
// input as the drive's answers.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/Smart.h"

namespace {

using namespace vigil;

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    void fill(uint8_t* out, size_t n) {
        for (size_t i = 0; i < n; i++)
            out[i] = at < size ? data[at++] : 0;
    }
    bool flag() {
        uint8_t b = 0;
        fill(&b, 1);
        return b & 1;
    }
};

class ReplayTransport : public SmartTransport {
  public:
    ReplayTransport(Reader& in, Kind kind) : in_(in), kind_(kind) {}
    Kind kind() const override { return kind_; }
    bool ataNonData(const AtaRegisters&, AtaRegisters* out) override {
        if (!in_.flag())
            return false;
        uint8_t regs[7];
        in_.fill(regs, sizeof regs);
        *out = AtaRegisters{regs[0], regs[1], regs[2], regs[3], regs[4], regs[5], regs[6]};
        return true;
    }
    bool ataReadBlock(const AtaRegisters&, SmartBlock* data) override {
        if (!in_.flag())
            return false;
        in_.fill(data->data(), data->size());
        return true;
    }
    bool nvmeGetLogPage(uint8_t, SmartBlock* data) override { return ataReadBlock({}, data); }

  private:
    Reader& in_;
    Kind kind_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (auto regs = parseAtaSense(data, size))
        (void)ataStatusPassed(*regs);
    SmartBlock block{};
    std::memcpy(block.data(), data, size < block.size() ? size : block.size());
    (void)ataSmartSupported(block);
    (void)ataChecksumValid(block);
    double t = ataTemperature(block);
    if (t < 0 || t > 255)
        __builtin_trap();
    (void)parseNvmeHealth(block);

    Reader in{data, size};
    SmartTransport::Kind kind =
        (size && (data[0] & 2)) ? SmartTransport::Kind::nvme : SmartTransport::Kind::ata;
    ReplayTransport transport(in, kind);
    (void)readSmart(transport);
    return 0;
}
