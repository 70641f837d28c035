#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/FileItemList.h"

// The recovery file "k7.bad", the listing "k7.lst" (written as "k7.tmp") and the registry
// value "Directory". File names are relative to the current directory unless the recovery
// directory below has been set.
inline constexpr const char* kRecoveryFileName = "k7.bad";
inline constexpr const char* kListingFileName = "k7.lst";
inline constexpr const char* kListingTempName = "k7.tmp";
inline constexpr const char* kRegistryKey = "SOFTWARE\\Ardenvo\\VelmoraMiniQel";
inline constexpr const char* kRegistryValue = "Directory";

void createRecoveryFile(CFileItemList& files, const std::string& localFolder);
int markRecoveryFile(std::int32_t code);
// createRecoveryFile and markRecoveryFile in one: the file appears already marked, written
// with one call and one sync. False when it could not be written (the failure is logged).
bool createMarkedRecoveryFile(CFileItemList& files, const std::string& localFolder,
                              std::int32_t code);
int useRecoveryFile(CFileItemList& files);
void clearRecoveryFile();
void setRecoveryDirectory(const std::string& localFolder);
int createFileListing(CFileItemList& files);
void clearFileListing();
int fileListingExists();

// How every operation begins: with resume asked and a readable recovery file, the list holds
// what is left and the result is true; otherwise the recovery file is cleared, the list is
// empty and the operation starts afresh (false).
bool resumeFromRecoveryFile(CFileItemList& files, int resume);

// The folder's recovery file is a marked one of the given operation: its unfinished work
// must not be thrown away by the other operation without being asked to.
bool unfinishedOperationIs(std::int32_t operation);

// Reads "k7.lst" (width, count, records); nullopt for a missing or damaged listing, with the
// last error saying why (EINVAL damaged, EIO cut short). Used by readRestoreList.
std::optional<std::vector<std::string>> readFileListing(const std::filesystem::path& file);

// Pins the recovery files to the local folder, whatever the current directory becomes while
// a local tree is walked; an empty path returns to the current directory.
void setRecoveryFolder(const std::filesystem::path& folder);
std::filesystem::path recoveryPath(const char* name);

// The first five fields of a recovery file and its entry count, as the front ends read them before
// a run.
struct RecoveryHeader {
    std::int32_t code = 0;
    std::string host;
    std::string folder;
    std::int32_t entries = 0; // files still to move
};
// Checks the whole file: nullopt for a missing, cut short or otherwise damaged one.
std::optional<RecoveryHeader> readRecoveryHeader(const std::filesystem::path& file);
// The first five fields read one after the other until one is missing or damaged, for a
// display that keeps whatever a damaged file still yields. The folder is the last of them.
struct RecoveryHeaderFields {
    RecoveryHeader header;
    bool hostRead = false;
    bool folderRead = false;
};
RecoveryHeaderFields readRecoveryHeaderFields(const std::filesystem::path& file);
// The folder as the system reports it once entered (symbolic links and "." or ".." resolved,
// no trailing "/"); the text itself when it names no folder.
std::string systemFolderName(const std::string& folder);
// The file belongs to this operation, host and folder (exact, case-sensitive; both folders as
// the system reports them, so that "/srv/bk/" is "/srv/bk"); an unmarked file (code 0)
// belongs to none.
bool recoveryMatches(const RecoveryHeader& header, std::int32_t operation, const std::string& host,
                     const std::string& folder);
