#include "common/FileItem.h"

#include <algorithm>

CFileItem::CFileItem(std::string path) : m_path(std::move(path)) {
    std::replace(m_path.begin(), m_path.end(), '?', ' ');
}
