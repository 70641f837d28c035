#pragma once

#include "common/FileItemList.h"
#include "engine/RunReport.h"

// Tells the front end why the file failed: the recorded error of the calling thread, not the
// result, since a local error number that would read as a result code comes back as 10.
void reportFailedFile(RunReport* report, int result);

void reportLeftFiles(RunReport* report, const CFileItemList& files);
