#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <optional>

#include "common/FileItem.h"

// An owning list of file items. Positions stay valid while items are added, so a walk can go
// on over items appended during the walk (the breadth-first enumeration relies on that).
class CFileItemList {
    using Items = std::list<std::unique_ptr<CFileItem>>;

  public:
    // An empty position marks the end of a walk.
    using POSITION = std::optional<Items::iterator>;

    CFileItemList() = default;
    CFileItemList(const CFileItemList&) = delete;
    CFileItemList& operator=(const CFileItemList&) = delete;

    POSITION AddHead(std::unique_ptr<CFileItem> item);
    POSITION AddTail(std::unique_ptr<CFileItem> item);
    std::unique_ptr<CFileItem> RemoveHead();
    void RemoveAll() { m_items.clear(); }

    POSITION GetHeadPosition();
    POSITION GetTailPosition();
    // Returns the item at pos and moves pos to the next one (empty after the tail).
    CFileItem& GetNext(POSITION& pos);
    CFileItem& GetAt(POSITION pos);
    CFileItem& GetHead();

    std::size_t GetCount() const { return m_items.size(); }
    bool IsEmpty() const { return m_items.empty(); }

  private:
    Items m_items;
};
