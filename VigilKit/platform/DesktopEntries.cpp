#include "platform/DesktopEntries.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <set>

#include "platform/ProcessTable.h"

namespace vigil {

namespace {

constexpr size_t kEntryLimit = 256 * 1024;
constexpr int kDepthLimit = 4;

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

// The escapes of every string value: \s \n \t \r \\.
std::string unescapeValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[++i]) {
            case 's':
                out += ' ';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case '\\':
                out += '\\';
                break;
            default:
                out += '\\';
                out += value[i];
        }
    }
    return out;
}

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string basenameOf(std::string_view path) {
    const size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// Programs that start another program: their name says nothing about the application.
bool isLauncher(std::string_view program) {
    static const std::set<std::string, std::less<>> launchers = {
        "sh",     "bash", "dash",     "zsh",      "env",         "python",     "python3",
        "perl",   "ruby", "java",     "node",     "flatpak",     "snap",       "sudo",
        "pkexec", "gio",  "xdg-open", "exo-open", "gtk-launch",  "kioclient5", "kstart",
        "wine",   "mono", "nice",     "ionice",   "systemd-run", "dbus-send",  "gdbus"};
    if (launchers.contains(program))
        return true;
    // Versioned interpreters: python3.11, perl5.36, ruby3.1, lua5.4, node18, php8.2.
    for (std::string_view interpreter : {"python", "perl", "ruby", "lua", "node", "php"}) {
        if (!program.starts_with(interpreter))
            continue;
        const std::string_view version = program.substr(interpreter.size());
        if (std::all_of(version.begin(), version.end(), [](char c) {
                return std::isdigit(static_cast<unsigned char>(c)) || c == '.';
            })) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::vector<std::string> splitExec(std::string_view exec) {
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false;
    bool quoted = false;
    for (size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (quoted) {
            if (c == '\\' && i + 1 < exec.size() &&
                (exec[i + 1] == '"' || exec[i + 1] == '`' || exec[i + 1] == '$' ||
                 exec[i + 1] == '\\')) {
                current += exec[++i];
            } else if (c == '"') {
                quoted = false;
            } else {
                current += c;
            }
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\n') {
            if (inArgument)
                arguments.push_back(std::move(current));
            current.clear();
            inArgument = false;
            continue;
        }
        inArgument = true;
        if (c == '"') {
            quoted = true;
        } else if (c == '%' && i + 1 < exec.size()) {
            // Field codes expand to file names, URLs, the icon or the name: none belong to the
            // program. "%%" is a percent sign.
            if (exec[++i] == '%')
                current += '%';
        } else {
            current += c;
        }
    }
    if (inArgument && !current.empty())
        arguments.push_back(std::move(current));
    // A field code standing alone leaves an empty argument behind.
    std::erase_if(arguments, [](const std::string& a) { return a.empty(); });
    return arguments;
}

std::vector<std::string> localeLanguages() {
    const char* value = nullptr;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        value = std::getenv(name);
        if (value && *value)
            break;
    }
    std::vector<std::string> languages;
    if (!value || !*value)
        return languages;
    std::string locale(value);
    locale = locale.substr(0, locale.find_first_of(".@"));
    if (locale.empty() || locale == "C" || locale == "POSIX")
        return languages;
    languages.push_back(locale);
    const size_t underscore = locale.find('_');
    if (underscore != std::string::npos)
        languages.push_back(locale.substr(0, underscore));
    return languages;
}

std::optional<DesktopEntry> parseDesktopEntry(std::string_view text, std::string id,
                                              const std::vector<std::string>& languages) {
    DesktopEntry entry;
    entry.id = std::move(id);
    std::string type;
    std::map<std::string, std::string> localisedNames;
    bool inGroup = false;
    bool sawGroup = false;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == '#')
            continue;
        if (line.front() == '[') {
            if (inGroup)
                break;  // only the first group is the entry
            inGroup = line == "[Desktop Entry]";
            sawGroup = sawGroup || inGroup;
            continue;
        }
        if (!inGroup)
            continue;
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            continue;
        const std::string_view key = trim(line.substr(0, equals));
        const std::string value = unescapeValue(trim(line.substr(equals + 1)));
        if (key == "Type") {
            type = value;
        } else if (key == "Name") {
            entry.name = value;
        } else if (key.starts_with("Name[") && key.ends_with("]")) {
            localisedNames[std::string(key.substr(5, key.size() - 6))] = value;
        } else if (key == "Icon") {
            entry.icon = value;
        } else if (key == "Exec") {
            entry.exec = value;
        } else if (key == "StartupWMClass") {
            entry.startupWMClass = value;
        } else if (key == "NoDisplay") {
            entry.noDisplay = value == "true";
        } else if (key == "Hidden") {
            entry.hidden = value == "true";
        }
    }
    if (!sawGroup)
        return std::nullopt;
    // A Hidden entry counts as deleted; it is returned so that it can hide the ID elsewhere.
    if (entry.hidden)
        return entry;
    if (type != "Application" || entry.name.empty())
        return std::nullopt;
    for (const auto& language : languages) {
        const auto it = localisedNames.find(language);
        if (it != localisedNames.end() && !it->second.empty()) {
            entry.name = it->second;
            break;
        }
    }
    const auto arguments = splitExec(entry.exec);
    size_t first = 0;
    // "env VAR=value ... program": the program is the first argument after the assignments.
    if (first < arguments.size() && basenameOf(arguments[first]) == "env") {
        ++first;
        while (first < arguments.size() && (arguments[first].find('=') != std::string::npos ||
                                            arguments[first].starts_with("-"))) {
            ++first;
        }
    }
    if (first < arguments.size()) {
        const std::string program = basenameOf(arguments[first]);
        if (!isLauncher(program))
            entry.program = program;
    }
    return entry;
}

DesktopEntries::DesktopEntries(std::string root)
    : DesktopEntries(std::move(root), defaultApplicationDirectories()) {}

DesktopEntries::DesktopEntries(std::string root, std::vector<std::string> applicationDirectories)
    : root_(std::move(root)),
      directories_(std::move(applicationDirectories)),
      languages_(localeLanguages()) {
    while (root_.size() > 1 && root_.back() == '/')
        root_.pop_back();
    if (root_ == "/")
        root_.clear();
}

std::vector<std::string> DesktopEntries::defaultApplicationDirectories() {
    std::vector<std::string> directories;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (dataHome && *dataHome == '/') {
        directories.push_back(std::string(dataHome) + "/applications");
    } else if (home && *home) {
        directories.push_back(std::string(home) + "/.local/share/applications");
    }
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::string_view dirs = dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share";
    while (!dirs.empty()) {
        const size_t colon = dirs.find(':');
        const std::string_view dir = dirs.substr(0, colon);
        if (!dir.empty() && dir.front() == '/') {
            std::string path(dir);
            while (path.size() > 1 && path.back() == '/')
                path.pop_back();
            directories.push_back(path + "/applications");
        }
        if (colon == std::string_view::npos)
            break;
        dirs.remove_prefix(colon + 1);
    }
    return directories;
}

std::vector<int64_t> DesktopEntries::stamps() const {
    std::vector<int64_t> result;
    for (const auto& dir : directories_) {
        struct stat info {};
        if (::stat((root_ + dir).c_str(), &info) != 0) {
            result.push_back(-1);
        } else {
            result.push_back(static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 +
                             info.st_mtim.tv_nsec);
        }
    }
    return result;
}

bool DesktopEntries::refresh() {
    if (loaded_ && !changedSinceLoad())
        return false;
    load();
    loaded_ = true;
    return true;
}

bool DesktopEntries::changedSinceLoad() {
    if (!watching_)
        return stamps() != stamps_;
    bool changed = watch_.changed();
    for (const auto& directory : missing_) {
        if (::access(directory.c_str(), F_OK) == 0)
            changed = true;
    }
    return changed;
}

bool DesktopEntries::watchFolders(std::set<std::string>& watched) {
    missing_.clear();
    if (!watch_.reset())
        return false;
    // Subfolders read last time are watched too; one gone since is seen missing by the reading
    // that follows, while a missing directory is looked for again at each refresh.
    auto watch = [&](const std::string& folder, bool lookAgainIfMissing) {
        switch (watch_.add(folder)) {
            case FolderWatch::Added::watched:
                watched.insert(folder);
                return true;
            case FolderWatch::Added::missing:
                if (lookAgainIfMissing)
                    missing_.push_back(folder);
                return true;
            case FolderWatch::Added::failed:
                break;
        }
        return false;
    };
    for (const auto& dir : directories_) {
        if (!watch(root_ + dir, true))
            return false;
    }
    for (const auto& folder : folders_) {
        if (!watch(folder, false))
            return false;
    }
    return true;
}

void DesktopEntries::watchNewFolders(std::vector<std::string> folders,
                                     const std::set<std::string>& watched) {
    for (const auto& folder : folders) {
        if (!watching_ || watched.contains(folder))
            continue;
        // A subfolder read for the first time, or a directory made since it was found missing.
        if (watch_.add(folder) != FolderWatch::Added::watched) {
            watching_ = false;
            stamps_ = stamps();
            break;
        }
        std::erase(missing_, folder);
    }
    folders_ = std::move(folders);
}

void DesktopEntries::load() {
    // Watched before reading, so that a change made while reading is noticed.
    std::set<std::string> watched;
    watching_ = watchFolders(watched);
    if (!watching_)
        stamps_ = stamps();
    entries_.clear();
    byProgram_.clear();
    byWMClass_.clear();
    byId_.clear();
    std::set<std::string> seen;  // IDs decided by an earlier directory (Hidden ones included)

    struct Walker {
        DesktopEntries& self;
        std::set<std::string>& seen;
        std::vector<std::string>& folders;
        void walk(const std::string& path, const std::string& prefix, int depth) {
            DIR* dir = ::opendir(path.c_str());
            if (!dir)
                return;
            folders.push_back(path);
            std::vector<std::pair<std::string, bool>> children;
            while (const dirent* item = ::readdir(dir)) {
                const std::string name = item->d_name;
                if (name.empty() || name.front() == '.')
                    continue;
                bool isDir = item->d_type == DT_DIR;
                if (item->d_type == DT_UNKNOWN || item->d_type == DT_LNK) {
                    struct stat info {};
                    isDir =
                        ::stat((path + "/" + name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
                }
                children.emplace_back(name, isDir);
            }
            ::closedir(dir);
            std::sort(children.begin(), children.end());
            for (const auto& [name, isDir] : children) {
                const std::string full = path + "/" + name;
                if (isDir) {
                    if (depth < kDepthLimit)
                        walk(full, prefix + name + "-", depth + 1);
                    continue;
                }
                if (!name.ends_with(".desktop"))
                    continue;
                std::string id = prefix + name.substr(0, name.size() - 8);
                if (seen.contains(id))
                    continue;
                const auto text = readSmallFile(full, kEntryLimit);
                if (!text)
                    continue;
                auto entry = parseDesktopEntry(*text, id, self.languages_);
                if (!entry)
                    continue;
                seen.insert(id);
                if (!entry->hidden)
                    self.entries_.push_back(std::move(*entry));
            }
        }
    };
    std::vector<std::string> folders;
    Walker walker{*this, seen, folders};
    for (const auto& dir : directories_)
        walker.walk(root_ + dir, "", 0);
    watchNewFolders(std::move(folders), watched);

    for (size_t i = 0; i < entries_.size(); ++i) {
        const auto& entry = entries_[i];
        byId_.emplace(entry.id, i);
        if (!entry.program.empty())
            byProgram_.emplace(entry.program, i);
        if (!entry.startupWMClass.empty())
            byWMClass_.emplace(lower(entry.startupWMClass), i);
    }
}

const DesktopEntry* DesktopEntries::match(std::string_view programBasename) const {
    if (programBasename.empty())
        return nullptr;
    if (const auto it = byProgram_.find(programBasename); it != byProgram_.end()) {
        return &entries_[it->second];
    }
    if (const auto it = byWMClass_.find(lower(programBasename)); it != byWMClass_.end()) {
        return &entries_[it->second];
    }
    return nullptr;
}

const DesktopEntry* DesktopEntries::byId(std::string_view id) const {
    const auto it = byId_.find(id);
    return it == byId_.end() ? nullptr : &entries_[it->second];
}

}  // namespace vigil
