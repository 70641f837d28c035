#include "platform/LocalFind.h"

#include <cctype>

namespace {

bool sameChar(char a, char b, bool ignoreCase) {
    if (!ignoreCase)
        return a == b;
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
}

} // namespace

// Iterative matching with one backtrack point: linear in practice and no recursion depth a
// hostile name could exhaust.
bool MatchesPattern(const std::string& name, const std::string& pattern, bool ignoreCase) {
    if (pattern == "*.*")
        return true;
    std::size_t n = 0, p = 0;
    std::size_t starPattern = std::string::npos, starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starPattern = p++;
            starName = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || sameChar(pattern[p], name[n], ignoreCase))) {
            ++p;
            ++n;
        } else if (starPattern != std::string::npos) {
            p = starPattern + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}
