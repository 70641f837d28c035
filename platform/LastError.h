#pragma once

#include <cstdint>
#include <optional>
#include <string>

// One last-error value per thread, as the engine's failure records expect.
std::uint32_t GetLastError();
void SetLastError(std::uint32_t code);

// The words that came with the thread's last FTP failure: the server's reply for a refusal,
// the connection's trouble otherwise. Only meaningful while the last error is an internet
// code (12000-12999); local failures leave it as it was.
std::string GetLastErrorText();
void SetLastErrorText(std::string text);

// The internet library's error numbers, kept so that logs and messages read the same.
inline constexpr std::uint32_t ERROR_INTERNET_TIMEOUT = 12002;
inline constexpr std::uint32_t ERROR_INTERNET_EXTENDED_ERROR = 12003; // the server refused
inline constexpr std::uint32_t ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
inline constexpr std::uint32_t ERROR_INTERNET_INCORRECT_USER_NAME = 12013;
inline constexpr std::uint32_t ERROR_INTERNET_INCORRECT_PASSWORD = 12014;
inline constexpr std::uint32_t ERROR_INTERNET_LOGIN_FAILURE = 12015;
inline constexpr std::uint32_t ERROR_INTERNET_OPERATION_CANCELLED = 12017; // a stop was requested
inline constexpr std::uint32_t ERROR_INTERNET_CANNOT_CONNECT = 12029;
inline constexpr std::uint32_t ERROR_INTERNET_CONNECTION_ABORTED = 12030;
inline constexpr std::uint32_t ERROR_INTERNET_CONNECTION_RESET = 12031;

inline bool IsInternetError(std::uint32_t code) {
    return code >= 12000 && code <= 12999;
}

// The system's text for an error code, ending in "\n"; none for the internet range 12000-12999.
std::optional<std::string> SystemErrorText(std::uint32_t code);
