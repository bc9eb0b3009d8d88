// Reading song texts and writing song images for the command-line tool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tuvello::cli {

// All bytes from a file descriptor; nullopt (errno set) when reading fails.
std::optional<std::string> read_all(int fd);

// All bytes of a file; nullopt (errno set) when it cannot be read.
std::optional<std::string> read_file(const std::string& path);

// Drops one "\n" or "\r\n" from the end of `text`: the line end that editors
// add after the last line of a file.
void drop_final_line_break(std::string& text);

// Writes all `size` bytes to `fd`. Returns false (errno set) on failure.
bool write_all(int fd, const std::uint8_t* data, std::size_t size);

// Whether `path` names a terminal, where a WAV image is of no use.
bool names_a_terminal(const std::string& path);

// Writes `data` to `path` completely or not at all: into a temporary file
// beside it, then renamed over it, so readers and an existing file never see a
// partial image. A symbolic link is followed and its target replaced; a path
// that names a device or a pipe is written directly. Returns an error message,
// or nullopt on success.
std::optional<std::string> write_file_atomically(const std::string& path, const std::uint8_t* data,
                                                 std::size_t size);

}  // namespace tuvello::cli
