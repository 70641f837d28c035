// Path rewriting between the server's and the local form, fed with what a hostile server or a
// damaged listing can name. No input may crash it, and no path the transfer loops accept may
// lie outside the folder it was joined to.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/TransferLoopPaths.h"

namespace {

const std::string kFolder = "/srv/velmora backup/local";
const std::string kRemoteRoot = "7.0/";

bool below(const std::string& path, const std::string& base) {
    std::string prefix = base;
    if (prefix.back() != '/')
        prefix += '/';
    return path.compare(0, prefix.size(), prefix) == 0 && !climbsOut(path);
}

void require(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (text.find('\0') != std::string::npos)
        return 0;

    // A download: the loop stores only where landsInItsPlace allows, and that is always below
    // the local folder (an empty name maps to the folder itself, which it refuses).
    const std::string local = localPathForRemote(text, kRemoteRoot, kFolder);
    require(!landsInItsPlace(local, kFolder, true) || below(local, kFolder));
    require(!landsInItsPlace(local, kFolder, false) || below(local, kFolder));
    // A name without ".." components never needs that refusal.
    if (!climbsOut(text))
        require(below(localPathForRemote(kRemoteRoot + "access2/" + text, kRemoteRoot, kFolder),
                      kFolder));

    // A restore: a file below the folder goes below the server's data root.
    if (!climbsOut(text)) {
        const std::string remote = remotePathForLocal(kFolder + "/" + text, kFolder, kRemoteRoot);
        require(remote.compare(0, kRemoteRoot.size(), kRemoteRoot) == 0 && !climbsOut(remote));
    }

    // A listed path is either refused or names a file below the folder.
    if (const auto listed = localPathForListed(text, kFolder))
        require(below(*listed, kFolder));
    return 0;
}
