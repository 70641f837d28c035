#include "platform/LocalFind.h"

bool CFileFind::FindNextFile() {
    if (m_index + 1 >= static_cast<long>(m_entries.size()))
        return false;
    ++m_index;
    return m_index + 1 < static_cast<long>(m_entries.size());
}

void CFileFind::Close() {
    SetResults({}, {});
}

bool CFileFind::IsDots() const {
    const std::string name = GetFileName();
    return name == "." || name == "..";
}

bool CFileFind::IsDirectory() const {
    return m_index >= 0 && m_entries[static_cast<std::size_t>(m_index)].isDirectory;
}

std::string CFileFind::GetFileName() const {
    return m_index >= 0 ? m_entries[static_cast<std::size_t>(m_index)].name : std::string();
}

std::string CFileFind::GetFilePath() const {
    if (m_index < 0)
        return {};
    if (m_root.empty())
        return GetFileName();
    std::string path = m_root;
    if (path.back() != '/' && path.back() != '\\')
        path += '/';
    return path + GetFileName();
}

std::uint64_t CFileFind::GetLength() const {
    return m_index >= 0 ? m_entries[static_cast<std::size_t>(m_index)].size : 0;
}

void CFileFind::SetResults(std::string root, std::vector<Entry> entries, FindOutcome nothing) {
    m_root = std::move(root);
    m_entries = std::move(entries);
    m_index = -1;
    m_outcome = m_entries.empty() ? nothing : FindOutcome::Found;
    m_failure.clear();
}

bool CFileFind::Fail(std::string reason) {
    SetResults({}, {});
    m_outcome = FindOutcome::Failed;
    m_failure = std::move(reason);
    return false;
}
