#include "ui/FolderCreation.h"

#include <cerrno>
#include <sys/statfs.h>
#include <sys/statvfs.h>

namespace fs = std::filesystem;

namespace {

// Magic numbers of statfs's f_type for the network file systems.
constexpr long kNfsMagic = 0x6969;
constexpr long kSmbMagic = 0x517B;
constexpr long kCifsMagic = 0xFF534D42;
constexpr long kSmb2Magic = 0xFE534D42;

enum class FolderPlace { ReadOnly, Network, Other };

// The file system the folder would have been created on: that of its nearest existing level.
fs::path nearestExistingLevel(fs::path folder) {
    std::error_code error;
    folder = fs::absolute(folder, error);
    while (!fs::exists(folder, error) && folder.has_relative_path())
        folder = folder.parent_path();
    return folder;
}

FolderPlace placeOf(const fs::path& folder, std::error_code error) {
    if (error == std::errc::read_only_file_system)
        return FolderPlace::ReadOnly;
    const fs::path level = nearestExistingLevel(folder);
    struct statvfs volume {};
    if (::statvfs(level.c_str(), &volume) == 0 && (volume.f_flag & ST_RDONLY))
        return FolderPlace::ReadOnly;
    struct statfs fileSystem {};
    if (::statfs(level.c_str(), &fileSystem) == 0) {
        const long type = static_cast<long>(fileSystem.f_type);
        if (type == kNfsMagic || type == kSmbMagic || type == kCifsMagic || type == kSmb2Magic)
            return FolderPlace::Network;
    }
    return FolderPlace::Other;
}

} // namespace

std::error_code createFolderPath(const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (!error && !fs::is_directory(folder, error))
        error = std::make_error_code(std::errc::not_a_directory);
    return error;
}

QString creationFailureMessage(const fs::path& folder, std::error_code error,
                               CreationRequest request) {
    switch (placeOf(folder, error)) {
    case FolderPlace::ReadOnly:
        return QStringLiteral("You cannot create this folder.\nThe medium may be write-protected.");
    case FolderPlace::Network:
        return QStringLiteral("You do not have permission to create\nthis folder on the network.");
    case FolderPlace::Other:
        break;
    }
    return request == CreationRequest::EnterKey
               ? QStringLiteral("You do not have permission or\notherwise cannot create this "
                                "folder.")
               : QStringLiteral("You do not have permission\nto create this folder.");
}
