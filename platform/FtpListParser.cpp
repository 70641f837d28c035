#include "platform/FtpListParser.h"

#include <array>
#include <cctype>
#include <charconv>
#include <optional>

namespace {

struct Token {
    std::string_view text;
    std::size_t end = 0; // offset just past the token in its line
};

std::vector<Token> tokens(std::string_view line, std::size_t count) {
    std::vector<Token> result;
    std::size_t position = 0;
    while (result.size() < count) {
        while (position < line.size() && (line[position] == ' ' || line[position] == '\t'))
            ++position;
        if (position == line.size())
            break;
        const std::size_t start = position;
        while (position < line.size() && line[position] != ' ' && line[position] != '\t')
            ++position;
        result.push_back({line.substr(start, position - start), position});
    }
    return result;
}

bool allDigits(std::string_view text) {
    if (text.empty())
        return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

std::optional<std::uint64_t> number(std::string_view text) {
    std::uint64_t value = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (!allDigits(text) || ec != std::errc() || ptr != text.data() + text.size())
        return std::nullopt;
    return value;
}

bool isMonth(std::string_view text) {
    static constexpr std::array<std::string_view, 12> months{
        "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
    if (text.size() != 3)
        return false;
    for (auto month : months) {
        bool same = true;
        for (std::size_t i = 0; i < 3; ++i)
            same = same && std::tolower(static_cast<unsigned char>(text[i])) == month[i];
        if (same)
            return true;
    }
    return false;
}

// "10:00" or "2023".
bool isTimeOrYear(std::string_view text) {
    if (text.size() == 4)
        return allDigits(text);
    const auto colon = text.find(':');
    return colon != std::string_view::npos && allDigits(text.substr(0, colon)) &&
           allDigits(text.substr(colon + 1));
}

// The name follows the time or year after exactly one blank, so leading blanks of a name stay.
std::string_view nameAfter(std::string_view line, std::size_t offset) {
    return offset + 1 < line.size() ? line.substr(offset + 1) : std::string_view{};
}

// perms links owner [group] size month day time-or-year name
std::optional<FtpListEntry> parseUnix(std::string_view line) {
    if (line.size() < 10)
        return std::nullopt;
    const char type = line[0];
    if (type != '-' && type != 'd' && type != 'l')
        return std::nullopt;
    const auto parts = tokens(line, 10);
    for (std::size_t month = 3; month + 2 < parts.size(); ++month) {
        if (!isMonth(parts[month].text) || !allDigits(parts[month + 1].text) ||
            !isTimeOrYear(parts[month + 2].text))
            continue;
        const auto size = number(parts[month - 1].text);
        if (!size)
            return std::nullopt;
        std::string_view name = nameAfter(line, parts[month + 2].end);
        if (type == 'l') {
            const auto arrow = name.find(" -> ");
            if (arrow != std::string_view::npos)
                name = name.substr(0, arrow);
        }
        return FtpListEntry{std::string(name), type == 'd', type == 'd' ? 0 : *size};
    }
    return std::nullopt;
}

// "01-02-23  10:00AM  <DIR>  name" or "01-02-2023  10:00PM  1234 name"
std::optional<FtpListEntry> parseDos(std::string_view line) {
    const auto parts = tokens(line, 3);
    if (parts.size() < 3)
        return std::nullopt;
    const auto date = parts[0].text;
    if (date.size() < 8 || date[2] != '-' || date[5] != '-' || !allDigits(date.substr(0, 2)))
        return std::nullopt;
    const auto time = parts[1].text;
    if (time.size() < 6 || time.find(':') == std::string_view::npos ||
        (!time.ends_with("AM") && !time.ends_with("PM") && !time.ends_with("am") &&
         !time.ends_with("pm")))
        return std::nullopt;
    std::size_t nameStart = parts[2].end;
    while (nameStart < line.size() && (line[nameStart] == ' ' || line[nameStart] == '\t'))
        ++nameStart;
    const std::string name(line.substr(nameStart));
    if (parts[2].text == "<DIR>")
        return FtpListEntry{name, true, 0};
    const auto size = number(parts[2].text);
    if (!size)
        return std::nullopt;
    return FtpListEntry{name, false, *size};
}

} // namespace

bool IsSafeListedName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\\\0\r\n", 5)) == std::string_view::npos;
}

std::vector<FtpListEntry> ParseListing(std::string_view listing) {
    std::vector<FtpListEntry> entries;
    while (!listing.empty()) {
        const auto end = listing.find('\n');
        std::string_view line = listing.substr(0, end);
        listing = end == std::string_view::npos ? std::string_view{} : listing.substr(end + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        auto entry = parseUnix(line);
        if (!entry)
            entry = parseDos(line);
        if (entry && IsSafeListedName(entry->name))
            entries.push_back(std::move(*entry));
    }
    return entries;
}
