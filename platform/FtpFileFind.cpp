#include <cerrno>

#include "platform/Internet.h"
#include "platform/LastError.h"

namespace {

bool hasWildcards(const std::string& text) {
    return text.find_first_of("*?") != std::string::npos;
}

} // namespace

CFtpFileFind::CFtpFileFind(CFtpConnection* connection, std::uint32_t) : m_connection(connection) {}

CFtpFileFind::~CFtpFileFind() = default;

// A wildcard pattern lists its directory and filters the names here. A plain name lists its
// parent and looks for itself there, so that a directory is found as one entry rather than
// as its content.
bool CFtpFileFind::FindFile(const std::string& pattern, std::uint32_t) {
    SetResults({}, {});
    std::string directory = pattern;
    while (directory.size() > 1 && (directory.back() == '/' || directory.back() == '\\'))
        directory.pop_back();
    const auto separator = directory.find_last_of("/\\");
    std::string name = directory;
    if (separator != std::string::npos) {
        name = directory.substr(separator + 1);
        directory.resize(separator == 0 ? 1 : separator);
    } else {
        directory.clear();
    }
    if (name.empty()) {
        SetLastError(ENOENT);
        return false;
    }
    std::string root = directory;
    if (root.empty() && !m_connection->GetCurrentDirectory(root))
        return Fail("PWD: " + m_connection->GetLastResponse());

    std::vector<FtpListEntry> listed;
    if (!m_connection->List(directory, listed))
        return Fail("LIST: " + m_connection->GetLastResponse());
    std::vector<Entry> entries;
    const bool wildcard = hasWildcards(name);
    for (auto& item : listed)
        if (wildcard ? MatchesPattern(item.name, name, false) : item.name == name)
            entries.push_back({std::move(item.name), item.isDirectory, item.size});
    const bool any = !entries.empty();
    SetResults(std::move(root), std::move(entries),
               wildcard ? FindOutcome::Empty : FindOutcome::Missing);
    if (!any)
        SetLastError(ENOENT);
    return any;
}
