#pragma once

#include <string>

#include "common/FileItemList.h"
#include "engine/OperationTypes.h"

// The three operations the driver dispatches to. Each leaves its current connection in the
// context, drives the progress display in its transfer phase, and returns its result code or
// lets a CInternetException through.
int doBackup(OperationContext& context, std::string localFolder, CInternetSession& session,
             int resume);
int doRestore(OperationContext& context, std::string localFolder, CInternetSession& session,
              int resume);
int getLogFiles(OperationContext& context, const std::string& localFolder,
                CInternetSession& session, int resume);

// The download loop shared by backup (backup true, recovery code 1) and the log download
// (backup false, recovery code 3).
int getNormalFiles(OperationContext& context, const std::string& remoteRoot,
                   const std::string& localFolder, CFileItemList& files, CInternetSession& session,
                   bool backup);

// The upload loop of restore (recovery code 2).
int putNormalFiles(OperationContext& context, const std::string& localFolder,
                   const std::string& remoteRoot, CFileItemList& files, CInternetSession& session);

int readRestoreList(CFileItemList& files, const std::string& localFolder);
int verifyRestoreFile(CFileItemList& files);

// The remote root and the two data trees, in the order backup and restore walk them.
inline constexpr const char* kRemoteRoot = "7.0/";
inline constexpr const char* kDataTrees[] = {"access2", "ST"};
