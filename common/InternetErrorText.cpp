#include "common/InternetErrorText.h"

#include <map>

namespace {

constexpr std::uint32_t kFirstInternetError = 12000;
constexpr std::uint32_t kLastInternetError = 12999;

const std::map<std::uint32_t, std::string>& internetTexts() {
    static const std::map<std::uint32_t, std::string> texts = {
        {12001, "No more connections could be opened."},
        {12002, "The server did not answer in time."},
        {12003, "The server refused a command."},
        {12004, "An internal error occurred in the connection."},
        {12007, "The server name could not be resolved."},
        {12013, "The server refused the user name."},
        {12014, "The server refused the password."},
        {12015, "The server refused the login."},
        {12017, "The operation was cancelled."},
        {12029, "No connection to the server could be made."},
        {12030, "The connection to the server was lost."},
        {12031, "The server reset the connection."},
        {12110, "A transfer was still in progress on the connection."},
        {12111, "The server closed the session."},
    };
    return texts;
}

} // namespace

std::optional<std::string> InternetErrorText(std::uint32_t code) {
    if (code < kFirstInternetError || code > kLastInternetError)
        return std::nullopt;
    const auto found = internetTexts().find(code);
    return found == internetTexts().end() ? "The connection to the server failed." : found->second;
}
