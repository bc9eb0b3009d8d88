// SPDX-License-Identifier: MIT
// `tuvello play`: a song text on the default sound device through ALSA.
#include <alsa/asoundlib.h>
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "command.hpp"
#include "import.hpp"
#include "report.hpp"
#include "tuvello.h"

namespace tuvello::cli {
namespace {

constexpr const char* kDevice = "default";
constexpr unsigned kLatencyMicroseconds = 200000;
constexpr snd_pcm_uframes_t kPeriodFrames = 2048;
constexpr unsigned kChannels = 1;  // the song image: 16-bit mono

volatile sig_atomic_t interrupted = 0;

extern "C" void note_interrupt(int) { interrupted = 1; }

// SIGINT interrupts a blocked write (no SA_RESTART) and only sets a flag, so
// that the device is stopped and closed before the tool dies of the signal.
class InterruptFlag {
 public:
  InterruptFlag() {
    struct sigaction action {};
    action.sa_handler = note_interrupt;
    sigemptyset(&action.sa_mask);
    ignored_ = ::sigaction(SIGINT, nullptr, &old_) == 0 && old_.sa_handler == SIG_IGN;
    if (!ignored_) ::sigaction(SIGINT, &action, nullptr);
  }
  ~InterruptFlag() {
    if (!ignored_) ::sigaction(SIGINT, &old_, nullptr);
  }
  InterruptFlag(const InterruptFlag&) = delete;
  InterruptFlag& operator=(const InterruptFlag&) = delete;

 private:
  struct sigaction old_ {};
  bool ignored_ = false;
};

// ALSA's library prints its own errors on standard error, several lines
// for one missing device; the tool says once what went wrong instead.
extern "C" void keep_quiet(const char*, int, const char*, int, const char*, ...) {}

constexpr const char* kHint =
    "tuvello play: to hear the song without a sound device here, write it to a file "
    "(tuvello render ... -o song.wav) or pipe it to a player (tuvello render ... | aplay)\n";

int device_error(const char* what, int error) {
  std::fprintf(stderr, "tuvello play: %s the sound device '%s': %s\n", what, kDevice,
               snd_strerror(error));
  return 1;
}

// Writes all frames, recovering from underruns. Returns 0, or a negative
// ALSA error; -EINTR once SIGINT has arrived.
int write_frames(snd_pcm_t* pcm, const std::uint8_t* data, snd_pcm_uframes_t frames) {
  while (frames > 0) {
    if (interrupted) return -EINTR;
    const snd_pcm_uframes_t chunk = frames < kPeriodFrames ? frames : kPeriodFrames;
    snd_pcm_sframes_t n = snd_pcm_writei(pcm, data, chunk);
    if (n < 0) {
      if (n == -EINTR && interrupted) return -EINTR;
      n = snd_pcm_recover(pcm, static_cast<int>(n), 1);
      if (n < 0) return static_cast<int>(n);
      continue;
    }
    data += static_cast<std::size_t>(n) * 2;
    frames -= static_cast<snd_pcm_uframes_t>(n);
  }
  return 0;
}

// Closes a reader however playing ends.
struct ReaderCloser {
  TUVELLO_SongReader* reader;
  ~ReaderCloser() { TUVELLO_CloseSong(reader); }
};

// Plays the song image of `text` on ALSA's "default" device as a song reader
// renders it, period by period, and returns once the device has played all of
// it: 0. A song too long for an image, no memory, or a missing, busy or
// failing device is reported on standard error: 1. SIGINT stops the sound at
// once; the tool then dies of it.
int play_song(const char* text) {
  // The reader synthesizes the image as it is read: a few KiB whatever the
  // song's length, never the whole image.
  TUVELLO_SongReader* const reader = TUVELLO_OpenSong(text);
  if (reader == nullptr) {
    if (TUVELLO_MeasureSong(text) < 0) {
      std::fputs("tuvello play: the song's image would pass 2147483647 bytes; nothing played\n",
                 stderr);
    } else {
      std::fputs("tuvello play: out of memory\n", stderr);
    }
    return 1;
  }
  const ReaderCloser closer{reader};
  TUVELLO_SeekSong(reader, TUVELLO_HEADER_BYTES);  // the device takes the samples alone

  interrupted = 0;
  const InterruptFlag flag;
  snd_pcm_t* pcm = nullptr;
  // Opened without waiting, so that a device in use is reported, not waited for.
  snd_lib_error_set_handler(keep_quiet);
  int err = snd_pcm_open(&pcm, kDevice, SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
  if (err == -EBUSY) {
    std::fprintf(stderr,
                 "tuvello play: the sound device '%s' is busy (another program is using it)\n",
                 kDevice);
    return 1;
  }
  if (err == -ENOENT || err == -ENODEV || err == -ENXIO || err == -EINVAL) {
    std::fprintf(stderr, "tuvello play: no sound device: ALSA's '%s' cannot be opened (%s)\n",
                 kDevice, snd_strerror(err));
    std::fputs(kHint, stderr);
    return 1;
  }
  if (err < 0) {
    device_error("cannot open", err);
    std::fputs(kHint, stderr);
    return 1;
  }
  err = snd_pcm_nonblock(pcm, 0);
  if (err >= 0) {
    err = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, kChannels,
                             TUVELLO_SAMPLE_RATE, 1, kLatencyMicroseconds);
  }
  if (err < 0) {
    snd_pcm_close(pcm);
    return device_error("cannot set up", err);
  }

  // Whole frames: the image's data chunk holds whole 16-bit frames.
  std::uint8_t buffer[kPeriodFrames * kChannels * 2];
  while (err == 0 && !interrupted) {
    const std::int32_t n = TUVELLO_ReadSong(reader, buffer, sizeof buffer);
    if (n <= 0) break;
    err = write_frames(pcm, buffer, static_cast<snd_pcm_uframes_t>(n) / 2);
  }
  if (err == 0 && !interrupted) {
    err = snd_pcm_drain(pcm);
    if (err == -EINTR && !interrupted) err = 0;
  }
  if (interrupted) {
    snd_pcm_drop(pcm);
    snd_pcm_close(pcm);
    std::fputs("tuvello play: stopped\n", stderr);
    ::signal(SIGINT, SIG_DFL);
    ::raise(SIGINT);
    return 130;  // only when SIGINT is ignored
  }
  snd_pcm_close(pcm);
  if (err < 0) return device_error("failed playing on", err);
  return 0;
}

int run(const Options& o, Input& in) {
  std::string song;
  if (in.midi) {
    if (const std::optional<int> failed = midi_to_song(o, "play", in, song)) return *failed;
  } else if (o.rtttl) {
    if (const std::optional<int> failed = ringtone_to_song(o, "play", INT32_MAX, in, song)) {
      return *failed;
    }
  }
  const std::size_t warnings = print_first_warnings(in.text, o.rtttl ? "<converted>" : in.source);
  if (o.strict && warnings > 0) return refuse_strict("play", warnings, "nothing played");
  const int status = play_song(in.text.data());
  if (status == kOk && !o.quiet) {
    std::fprintf(stderr, "played %s: %s%s\n", in.source.c_str(),
                 song_phrase(summarize_song(in.text)).c_str(), warnings_phrase(warnings).c_str());
  }
  return status;
}

constexpr OptionHelp kOptions[] = {
    {Opt::text, "the song text, e.g. 'len:200;c;e;g', or the name of a MIDI file"},
    {Opt::file,
     "read the song text from FILE (- for standard input); one final line break is dropped"},
    {Opt::quiet, "no summary line"},
    {Opt::strict, "play nothing and fail if 'tuvello check' would warn"},
    {Opt::rtttl,
     "the input is an RTTTL ringtone: play what 'tuvello import' makes of it (its warnings go to "
     "standard error)"},
    {Opt::octave_shift,
     "with --rtttl: how notes outside octaves 3 to 6 come into reach, as for 'tuvello import' "
     "(auto, the default; none; or N octaves)"},
    {Opt::midi, kMidiHelp},
    {Opt::track, kTrackHelp},
    {Opt::channel, kChannelHelp},
    {Opt::highest, kHighestHelp},
    {Opt::lowest, kLowestHelp},
    {Opt::first, kFirstHelp},
    {Opt::velocity, kVelocityHelp},
    {Opt::max_input, "refuse a song text longer than N bytes (K, M or G suffix; default 64M)"},
    {Opt::help, "show this help"},
    {Opt::version, "show the version"},
};

}  // namespace

const Command kPlayCommand = {
    "play",
    "play a song text on the default sound device",
    kOptions,
    R"(Plays a song text on the default sound device (ALSA's "default"), as it is
rendered, and returns once the device has played all of it. Without TEXT or -f
the text is read from standard input; when that is a terminal, the built-in
demo song is played. The song text's warnings, the first 10 of them, and a
summary line (notes, pauses, seconds, warnings) go to standard error. SIGINT
(Ctrl-C) stops the sound at once.)",
    R"(Exit status: 0 played; 1 no sound device, the device is busy or failed, out of
memory, or a warning under --strict; 2 usage error or unreadable input.)",
    run,
};

}  // namespace tuvello::cli
