#pragma once

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace vigil::snapshot {

struct Options {
    std::string root = "/";        // /proc, /sys, /etc and /run are read under it
    double interval = 1.1;         // seconds between the two samples
    bool checkConnection = false;  // network: ask the public-address server (leaves the machine)
};

// One resource as the tool prints it: take a sample, then serialise its public properties.
class Sampler {
  public:
    virtual ~Sampler() = default;
    virtual void sample() = 0;
    virtual nlohmann::ordered_json json() const = 0;
};

struct Entry {
    std::string key;  // the JSON key and the positional argument that picks it
    int order;        // printing order
    std::function<std::unique_ptr<Sampler>(const Options&)> make;
};

// Each resource's file registers itself from a static initialiser:
//   static const bool registered = vigil::snapshot::add({"cpu", 10, ...});
bool add(Entry entry);
// Every registered resource, in printing order.
std::vector<Entry> entries();

}  // namespace vigil::snapshot
