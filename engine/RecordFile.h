#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

// Fixed-width record files: little-endian 32-bit integers and strings stored with their
// terminating zero in records of one width, zero-filled. Every failure sets the thread's last
// error, so a caller only has to log it.
namespace recordfile {

// No path the system can name is longer; a wider record can only come from a damaged file.
inline constexpr std::int32_t kLongestPath = 4096;
inline constexpr std::int32_t kWidthMargin = 10;
inline constexpr std::int32_t kMaxWidth = kLongestPath + kWidthMargin;

// The width for strings of at most `longest` bytes; nullopt (ENAMETOOLONG) beyond kMaxWidth.
std::optional<std::int32_t> recordWidth(std::size_t longest);

// Whether `records` records of `width` after `headerBytes` bytes fit in `fileSize` bytes;
// false (EINVAL) for a width or count no writer produces.
bool layoutFits(std::int32_t width, std::int64_t records, std::int64_t headerBytes,
                std::int64_t fileSize);

// Writes a new file under a temporary name; only replace() makes it visible under the final
// one. A writer destroyed before replace() removes its temporary file. The whole file is
// gathered in memory and written with one call: a checkpoint of a long list costs one write
// and one sync, not one per buffer.
class Writer {
  public:
    explicit Writer(std::filesystem::path temporary);
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    // Room for the whole file, so that gathering it never copies it.
    void reserve(std::size_t bytes);
    bool putInt32(std::int32_t value);
    bool putRecord(const std::string& text, std::int32_t width);
    // Writes what was put, flushes it to the disk and closes the file.
    bool finish();
    // Renames the finished file over `target`.
    bool replace(const std::filesystem::path& target);

  private:
    bool flushBuffer();
    void discard();

    std::filesystem::path m_temporary;
    int m_fd = -1;
    bool m_finished = false;
    bool m_replaced = false;
    std::string m_buffer;
};

class Reader {
  public:
    explicit Reader(const std::filesystem::path& file);
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    std::int64_t size() const { return m_size; }
    // False (EIO) on a short read.
    bool getInt32(std::int32_t& value);
    // The record's text up to its zero; false (EIO) on a short read, (EINVAL) without a zero.
    bool getRecord(std::int32_t width, std::string& text);

  private:
    bool getBytes(char* target, std::size_t count);

    int m_fd = -1;
    std::int64_t m_size = 0;
    std::string m_buffer;
    std::size_t m_next = 0;
};

// Writes the 4-byte value at offset 0 of an existing file and flushes it to the disk.
// Sets `opened` when the file could be opened; never creates the file.
bool overwriteInt32AtStart(const std::filesystem::path& file, std::int32_t value, bool& opened);

} // namespace recordfile
