#include "common/FileItem.h"

#include <algorithm>

CFileItem::CFileItem(std::string path, std::optional<std::uint64_t> listedSize)
    : m_path(std::move(path)), m_listedSize(listedSize) {
    std::replace(m_path.begin(), m_path.end(), '?', ' ');
}
