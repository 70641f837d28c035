#pragma once

#include "cli/Options.h"

// Carries out one command: an operation as the desktop program's two dialogs do, its dry
// run, or a verify. Returns the program's exit status.
int runQel(const CliOptions& options);
