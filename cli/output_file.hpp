// SPDX-License-Identifier: MIT
// Writing a song image to a named file, by the rules the tool and the Python
// module share:
//
// - Symbolic links are followed to their final target, through chains of
//   links; a chain that ends at a missing name creates that name.
// - A regular file (or a new one) is replaced atomically: the image goes to a
//   temporary file beside the target, which is synced, renamed over it, and
//   the directory is synced. The old file's mode is kept, its owner and group
//   where permitted, never a set-user-ID or set-group-ID bit; a new file gets
//   the mode the umask leaves of 0666.
// - A device, a FIFO or a socket is written directly, never replaced.
// - The temporary name ("." + name + ".XXXXXX") is shortened to fit NAME_MAX.
// - A signal whose default action ends the process (SIGINT, SIGTERM, SIGHUP,
//   SIGQUIT, SIGUSR1, SIGALRM, real-time signals, ...) during a write removes
//   the temporary file before the tool dies of that signal
//   (install_cleanup_on_signals); so does an exception at any allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tuvello::cli {

// Where a name leads once its links are followed.
struct ResolvedPath {
  std::string path;  // the final target
  bool exists = false;
  bool regular = false;   // exists and is a regular file
  bool terminal = false;  // a character device that is a terminal
};

// Follows `path` through its symbolic links. Returns nullopt (errno set) when
// a link cannot be read, the chain loops (ELOOP), or a directory is named.
std::optional<ResolvedPath> resolve_output(const std::string& path);

// One image being written to a named file. Destroying it without commit()
// removes the temporary file and leaves the target as it was.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens the target of `path` for writing. Returns an error message (the
  // name escaped), or nullopt.
  std::optional<std::string> open(const std::string& path);
  // Appends bytes. Returns false (errno set) on failure.
  bool write(const std::uint8_t* data, std::size_t size);
  // Finishes: syncs and renames the temporary file over the target, or
  // closes a device. Returns an error message, or nullopt.
  std::optional<std::string> commit();

  // For a new file that must replace none: opens a temporary file beside
  // `path`, which links are not followed to. Returns an error message, or
  // nullopt.
  std::optional<std::string> open_new(const std::string& path);
  // Finishes a file opened by open_new: syncs it and gives it the name `path`
  // (in the same folder) only if nothing has that name yet. When something
  // has, sets *taken and keeps the temporary file for another name. The
  // folder is synced too unless `sync_folder` is false: for many files, the
  // caller syncs it once after them (sync_folder_of). Returns an error
  // message, or nullopt.
  std::optional<std::string> commit_new(const std::string& path, bool* taken,
                                        bool sync_folder = true);

 private:
  void abandon();
  // Makes the temporary file beside `target_` (`path` names it in messages);
  // an error message, or nullopt.
  std::optional<std::string> make_temporary(const std::string& path);

  std::string shown_;   // the name given, for messages
  std::string target_;  // the file to replace
  std::string temp_;    // the temporary file, empty when writing directly
  int fd_ = -1;
  bool synced_ = false;  // open_new's file is synced and closed: only its name is left
};

// Writes all of `bytes` to `path` by the rules above: open, write, commit.
// Returns an error message, or nullopt.
std::optional<std::string> write_whole_file(const std::string& path, const void* bytes,
                                            std::size_t size);

// Syncs the folder of `path`, so that the names given in it last. Returns an
// error message, or nullopt.
std::optional<std::string> sync_folder_of(const std::string& path);

// Installs handlers for every signal whose default action ends the process
// that remove the temporary file being written, if any, and then let the
// signal end the tool as it would have (the handler found at start, such as a
// sanitizer's, runs then). Signals ignored when the tool starts stay ignored.
void install_cleanup_on_signals();

// Removes the temporary file being written, if any, with the calls a signal
// handler may make: for a tool that must end at once (memory gone even for an
// exception), leaving the target as it was.
void remove_pending_temp() noexcept;

}  // namespace tuvello::cli
