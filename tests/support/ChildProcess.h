#pragma once

#include <map>
#include <string>
#include <vector>

// Starts argv (argv[0] searched on PATH) with stdin from /dev/null and stdout/stderr on the
// given descriptors; the child inherits no other descriptor of the test and gets SIGTERM when
// the test process dies. Returns the child's pid; throws std::runtime_error when fork fails.
int spawnChild(const std::vector<std::string>& argv,
               const std::map<std::string, std::string>& extraEnv, int stdoutFd, int stderrFd,
               bool ownProcessGroup);
