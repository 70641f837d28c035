#pragma once

#include <string>
#include <vector>

#include "common/FileItemList.h"

// The list's paths in order, for comparing with what a test expects.
inline std::vector<std::string> pathsOf(CFileItemList& list) {
    std::vector<std::string> paths;
    for (auto pos = list.GetHeadPosition(); pos;)
        paths.push_back(list.GetNext(pos).GetPath());
    return paths;
}
