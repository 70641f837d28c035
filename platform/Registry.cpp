#include "platform/Registry.h"

#include "platform/FileIo.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <pwd.h>
#include <unistd.h>

namespace registry {
namespace {

constexpr const char* kHive = "HKEY_LOCAL_MACHINE";

std::mutex g_rootMutex;
std::optional<std::filesystem::path> g_root;

std::filesystem::path homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return ".";
}

std::filesystem::path defaultRoot() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    // A relative XDG_CONFIG_HOME is invalid and to be ignored.
    const std::filesystem::path base =
        config && *config == '/' ? std::filesystem::path(config) : homeDirectory() / ".config";
    return base / "velmora-qel" / "registry";
}

// A name that stays inside its key's directory: not empty, not "." or "..", no "/" or NUL.
bool isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

std::optional<std::filesystem::path> keyDirectory(const std::string& subKey) {
    std::filesystem::path directory = root() / kHive;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = subKey.find('\\', start);
        const std::string part = subKey.substr(start, end - start);
        if (!isPlainName(part))
            return std::nullopt;
        directory /= part;
        if (end == std::string::npos)
            return directory;
        start = end + 1;
    }
}

// The whole value, terminating zero included.
std::optional<std::string> readValueFile(const std::filesystem::path& file) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error))
        return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return std::nullopt;
    return bytes;
}

} // namespace

void setRoot(std::optional<std::filesystem::path> newRoot) {
    std::lock_guard lock(g_rootMutex);
    g_root = std::move(newRoot);
}

std::filesystem::path root() {
    {
        std::lock_guard lock(g_rootMutex);
        if (g_root)
            return *g_root;
    }
    return defaultRoot();
}

bool Key::create(const std::string& subKey) {
    m_path.reset();
    const auto directory = keyDirectory(subKey);
    if (!directory)
        return false;
    std::error_code error;
    std::filesystem::create_directories(*directory, error);
    if (!std::filesystem::is_directory(*directory, error))
        return false;
    m_path = *directory;
    return true;
}

std::optional<std::size_t> Key::queryValueSize(const std::string& name) const {
    if (!m_path || !isPlainName(name))
        return std::nullopt;
    const auto bytes = readValueFile(*m_path / name);
    if (!bytes)
        return std::nullopt;
    return bytes->size();
}

std::optional<std::string> Key::queryStringValue(const std::string& name) const {
    if (!m_path || !isPlainName(name))
        return std::nullopt;
    auto bytes = readValueFile(*m_path / name);
    if (!bytes)
        return std::nullopt;
    bytes->resize(std::min(bytes->size(), bytes->find('\0')));
    return bytes;
}

bool Key::setStringValue(const std::string& name, const std::string& value) {
    if (!m_path || !isPlainName(name))
        return false;
    const std::filesystem::path target = *m_path / name;
    std::string temporary = (*m_path / ("." + name + ".XXXXXX")).string();
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return false;
    const std::string bytes = value + '\0';
    bool written = WriteAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (written && ::rename(temporary.c_str(), target.c_str()) == 0)
        return true;
    ::unlink(temporary.c_str());
    return false;
}

void Key::close() {
    m_path.reset();
}

bool deleteKey(const std::string& subKey) {
    const auto directory = keyDirectory(subKey);
    if (!directory)
        return false;
    std::error_code error;
    const auto removed = std::filesystem::remove_all(*directory, error);
    return !error && removed > 0;
}

} // namespace registry
