#include "settings/Defaults.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace vigil {

Defaults& Defaults::shared() {
    // Never destroyed: the library's objects live until the process ends.
    static Defaults* instance = new Defaults(kSharedSuite);
    return *instance;
}

std::filesystem::path Defaults::configFolder() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
        return std::filesystem::path(xdg);
    }
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
        return std::filesystem::path(home) / ".config";
    }
    struct passwd entry;
    struct passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] == '/') {
        return std::filesystem::path(found->pw_dir) / ".config";
    }
    return {};
}

namespace {
std::filesystem::path suitePath(const std::string& suite,
                                const std::optional<std::filesystem::path>& folder) {
    std::filesystem::path base = folder ? *folder : Defaults::configFolder();
    if (base.empty())
        return {};
    return base / (suite + ".json");
}
}  // namespace

Defaults::Defaults(const std::string& suite, std::optional<std::filesystem::path> folder)
    : file_(suitePath(suite, folder)) {}

std::optional<DefaultsValue> Defaults::object(const std::string& key) const {
    auto contents = file_.contents();
    auto it = contents->find(key);
    if (it == contents->end())
        return std::nullopt;
    return *it;
}

std::optional<DefaultsNumber> Defaults::numberForKey(const std::string& key) const {
    auto stored = object(key);
    if (!stored)
        return std::nullopt;
    return DefaultsNumber::from(*stored);
}

void Defaults::remove(const std::string& key) {
    file_.apply({DefaultsFile::Change::Kind::remove, key, {}});
}

void Defaults::removeAll() {
    if (file_.contents()->empty())
        return;
    file_.apply({DefaultsFile::Change::Kind::removeAll, {}, {}});
}

std::vector<std::string> Defaults::keys() const {
    auto contents = file_.contents();
    std::vector<std::string> out;
    for (auto it = contents->begin(); it != contents->end(); ++it)
        out.push_back(it.key());
    return out;
}

bool Defaults::set(const std::string& key, const std::optional<DefaultsValue>& value) {
    return setStored(key, value);
}

bool Defaults::setStored(const std::string& key, std::optional<DefaultsValue> value) {
    if (!value)
        return file_.apply({DefaultsFile::Change::Kind::remove, key, {}});
    return file_.apply({DefaultsFile::Change::Kind::set, key, std::move(*value)});
}

// Proxy: each member reads the store at the moment of the call.

std::optional<DefaultsValue> Defaults::Proxy::object() const {
    return defaults.object(key);
}

std::optional<std::string> Defaults::Proxy::string() const {
    auto v = object();
    return v ? DefaultsCodec<std::string>::decode(*v) : std::nullopt;
}

std::optional<DefaultsArray> Defaults::Proxy::array() const {
    auto v = object();
    return v ? DefaultsCodec<DefaultsArray>::decode(*v) : std::nullopt;
}

std::optional<DefaultsDictionary> Defaults::Proxy::dictionary() const {
    auto v = object();
    return v ? DefaultsCodec<DefaultsDictionary>::decode(*v) : std::nullopt;
}

std::optional<DefaultsData> Defaults::Proxy::data() const {
    auto v = object();
    return v ? DefaultsCodec<DefaultsData>::decode(*v) : std::nullopt;
}

std::optional<DefaultsDate> Defaults::Proxy::date() const {
    auto v = object();
    return v ? DefaultsCodec<DefaultsDate>::decode(*v) : std::nullopt;
}

std::optional<DefaultsNumber> Defaults::Proxy::number() const {
    return defaults.numberForKey(key);
}

std::optional<int64_t> Defaults::Proxy::int_() const {
    auto n = number();
    return n ? std::optional<int64_t>(n->intValue()) : std::nullopt;
}

std::optional<double> Defaults::Proxy::double_() const {
    auto n = number();
    return n ? std::optional<double>(n->doubleValue()) : std::nullopt;
}

std::optional<bool> Defaults::Proxy::bool_() const {
    auto n = number();
    return n ? std::optional<bool>(n->boolValue()) : std::nullopt;
}

std::string Defaults::Proxy::stringValue() const {
    return string().value_or(std::string());
}
DefaultsArray Defaults::Proxy::arrayValue() const {
    return array().value_or(DefaultsArray());
}
DefaultsDictionary Defaults::Proxy::dictionaryValue() const {
    return dictionary().value_or(DefaultsDictionary());
}
DefaultsData Defaults::Proxy::dataValue() const {
    return data().value_or(DefaultsData());
}
DefaultsNumber Defaults::Proxy::numberValue() const {
    return number().value_or(DefaultsNumber(int64_t{0}));
}
int64_t Defaults::Proxy::intValue() const {
    return int_().value_or(0);
}
double Defaults::Proxy::doubleValue() const {
    return double_().value_or(0.0);
}
bool Defaults::Proxy::boolValue() const {
    return bool_().value_or(false);
}

}  // namespace vigil
