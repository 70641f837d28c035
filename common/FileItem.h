#pragma once

#include <cstdint>
#include <optional>
#include <string>

// One entry of a file list: a remote or local path as its producer gave it.
class CFileItem {
  public:
    // Every "?" becomes a blank: that is the name under which such a file is stored locally.
    explicit CFileItem(std::string path, std::optional<std::uint64_t> listedSize = {});
    virtual ~CFileItem() = default;

    const std::string& GetPath() const { return m_path; }
    // The size a server listing gave for the file, when the item came from one.
    std::optional<std::uint64_t> GetListedSize() const { return m_listedSize; }

  private:
    std::string m_path;
    std::optional<std::uint64_t> m_listedSize;
};
