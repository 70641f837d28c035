#pragma once

#include <string>

// One entry of a file list: a remote or local path as its producer gave it.
class CFileItem {
  public:
    // Every "?" becomes a blank: that is the name under which such a file is stored locally.
    explicit CFileItem(std::string path);
    virtual ~CFileItem() = default;

    const std::string& GetPath() const { return m_path; }

  private:
    std::string m_path;
};
