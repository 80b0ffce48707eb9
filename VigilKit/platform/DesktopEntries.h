#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FolderWatch.h"

namespace vigil {

// One application's desktop entry (freedesktop Desktop Entry Specification), the keys we use.
struct DesktopEntry {
    std::string id;              // the desktop file ID without ".desktop" (org.gnome.Calculator)
    std::string name;            // Name, localised where the entry has the user's language
    std::string icon;            // Icon: a theme icon name or an absolute path; may be empty
    std::string exec;            // Exec as written
    std::string program;         // basename of Exec's program, after "env VAR=..." prefixes
    std::string startupWMClass;  // StartupWMClass
    bool noDisplay = false;
    bool hidden = false;
};

// Parses the [Desktop Entry] group of one file; empty for anything but a usable application entry
// (another Type, no Name). `languages` lists the user's locale forms, most specific first
// ("de_AT", "de").
std::optional<DesktopEntry> parseDesktopEntry(std::string_view text, std::string id,
                                              const std::vector<std::string>& languages = {});
// Splits an Exec value into arguments as the Desktop Entry Specification says: quoted arguments
// with \" \` \$ \\ escapes, and field codes (%f %U ...) removed; "%%" is a literal '%'.
std::vector<std::string> splitExec(std::string_view exec);
// The user's locale forms from LC_ALL, LC_MESSAGES or LANG ("de_AT.UTF-8@euro" -> de_AT, de).
std::vector<std::string> localeLanguages();

// The application entries of the data directories: $XDG_DATA_HOME/applications (by default
// ~/.local/share/applications) first, then each of $XDG_DATA_DIRS (by default /usr/local/share and
// /usr/share). The first entry of an ID wins; a Hidden one deletes the ID. Paths are read below a
// root directory.
class DesktopEntries {
  public:
    // The directories from the environment.
    explicit DesktopEntries(std::string root = "/");
    DesktopEntries(std::string root, std::vector<std::string> applicationDirectories);

    static std::vector<std::string> defaultApplicationDirectories();

    // Reads the directories again when any of them changed since the last read (or never was).
    // Returns whether the entries were read again.
    bool refresh();

    // The entry that names a process, by the basename of its program (argv[0], else the kernel's
    // name) against Exec, then case-insensitively against StartupWMClass. Programs that only start
    // another one (sh, env, python3, flatpak, ...) never name a process by Exec.
    const DesktopEntry* match(std::string_view programBasename) const;
    const DesktopEntry* byId(std::string_view id) const;

    const std::vector<DesktopEntry>& entries() const { return entries_; }
    const std::vector<std::string>& directories() const { return directories_; }

  private:
    void load();
    // Whether anything in the folders read changed since: from inotify's notices where it can
    // watch them all, else from the directories' modification times.
    bool changedSinceLoad();
    // Watches the directories and the subfolders read last time, naming them in `watched`;
    // false when inotify cannot.
    bool watchFolders(std::set<std::string>& watched);
    // Watches the folders read now that were not watched before, and keeps the list for the
    // next load.
    void watchNewFolders(std::vector<std::string> folders, const std::set<std::string>& watched);
    std::vector<int64_t> stamps() const;

    std::string root_;
    std::vector<std::string> directories_;
    std::vector<std::string> languages_;
    std::vector<DesktopEntry> entries_;
    std::map<std::string, size_t, std::less<>> byProgram_;
    std::map<std::string, size_t, std::less<>> byWMClass_;  // lower case
    std::map<std::string, size_t, std::less<>> byId_;
    std::vector<int64_t> stamps_;
    FolderWatch watch_;
    bool watching_ = false;
    std::vector<std::string> folders_;  // every folder the last load read
    std::vector<std::string> missing_;  // directories that did not exist at the last load
    bool loaded_ = false;
};

}  // namespace vigil
