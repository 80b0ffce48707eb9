#pragma once

#include <cstddef>
#include <string>

#include "platform/OwnedFd.h"
#include "platform/Read.h"

namespace vigil::platform {

// A file read again and again, such as a kernel statistics file read once per sample. Files the
// kernel writes as they are read (proc and sysfs) are kept open and read again from the start,
// which spares the path walk and the open of each sample. Files on any other file system (the
// fixture trees of tests, a root folder of copies) are opened anew for each read, so one replaced
// by rename is seen. A kept file that stops answering (its device went away) is opened anew once
// before its read counts as failed. Not safe for concurrent use: a KeptFile has one user at a time.
class KeptFile {
  public:
    explicit KeptFile(std::string path = {});
    // A copy opens its own descriptor when first read.
    KeptFile(const KeptFile& other) : path_(other.path_) {}
    KeptFile& operator=(const KeptFile& other);
    KeptFile(KeptFile&&) noexcept = default;
    KeptFile& operator=(KeptFile&&) noexcept = default;

    const std::string& path() const { return path_; }
    // The whole file, with the outcomes of readFileInto.
    Outcome readInto(std::string& out, std::string* error, std::size_t limit = 4 << 20);
    // Closes the descriptor; the next read opens the file again.
    void close() { fd_.reset(); }
    bool isOpen() const { return fd_.valid(); }

  private:
    Outcome readFresh(std::string& out, std::string* error, std::size_t limit);

    std::string path_;
    OwnedFd fd_;
};

}  // namespace vigil::platform
