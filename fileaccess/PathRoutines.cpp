#include "fileaccess/PathRoutines.h"

#include <algorithm>

namespace {

bool IsAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

constexpr const char* kSeparators = "/\\";

// "7.0/..." (length 3) or "7.0.1/..." (length 5) when the path starts with such a component
// followed by a separator; 0 otherwise.
std::size_t ReleasePrefixLength(const std::string& path) {
    const bool twoNumbers = path.size() > 3 && IsAsciiDigit(path[0]) && path[1] == '.' &&
                            IsAsciiDigit(path[2]) && IsSeparator(path[3]);
    if (twoNumbers)
        return 3;
    const bool threeNumbers = path.size() > 5 && IsAsciiDigit(path[0]) && path[1] == '.' &&
                              IsAsciiDigit(path[2]) && path[3] == '.' && IsAsciiDigit(path[4]) &&
                              IsSeparator(path[5]);
    return threeNumbers ? 5 : 0;
}

// Steps back from `from` while the position is past the first character and `keepGoing`
// holds for it; the result may be -1 when `from` already is.
long StepBack(const std::string& path, long from, bool (*keepGoing)(char)) {
    long pos = from;
    while (pos > 0 && keepGoing(path[static_cast<std::size_t>(pos)]))
        --pos;
    return pos;
}

bool IsNotSeparator(char c) {
    return !IsSeparator(c);
}

} // namespace

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

void ConvertSeparators(std::string& path, char separator) {
    if (separator == '/')
        std::replace(path.begin(), path.end(), '\\', '/');
    else
        std::replace(path.begin(), path.end(), '/', '\\');
}

bool StripTrailingSeparators(std::string& path) {
    const auto last = path.find_last_of(kSeparators);
    if (last == std::string::npos || last + 1 != path.size())
        return false;
    const long kept = StepBack(path, static_cast<long>(last) - 1, IsSeparator);
    path.resize(static_cast<std::size_t>(kept + 1));
    return true;
}

bool StripLeadingSeparator(std::string& path) {
    if (path.empty() || !IsSeparator(path.front()))
        return false;
    path.erase(0, 1);
    return true;
}

bool RemoveFileName(std::string& path) {
    const auto last = path.find_last_of(kSeparators);
    if (last == std::string::npos)
        return false;
    if (last + 1 != path.size()) {
        path.resize(last);
        return true;
    }
    const long kept = StepBack(path, static_cast<long>(last) - 1, IsNotSeparator);
    path.resize(static_cast<std::size_t>(kept + 1));
    return true;
}

bool StripRootPrefix(std::string& path) {
    if (const auto length = ReleasePrefixLength(path)) {
        path.erase(0, length);
        return true;
    }
    if (path.size() > 2 && IsAsciiLetter(path[0]) && path[1] == ':') {
        if (!IsSeparator(path[2]))
            return false;
        path.erase(0, 2);
        return true;
    }
    return false;
}

void MakeRelativePath(std::string& path, const std::string& base) {
    std::string prefix = base;
    const auto firstSeparator = path.find_first_of(kSeparators);
    if (firstSeparator != std::string::npos)
        ConvertSeparators(prefix, path[firstSeparator]);
    StripRootPrefix(prefix);
    StripRootPrefix(path);
    const bool prefixIsRoot = prefix.size() == 1 && IsSeparator(prefix[0]);
    if (!prefixIsRoot) {
        // A base that does not occur leaves the path whole rather than cutting at random.
        const auto found = path.find(prefix);
        if (found != std::string::npos)
            path.erase(0, found + prefix.size());
    }
    StripLeadingSeparator(path);
}

void JoinPath(std::string& result, char separator, std::initializer_list<std::string> pieces) {
    result.clear();
    bool endsInSeparator = false;
    auto piece = pieces.begin();
    if (piece != pieces.end()) {
        result = *piece;
        endsInSeparator = StripTrailingSeparators(result);
        const bool readMore = !piece->empty();
        // An empty piece is the terminator: it and whatever follows it are not joined.
        for (++piece; readMore && piece != pieces.end() && !piece->empty(); ++piece) {
            std::string next = *piece;
            StripLeadingSeparator(next);
            endsInSeparator = StripTrailingSeparators(next);
            result += separator;
            result += next;
            if (next.empty())
                break;
        }
    }
    if (endsInSeparator)
        result += '/';
    ConvertSeparators(result, separator);
}
