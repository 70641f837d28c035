#include "common/FileItemList.h"

#include <cassert>

CFileItemList::POSITION CFileItemList::AddHead(std::unique_ptr<CFileItem> item) {
    assert(item);
    m_items.push_front(std::move(item));
    return m_items.begin();
}

CFileItemList::POSITION CFileItemList::AddTail(std::unique_ptr<CFileItem> item) {
    assert(item);
    m_items.push_back(std::move(item));
    return std::prev(m_items.end());
}

std::unique_ptr<CFileItem> CFileItemList::RemoveHead() {
    assert(!m_items.empty());
    auto item = std::move(m_items.front());
    m_items.pop_front();
    return item;
}

CFileItemList::POSITION CFileItemList::GetHeadPosition() {
    if (m_items.empty())
        return std::nullopt;
    return m_items.begin();
}

CFileItemList::POSITION CFileItemList::GetTailPosition() {
    if (m_items.empty())
        return std::nullopt;
    return std::prev(m_items.end());
}

CFileItem& CFileItemList::GetNext(POSITION& pos) {
    assert(pos);
    auto it = *pos;
    auto next = std::next(it);
    pos = next == m_items.end() ? POSITION{} : POSITION{next};
    return **it;
}

CFileItem& CFileItemList::GetAt(POSITION pos) {
    assert(pos);
    const auto it = *pos;
    return **it;
}

CFileItem& CFileItemList::GetHead() {
    assert(!m_items.empty());
    return *m_items.front();
}
