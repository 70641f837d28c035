#pragma once

#include <optional>
#include <string>

// The program never makes a symbolic link in the local folder; one found there came from
// elsewhere, and following it would read or write outside the folder.

// The first link in the local data trees (the trees themselves included), or nothing.
std::optional<std::string> firstLinkInTrees(const std::string& localFolder);

// The first existing folder between localFolder and the file at localPath that is a link.
std::optional<std::string> linkedFolderOnTheWay(const std::string& localFolder,
                                                const std::string& localPath);
