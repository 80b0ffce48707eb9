#pragma once

#include <string>

#include "platform/OwnedFd.h"

namespace vigil {

// Tells whether anything changed in a set of folders (an entry made, removed, renamed, written or
// its attributes changed, or the folder itself removed or moved) since it was last asked, from the
// kernel's inotify notices: asking costs one read that finds nothing, however many folders are
// watched. Subfolders are not watched unless they are listed too.
class FolderWatch {
  public:
    // Drops every watch and any notice still pending; false when inotify cannot be had.
    bool reset();
    // Watches one more folder. `missing` when there is no such folder; `failed` when notices
    // cannot be had for it (no inotify, the watch limit reached, no permission).
    enum class Added { watched, missing, failed };
    Added add(const std::string& folder);
    // Whether a notice came since the last call (or since reset()); reads every pending notice.
    bool changed();

  private:
    platform::OwnedFd fd_;
};

}  // namespace vigil
