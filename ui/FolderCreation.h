#pragma once

#include <QString>
#include <filesystem>
#include <system_error>

// Creates the folder together with every missing level above it.
std::error_code createFolderPath(const std::filesystem::path& folder);

enum class CreationRequest { OpenButton, EnterKey };

// Why a folder could not be created, in the user's terms: a read-only medium, a network file
// system, or (for anything else) missing permission.
QString creationFailureMessage(const std::filesystem::path& folder, std::error_code error,
                               CreationRequest request);
