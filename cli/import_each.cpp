// SPDX-License-Identifier: MIT
// `tuvello import --each`: every ringtone of a collection, one a line, into a
// file of its own named after the tune, one tune at a time.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>

#include "import.hpp"
#include "io.hpp"
#include "options.hpp"
#include "output_file.hpp"
#include "report.hpp"
#include "tuvello.h"

namespace tuvello::cli {
namespace {

// Bytes of a tune's name in its file's name, before "-N" and the extension:
// far below any folder's NAME_MAX, whatever is added.
constexpr std::size_t kLongestName = 120;

// The lines of a file, one at a time: no more than the longest is held.
class LineReader {
 public:
  LineReader(int fd, std::size_t max_bytes) : fd_(fd), max_bytes_(max_bytes) {}

  enum class Got { line, too_long, end, failed };
  // The next line without its "\n", nor one "\r" before it. A line longer
  // than max_bytes is read past, not held: too_long. failed sets errno.
  Got next(std::string& line) {
    line.clear();
    bool seen = false;
    bool too_long = false;
    for (;;) {
      if (begin_ == end_) {
        if (eof_) break;
        const ssize_t n = ::read(fd_, buffer_, sizeof buffer_);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Got::failed;
        eof_ = n == 0;
        begin_ = 0;
        end_ = static_cast<std::size_t>(n);
        continue;
      }
      seen = true;
      const char* start = buffer_ + begin_;
      const auto* nl = static_cast<const char*>(std::memchr(start, '\n', end_ - begin_));
      const std::size_t n = nl == nullptr ? end_ - begin_ : static_cast<std::size_t>(nl - start);
      too_long = too_long || line.size() + n > max_bytes_;
      if (too_long) {
        line.clear();
      } else {
        line.append(start, n);
      }
      begin_ += n + (nl != nullptr ? 1 : 0);
      if (nl != nullptr) break;
    }
    if (!seen) return Got::end;
    ++number_;
    if (line.ends_with('\r')) line.pop_back();
    return too_long ? Got::too_long : Got::line;
  }
  std::size_t number() const { return number_; }

 private:
  int fd_;
  std::size_t max_bytes_;
  char buffer_[1 << 16];
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool eof_ = false;
  std::size_t number_ = 0;
};

// A line that holds no ringtone: blank, or a comment.
bool skipped(std::string_view line) {
  return line.starts_with('#') || line.find_first_not_of(" \t\r") == std::string_view::npos;
}

// The tune's name as the converter reads it in the ringtone.
std::string_view ringtone_name(const std::string& ringtone) {
  std::int64_t offset = 0;
  const std::int64_t length = TUVELLO_RtttlName(ringtone.c_str(), &offset);
  return std::string_view(ringtone).substr(static_cast<std::size_t>(offset),
                                           static_cast<std::size_t>(length));
}

// Length of the UTF-8 sequence of a printable character at s[0], or 0.
std::size_t printable_character(std::string_view s) {
  const auto b = [&s](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  if (b(0) >= 0x20 && b(0) < 0x7F) return 1;
  const std::size_t length = b(0) >= 0xC2 && b(0) <= 0xDF   ? 2
                             : b(0) >= 0xE0 && b(0) <= 0xEF ? 3
                             : b(0) >= 0xF0 && b(0) <= 0xF4 ? 4
                                                            : 0;
  if (length == 0 || s.size() < length) return 0;
  std::uint32_t code = b(0) & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((b(i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (b(i) & 0x3F);
  }
  const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return code < 0xA0 ? 0 : length;  // C1 controls
}

// A tune's name made fit for a file's: '/', control bytes and bytes that are
// not UTF-8 become '_'; blanks at either end, leading '.' and '-' go; at most
// kLongestName bytes, whole characters. Empty when nothing is left.
std::string safe_name(std::string_view name) {
  std::string out;
  while (!name.empty() && out.size() < kLongestName) {
    const std::size_t n = printable_character(name);
    const std::string_view c = n == 0 || name[0] == '/' ? "_" : name.substr(0, n);
    if (out.size() + c.size() > kLongestName) break;
    const bool leading = out.find_first_not_of(" ._-") == std::string::npos;
    if (!(leading && (c == " " || c == "." || c == "-"))) out += c;
    name.remove_prefix(n == 0 ? 1 : n);
  }
  while (out.ends_with(' ')) out.pop_back();
  return out;
}

struct Each {
  const Options& o;
  std::string source;     // the collection's name, escaped, for messages
  std::string directory;  // "" for the current folder, else ending in '/'
  const char* extension;
  TUVELLO_RtttlOptions options;
  // The next suffix to try for each name given so far (0: the bare name),
  // so that many tunes of one name cost one try each.
  std::unordered_map<std::string, std::size_t> next_suffix;
};

using SongReader = std::unique_ptr<TUVELLO_SongReader, decltype(&TUVELLO_CloseSong)>;

// Writes `song` (a song text, or the reader's image) as a new file named
// after `name`. Returns the path written, or nullopt after reporting a
// failure to write.
std::optional<std::string> write_new(Each& e, const std::string& name, const std::string& song,
                                     TUVELLO_SongReader* reader) {
  std::size_t& next = e.next_suffix[name];
  std::size_t suffix = next;
  const auto path = [&] {
    std::string p = e.directory + name;
    if (suffix != 0) p.append("-").append(std::to_string(suffix));
    return p.append(e.extension);
  };
  OutputFile file;
  std::optional<std::string> error = file.open_new(path());
  const auto put = [&](const void* bytes, std::size_t size) {
    if (!error && !file.write(static_cast<const std::uint8_t*>(bytes), size)) {
      error = "cannot write '" + escape_name(path()) + "': " + std::strerror(errno);
    }
  };
  if (reader == nullptr) {
    put(song.data(), song.size());
    put("\n", 1);
  }
  static std::uint8_t buffer[1 << 16];
  while (reader != nullptr && !error) {
    const std::int32_t n = TUVELLO_ReadSong(reader, buffer, sizeof buffer);
    if (n <= 0) break;
    put(buffer, static_cast<std::size_t>(n));
  }
  // Never over a file already there: the next suffix until a name is free.
  for (bool taken = true; !error;) {
    error = file.commit_new(path(), &taken, false);
    if (!taken) break;
    suffix = suffix == 0 ? 2 : suffix + 1;
  }
  if (error) {
    std::fprintf(stderr, "tuvello import: %s\n", error->c_str());
    return std::nullopt;
  }
  next = suffix == 0 ? 2 : suffix + 1;
  return path();
}

enum class Tune { written, failed, stop };

Tune convert(Each& e, const std::string& ringtone, std::size_t line) {
  const std::string where = e.source + ":" + std::to_string(line);
  std::string name = safe_name(ringtone_name(ringtone));
  if (name.empty()) name = "tune-" + std::to_string(line);
  ConvertedRingtone song;
  if (e.o.wav) {
    RingtoneSong within = convert_ringtone_within(ringtone, e.source, e.options, INT32_MAX, line);
    if (within.too_long) {
      const std::string at =
          " at the ringtone's note at " + Locator(e.source, ringtone, line)(within.passes_at);
      std::fprintf(stderr, "tuvello import: %s: the song's image would pass %d bytes%s; %s\n",
                   where.c_str(), INT32_MAX, at.c_str(), "nothing written");
      return Tune::failed;
    }
    song = std::move(within.song);
  } else {
    song = convert_ringtone(ringtone, e.source, e.options, line);
  }
  if (e.o.strict && song.warnings > 0) {
    std::fprintf(stderr, "tuvello import: %s: %s; --strict: nothing written\n", where.c_str(),
                 plural(song.warnings, "warning").c_str());
    return Tune::failed;
  }
  SongReader reader(nullptr, TUVELLO_CloseSong);
  if (e.o.wav) {
    reader.reset(TUVELLO_OpenSong(song.text.c_str()));
    if (reader == nullptr) throw std::bad_alloc();
  }
  const std::optional<std::string> path = write_new(e, name, song.text, reader.get());
  if (!path) return Tune::stop;
  const std::string line_out = where + ": wrote " + escape_name(*path) + ": " +
                               song_phrase(summarize_song(song.text)) +
                               warnings_phrase(song.warnings);
  return print_line(line_out) ? Tune::written : Tune::stop;
}

}  // namespace

int import_each(const Options& o) {
  const bool from_stdin = *o.each == "-";
  Each e{o,
         from_stdin ? "<stdin>" : escape_name(*o.each),
         "",
         o.wav ? ".wav" : ".txt",
         rtttl_options(o),
         {}};
  if (o.directory) {
    struct stat st {};
    if (::stat(o.directory->c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      std::fprintf(stderr, "tuvello import: the folder '%s' %s\n",
                   escape_name(*o.directory).c_str(),
                   errno == ENOENT ? "does not exist" : "is not a folder");
      return kUsage;
    }
    e.directory = *o.directory;
    if (!e.directory.ends_with('/')) e.directory += '/';
  }
  const int fd =
      from_stdin ? STDIN_FILENO : ::open(o.each->c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    if (fd >= 0 && S_ISDIR(st.st_mode)) errno = EISDIR;
    std::fprintf(stderr, "tuvello import: cannot read '%s': %s\n", e.source.c_str(),
                 std::strerror(errno));
    if (fd > STDIN_FILENO) ::close(fd);
    return kUsage;
  }
  auto reader = std::make_unique<LineReader>(fd, o.max_input);
  std::string line;
  std::size_t tunes = 0;
  std::size_t failed = 0;
  bool stopped = false;
  for (LineReader::Got got; !stopped && (got = reader->next(line)) != LineReader::Got::end;) {
    const std::string where = e.source + ":" + std::to_string(reader->number());
    if (got == LineReader::Got::failed) {
      std::fprintf(stderr, "tuvello import: cannot read %s: %s\n", where.c_str(),
                   std::strerror(errno));
      ++failed;
      break;
    }
    if (got == LineReader::Got::line && skipped(line)) continue;
    ++tunes;
    if (got == LineReader::Got::too_long) {
      std::fprintf(stderr,
                   "tuvello import: %s: the ringtone is longer than %zu bytes; raise --max-input "
                   "to read it; nothing written\n",
                   where.c_str(), o.max_input);
      ++failed;
      continue;
    }
    try {
      const Tune tune = convert(e, line, reader->number());
      failed += tune != Tune::written ? 1 : 0;
      stopped = tune == Tune::stop;
    } catch (const std::bad_alloc&) {
      std::fprintf(stderr, "tuvello import: %s: out of memory; nothing written\n", where.c_str());
      ++failed;
    }
  }
  if (!from_stdin) ::close(fd);
  // Each file was synced before it was named; the names are synced once.
  if (const std::optional<std::string> error = sync_folder_of(e.directory + ".")) {
    std::fprintf(stderr, "tuvello import: %s\n", error->c_str());
    ++failed;
  }
  if (!finish_stdout()) return write_failed("import");
  if (stopped) {
    std::fprintf(stderr, "tuvello import: stopped at %s:%zu; the tunes after it are not read\n",
                 e.source.c_str(), reader->number());
  }
  if (failed > 0) {
    std::fprintf(stderr, "tuvello import: %zu of %s not converted\n", failed,
                 plural(tunes, "tune").c_str());
  }
  return failed > 0 ? kFailed : kOk;
}

}  // namespace tuvello::cli
