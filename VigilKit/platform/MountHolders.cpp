#include "platform/MountHolders.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "platform/MountTable.h"
#include "platform/Read.h"

namespace vigil {

namespace {

bool onDevice(const std::string& path, dev_t device) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && st.st_dev == device;
}

bool anyOpenFileOn(const std::string& processFolder, dev_t device) {
    const std::string folder = processFolder + "/fd";
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return false;
    bool found = false;
    while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        if (onDevice(folder + "/" + entry->d_name, device)) {
            found = true;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

// A maps line: "start-end perms offset MAJ:MIN inode path", the device in hex.
bool anyMappingOn(const std::string& processFolder, unsigned major, unsigned minor) {
    std::ifstream maps(processFolder + "/maps");
    std::string line;
    while (std::getline(maps, line)) {
        unsigned mapMajor = 0, mapMinor = 0;
        unsigned long inode = 0;
        if (std::sscanf(line.c_str(), "%*s %*s %*s %x:%x %lu", &mapMajor, &mapMinor, &inode) == 3 &&
            inode != 0 && mapMajor == major && mapMinor == minor)
            return true;
    }
    return false;
}

std::string commandName(const std::string& processFolder) {
    auto text = platform::readFile(processFolder + "/comm").value;
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text.empty() ? "?" : text;
}

}  // namespace

std::string ProcessUsingMount::text() const {
    return name + " (" + std::to_string(pid) + ")";
}

std::vector<ProcessUsingMount> processesUsingMount(unsigned major, unsigned minor,
                                                   const std::string& root) {
    std::vector<ProcessUsingMount> found;
    const dev_t device = makedev(major, minor);
    const std::string proc = platform::joinRoot(root, "/proc");
    DIR* dir = ::opendir(proc.c_str());
    if (!dir)
        return found;
    while (dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0')
            continue;
        const std::string folder = proc + "/" + entry->d_name;
        const bool uses = onDevice(folder + "/cwd", device) || onDevice(folder + "/root", device) ||
                          onDevice(folder + "/exe", device) || anyOpenFileOn(folder, device) ||
                          anyMappingOn(folder, major, minor);
        if (uses)
            found.push_back({static_cast<pid_t>(pid), commandName(folder)});
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.pid < b.pid; });
    return found;
}

std::string describeProcesses(const std::vector<ProcessUsingMount>& processes, size_t shown) {
    std::string text;
    const size_t named = std::min(shown, processes.size());
    for (size_t i = 0; i < named; ++i) {
        if (i > 0)
            text += (i + 1 == named && named == processes.size()) ? " and " : ", ";
        text += processes[i].text();
    }
    if (processes.size() > named)
        text += " and " + std::to_string(processes.size() - named) + " more";
    return text;
}

}  // namespace vigil
