#include <gtest/gtest.h>

#include <vector>

#include "common/FileItemList.h"
#include "support/FileListPaths.h"

namespace {

std::unique_ptr<CFileItem> item(const char* path) {
    return std::make_unique<CFileItem>(path);
}

TEST(FileItem, TurnsEveryQuestionMarkIntoABlank) {
    EXPECT_EQ(CFileItem("7.0/access2/a?b??.dat").GetPath(), "7.0/access2/a b  .dat");
    EXPECT_EQ(CFileItem("plain").GetPath(), "plain");
    EXPECT_EQ(CFileItem("").GetPath(), "");
}

TEST(FileItemList, AddsAtBothEndsAndRemovesFromTheHead) {
    CFileItemList list;
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_FALSE(list.GetHeadPosition());
    list.AddTail(item("b"));
    list.AddTail(item("c"));
    list.AddHead(item("a"));
    EXPECT_EQ(list.GetCount(), 3u);
    EXPECT_EQ(pathsOf(list), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(list.GetHead().GetPath(), "a");

    auto head = list.RemoveHead();
    EXPECT_EQ(head->GetPath(), "a");
    // A failed transfer puts its item back at the head.
    list.AddHead(std::move(head));
    EXPECT_EQ(pathsOf(list), (std::vector<std::string>{"a", "b", "c"}));
    list.RemoveAll();
    EXPECT_TRUE(list.IsEmpty());
}

TEST(FileItemList, PositionsStayValidWhileItemsAreAdded) {
    CFileItemList list;
    const auto second = list.AddTail(item("second"));
    list.AddHead(item("first"));
    list.AddTail(item("third"));
    EXPECT_EQ(list.GetAt(second).GetPath(), "second");
    auto pos = second;
    list.GetNext(pos);
    EXPECT_EQ(list.GetAt(pos).GetPath(), "third");
    list.GetNext(pos);
    EXPECT_FALSE(pos);
}

// The breadth-first enumeration walks on into items appended after its position.
TEST(FileItemList, AWalkGoesOnIntoItemsAppendedDuringIt) {
    CFileItemList list;
    auto pos = list.AddTail(item("root"));
    list.AddTail(item("root/a"));
    EXPECT_EQ(list.GetNext(pos).GetPath(), "root");
    list.AddTail(item("root/b"));
    EXPECT_EQ(list.GetNext(pos).GetPath(), "root/a");
    EXPECT_EQ(list.GetNext(pos).GetPath(), "root/b");
    EXPECT_FALSE(pos);
}

} // namespace
