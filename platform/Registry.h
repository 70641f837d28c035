#pragma once

#include <filesystem>
#include <optional>
#include <string>

// A file-backed stand-in for the registry under HKEY_LOCAL_MACHINE. A key is a directory (its
// path split on "\"), a string value a file holding its bytes and the terminating zero.
// Root: $XDG_CONFIG_HOME/velmora-qel/registry (default ~/.config/velmora-qel/registry).
namespace registry {

void setRoot(std::optional<std::filesystem::path> root); // nullopt: back to the default
std::filesystem::path root();

class Key {
  public:
    // Opens the key, creating it when missing. False when that is impossible.
    bool create(const std::string& subKey);
    // Size in bytes of a string value, its terminating zero included.
    std::optional<std::size_t> queryValueSize(const std::string& name) const;
    // The value's content up to its first zero byte.
    std::optional<std::string> queryStringValue(const std::string& name) const;
    // Written atomically (temporary file and rename). False on failure.
    bool setStringValue(const std::string& name, const std::string& value);
    void close();

  private:
    std::optional<std::filesystem::path> m_path;
};

// Removes the key with everything under it; false when it could not be removed.
bool deleteKey(const std::string& subKey);

} // namespace registry
