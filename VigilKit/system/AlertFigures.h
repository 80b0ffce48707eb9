#pragma once

// The figures the alert rules look at, taken together at one moment. A figure that is not known
// (not read, or not on this machine) is empty or left out of its list: a rule never reads an
// unknown figure as 0.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vigil {

struct AlertFigures {
    // Percent of the processor's time spent busy since the previous sample.
    std::optional<double> processorBusy;
    // Percent of the memory available to programs, of the total.
    std::optional<double> memoryAvailable;
    // Percent of the swap space in use; empty on a machine without swap.
    std::optional<double> swapUsed;

    struct Volume {
        std::string mountPoint;                 // the subject
        std::string name;                       // as the views show it
        std::int64_t available = 0, total = 0;  // bytes
    };
    std::vector<Volume> volumes;

    struct Temperature {
        std::string id;     // "coretemp-isa-0000/Package id 0": the subject
        std::string label;  // "Package id 0"
        double celsius = 0;
        std::optional<double> max, critical;
    };
    std::vector<Temperature> temperatures;

    struct Battery {
        std::int64_t percent = 0;
        bool discharging = false;
    };
    std::optional<Battery> battery;

    // The drives as their health was last read (a check every few minutes).
    struct Drive {
        std::string name;  // "sda", "nvme0n1": the subject
        std::string model;
        bool nvme = false;
        bool failing = false;  // SMART failing, or an NVMe critical warning
        std::optional<std::int64_t> reallocatedSectors;
    };
    std::vector<Drive> drives;

    // The application that uses the most processor time (percent) and memory (bytes), where
    // known.
    struct TopApplication {
        std::string name;
        double figure = 0;
    };
    std::optional<TopApplication> topProcessor, topMemory;
};

}  // namespace vigil
