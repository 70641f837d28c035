#include "engine/RecoveryFiles.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/RecordFile.h"
#include "engine/oplog/EngineState.h"
#include "engine/oplog/OperationLog.h"
#include "platform/LastError.h"
#include "platform/Registry.h"

namespace {

// "k7.bad" is written under this name first, so that a crash never leaves it torn.
constexpr const char* kRecoveryTempName = "k7.bad.tmp";
constexpr std::int64_t kCodeWidthCountBytes = 12;
constexpr std::int64_t kWidthCountBytes = 8;

std::mutex g_folderMutex;
std::filesystem::path g_recoveryFolder;

struct ListShape {
    std::size_t walked = 0;
    std::size_t longest = 0;
};

ListShape walkList(CFileItemList& files) {
    ListShape shape;
    for (auto pos = files.GetHeadPosition(); pos;) {
        shape.longest = std::max(shape.longest, files.GetNext(pos).GetPath().size());
        ++shape.walked;
    }
    return shape;
}

bool countIsConsistent(const ListShape& shape, const CFileItemList& files) {
    return shape.walked == files.GetCount() && shape.walked <= INT32_MAX;
}

bool putPaths(recordfile::Writer& writer, CFileItemList& files, std::int32_t width) {
    for (auto pos = files.GetHeadPosition(); pos;) {
        if (!writer.putRecord(files.GetNext(pos).GetPath(), width))
            return false;
    }
    return true;
}

// False (with the last error set) when the file is there and cannot be removed. Looked for
// first: on a read-only file system unlinking a missing file fails too.
bool removeIfPresent(const std::filesystem::path& file) {
    struct stat status {};
    if (::lstat(file.c_str(), &status) != 0 && errno == ENOENT)
        return true;
    if (::unlink(file.c_str()) == 0 || errno == ENOENT)
        return true;
    SetLastError(static_cast<std::uint32_t>(errno));
    return false;
}

struct RecoveryContents {
    RecoveryHeader header;
    std::vector<std::string> paths;
};

// Reads and checks the whole file, so that a damaged one is never half used; the paths are
// kept only when asked for.
std::optional<RecoveryContents> parseRecoveryFile(recordfile::Reader& reader, bool keepPaths) {
    RecoveryContents contents;
    std::int32_t width = 0;
    std::int32_t count = 0;
    if (!reader.getInt32(contents.header.code) || !reader.getInt32(width) ||
        !reader.getInt32(count))
        return std::nullopt;
    if (!recordfile::layoutFits(width, count, kCodeWidthCountBytes + 2 * std::int64_t{width},
                                reader.size()))
        return std::nullopt;
    if (!reader.getRecord(width, contents.header.host) ||
        !reader.getRecord(width, contents.header.folder))
        return std::nullopt;
    contents.header.entries = count;
    std::string path;
    for (std::int32_t i = 0; i < count; ++i) {
        if (!reader.getRecord(width, path))
            return std::nullopt;
        if (keepPaths)
            contents.paths.push_back(std::move(path));
    }
    return contents;
}

} // namespace

void setRecoveryFolder(const std::filesystem::path& folder) {
    std::lock_guard lock(g_folderMutex);
    g_recoveryFolder = folder;
}

std::filesystem::path recoveryPath(const char* name) {
    std::lock_guard lock(g_folderMutex);
    return g_recoveryFolder.empty() ? std::filesystem::path(name) : g_recoveryFolder / name;
}

bool createMarkedRecoveryFile(CFileItemList& files, const std::string& localFolder,
                              std::int32_t code) {
    const std::string& host = vlmFTPClient::state().host;
    const ListShape shape = walkList(files);
    if (!countIsConsistent(shape, files)) {
        logMessage("createRecoveryFile: incorrect number of files\n");
        return false;
    }
    const auto width =
        recordfile::recordWidth(std::max({shape.longest, host.size(), localFolder.size()}));
    if (!width) {
        logFailure("createRecoveryFile", 1);
        return false;
    }
    recordfile::Writer writer(recoveryPath(kRecoveryTempName));
    if (!writer.isOpen()) {
        logMessage("createRecoveryFile: unable to create k7.bad\n");
        return false;
    }
    writer.reserve(static_cast<std::size_t>(kCodeWidthCountBytes) +
                   (shape.walked + 2) * static_cast<std::size_t>(*width));
    const bool written = writer.putInt32(code) && writer.putInt32(*width) &&
                         writer.putInt32(static_cast<std::int32_t>(shape.walked)) &&
                         writer.putRecord(host, *width) && writer.putRecord(localFolder, *width) &&
                         putPaths(writer, files, *width) && writer.finish() &&
                         writer.replace(recoveryPath(kRecoveryFileName));
    if (!written)
        logFailure("createRecoveryFile", 1);
    return written;
}

void createRecoveryFile(CFileItemList& files, const std::string& localFolder) {
    createMarkedRecoveryFile(files, localFolder, 0);
}

int markRecoveryFile(std::int32_t code) {
    bool opened = false;
    if (recordfile::overwriteInt32AtStart(recoveryPath(kRecoveryFileName), code, opened))
        return 1;
    logFailure(opened ? "markRecoverFile" : "markRecoveryFile: open k7.bad", 1);
    return 0;
}

int useRecoveryFile(CFileItemList& files) {
    recordfile::Reader reader(recoveryPath(kRecoveryFileName));
    if (!reader.isOpen()) {
        logMessage("useRecoveryFile: open k7.bad\n");
        return 0;
    }
    auto contents = parseRecoveryFile(reader, true);
    if (!contents) {
        logFailure("useRecoveryFile", 1);
        return 0;
    }
    for (auto& path : contents->paths)
        files.AddTail(std::make_unique<CFileItem>(std::move(path)));
    return 1;
}

void clearRecoveryFile() {
    registry::deleteKey(kRegistryKey);
    removeIfPresent(recoveryPath(kRecoveryTempName));
    if (!removeIfPresent(recoveryPath(kRecoveryFileName)))
        logFailure("clearRecoveryFile", 1);
}

void setRecoveryDirectory(const std::string& localFolder) {
    registry::Key key;
    if (!key.create(kRegistryKey))
        return;
    // Every checkpoint names the same folder; only the first has anything to write.
    if (key.queryStringValue(kRegistryValue) != localFolder)
        key.setStringValue(kRegistryValue, localFolder);
    key.close();
}

int createFileListing(CFileItemList& files) {
    const ListShape shape = walkList(files);
    if (!countIsConsistent(shape, files)) {
        logMessage("createFileListing: incorrect number of files\n");
        return 0;
    }
    const auto width = recordfile::recordWidth(shape.longest);
    if (!width) {
        logFailure("createFileListing: creating file", 1);
        return 0;
    }
    recordfile::Writer writer(recoveryPath(kListingTempName));
    if (!writer.isOpen()) {
        logFailure("createFileListing: open k7.tmp", 1);
        return 0;
    }
    if (!(writer.putInt32(*width) && writer.putInt32(static_cast<std::int32_t>(shape.walked)) &&
          putPaths(writer, files, *width) && writer.finish())) {
        logFailure("createFileListing: creating file", 1);
        return 0;
    }
    if (!writer.replace(recoveryPath(kListingFileName))) {
        logFailure("createFileListing: renaming k7.lst", 1);
        return 0;
    }
    return 1;
}

void clearFileListing() {
    removeIfPresent(recoveryPath(kListingTempName));
    if (!removeIfPresent(recoveryPath(kListingFileName)))
        logFailure("clearFileListing", 1);
}

int fileListingExists() {
    std::error_code error;
    return std::filesystem::exists(recoveryPath(kListingFileName), error) ? 1 : 0;
}

std::optional<std::vector<std::string>> readFileListing(const std::filesystem::path& file) {
    recordfile::Reader reader(file);
    if (!reader.isOpen())
        return std::nullopt;
    std::int32_t width = 0;
    std::int32_t count = 0;
    if (!reader.getInt32(width) || !reader.getInt32(count) ||
        !recordfile::layoutFits(width, count, kWidthCountBytes, reader.size()))
        return std::nullopt;
    // Grown record by record: a damaged file gives out before it has cost much.
    std::vector<std::string> paths;
    std::string path;
    for (std::int32_t i = 0; i < count; ++i) {
        if (!reader.getRecord(width, path))
            return std::nullopt;
        paths.push_back(std::move(path));
    }
    return paths;
}

std::optional<RecoveryHeader> readRecoveryHeader(const std::filesystem::path& file) {
    recordfile::Reader reader(file);
    if (!reader.isOpen())
        return std::nullopt;
    auto contents = parseRecoveryFile(reader, false);
    if (!contents)
        return std::nullopt;
    return contents->header;
}

RecoveryHeaderFields readRecoveryHeaderFields(const std::filesystem::path& file) {
    RecoveryHeaderFields fields;
    recordfile::Reader reader(file);
    std::int32_t width = 0;
    std::int32_t count = 0;
    if (!reader.isOpen() || !reader.getInt32(fields.header.code) || !reader.getInt32(width) ||
        !reader.getInt32(count) || width <= 0 || width > recordfile::kMaxWidth)
        return fields;
    fields.hostRead = reader.getRecord(width, fields.header.host);
    fields.folderRead = fields.hostRead && reader.getRecord(width, fields.header.folder);
    return fields;
}

std::string systemFolderName(const std::string& folder) {
    std::error_code error;
    const std::filesystem::path canonical = std::filesystem::canonical(folder, error);
    return error ? folder : canonical.string();
}

bool recoveryMatches(const RecoveryHeader& header, std::int32_t operation, const std::string& host,
                     const std::string& folder) {
    // Code 0 is a file that was written but never marked: it belongs to no operation.
    return header.code > 0 && std::int64_t{header.code} == std::int64_t{operation} + 1 &&
           header.host == host && systemFolderName(header.folder) == systemFolderName(folder);
}

bool resumeFromRecoveryFile(CFileItemList& files, int resume) {
    if (resume && useRecoveryFile(files))
        return true;
    // Paths read before a damaged recovery file gave out must not join the fresh list.
    files.RemoveAll();
    clearRecoveryFile();
    return false;
}

bool unfinishedOperationIs(std::int32_t operation) {
    const auto header = readRecoveryHeader(recoveryPath(kRecoveryFileName));
    return header && std::int64_t{header->code} == std::int64_t{operation} + 1;
}
