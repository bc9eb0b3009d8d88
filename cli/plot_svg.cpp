// SPDX-License-Identifier: MIT
// The picture of a song for tuvello plot (plot.hpp).
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <utility>
#include <vector>

#include "plot.hpp"
#include "tuvello.h"

namespace tuvello::cli {
namespace {

constexpr double kBytesPerSecond = TUVELLO_BYTE_RATE;
constexpr double kFramesPerSecond = TUVELLO_SAMPLE_RATE;
constexpr double kHeaderBytes = TUVELLO_HEADER_BYTES;
constexpr double kMaxAmplitude = 32767.0;

// The picture's frame, in SVG user units (pixels).
constexpr double kLeft = 44, kRight = 8, kTop = 24, kRollHeight = 200, kGap = 14;
constexpr double kEnvelopeHeight = 48, kAxisHeight = 22;
constexpr double kPixelsPerSecond = 200, kMinWidth = 800, kMaxWidth = 6000;

// Semitones in MIDI numbering: 69 is the A at 440 Hz, 60 middle C.
double semitone(double hz) { return 69 + 12 * std::log2(hz / 440); }

std::string note_name(double hz) {
  static constexpr const char* kNames[] = {"C",  "C#", "D",  "D#", "E",  "F",
                                           "F#", "G",  "G#", "A",  "A#", "B"};
  const auto s = static_cast<long>(std::lround(semitone(hz)));
  const long octave = (s >= 0 ? s / 12 : (s - 11) / 12) - 1;
  return kNames[((s % 12) + 12) % 12] + std::to_string(octave);
}

// At most about ten ticks on the time axis.
double time_step(double seconds) {
  for (const double step : {0.1, 0.2, 0.5, 1.0, 2.0, 5.0, 10.0, 15.0, 30.0, 60.0, 120.0, 300.0}) {
    if (seconds / step <= 10) return step;
  }
  return std::ceil(seconds / 10 / 600) * 600;
}

[[gnu::format(printf, 2, 3)]] void append(std::string& out, const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  out.append(buffer, static_cast<std::size_t>(std::clamp(n, 0, int{sizeof buffer} - 1)));
}

double start_of(const TUVELLO_Note& n) {
  return (static_cast<double>(n.image_offset) - kHeaderBytes) / kBytesPerSecond;
}
double sounding_end(const TUVELLO_Note& n) { return start_of(n) + n.frames / kFramesPerSecond; }

// What the first walk over the notes finds: the picture's extent.
struct Extent {
  double end = 0;  // seconds
  double low = 0, high = 0;
  bool any_tone = false;
  std::size_t tones = 0, pauses = 0;
};

int measure_note(const TUVELLO_Note* n, void* context) {
  auto& e = *static_cast<Extent*>(context);
  e.end = start_of(*n) + n->bytes / kBytesPerSecond;
  if (n->pitch_hz <= 0) {
    ++e.pauses;
    return 0;
  }
  ++e.tones;
  const double s = semitone(n->pitch_hz);
  e.low = e.any_tone ? std::min(e.low, s) : s;
  e.high = e.any_tone ? std::max(e.high, s) : s;
  e.any_tone = true;
  return 0;
}

// The second walk: the roll's bars and the envelope, as the notes come. The
// bars are where the playground puts them (web/page/roll.js; both are held to
// tests/data/piano_roll/roll.json): a note at least a pixel wide is a bar of
// its own; a narrower one joins the bar of narrow notes on its pixel row that
// ends less than a pixel before it, so that their number follows the
// picture's pixels rather than the song's notes.
class Painter {
 public:
  Painter(double seconds, double plot_width, double low, double high)
      : seconds_(seconds),
        plot_width_(plot_width),
        low_(low),
        high_(high),
        row_(kRollHeight / (high - low)) {
    envelope_ = "<polygon class=\"envelope\" points=\"";
    append(envelope_, "%.2f,%.2f", x(0), ay(0));
  }

  double x(double t) const { return kLeft + t / seconds_ * plot_width_; }
  double y(double s) const { return kTop + (high_ - s) / (high_ - low_) * kRollHeight; }

  void note(const TUVELLO_Note& n) {
    const double x0 = x(start_of(n));
    const double x1 = x(sounding_end(n));
    if (n.pitch_hz > 0) place(n, x0, x1);
    if (x1 - x0 >= 1) {
      flush();
      envelope(n, x0, x1);
      return;
    }
    // Narrow notes gather until they span a pixel.
    if (run_.notes == 0) {
      run_ = Run{};
      run_.x0 = x0;
    }
    ++run_.notes;
    run_.x1 = x1;
    if (n.pitch_hz > 0) run_.amplitude = std::max(run_.amplitude, n.amplitude);
    if (run_.x1 - run_.x0 >= 1) flush();
  }

  // Appends the roll's bars and the envelope polygon, once every note is
  // painted.
  void finish(std::string& out) {
    flush();
    append(envelope_, " %.2f,%.2f\"/>\n", x(seconds_), ay(0));
    out += "<g class=\"roll\">\n";
    for (const Bar& b : bars_) draw(out, b);
    out += "</g>\n";
    out += envelope_;
  }

  // Set when painting failed (out of memory): the library, built without
  // exceptions, must not see one.
  std::exception_ptr failure;

 private:
  struct Run {
    std::size_t notes = 0;
    double x0 = 0, x1 = 0;
    std::int32_t amplitude = 0;
  };
  struct Bar {
    double semitone = 0, hz = 0, x0 = 0, x1 = 0, end = 0;
    std::int32_t amplitude = 0, first = 0, last = 0;
    std::size_t notes = 1;
    bool pipe = false, decay = false;
  };

  static double ay(double a) {
    return kTop + kRollHeight + kGap + kEnvelopeHeight - a / kMaxAmplitude * kEnvelopeHeight;
  }
  static double opacity(std::int32_t amplitude) {
    return 0.35 + 0.65 * (amplitude / kMaxAmplitude);
  }

  void place(const TUVELLO_Note& n, double x0, double x1) {
    const double s = semitone(n.pitch_hz);
    const bool narrow = x1 - x0 < 1;
    const auto row = static_cast<long>(std::floor(y(s) + 0.5));
    const bool pipe = (n.flags & TUVELLO_NOTE_PIPE) != 0;
    const bool decay = (n.flags & TUVELLO_NOTE_DECAY) != 0;
    if (narrow) {
      const auto open = merging_.find(row);
      if (open != merging_.end() && x0 - bars_[open->second].end < 1) {
        Bar& b = bars_[open->second];
        b.end = std::max(b.end, x1);
        b.x1 = std::max(b.x1, x1);
        b.amplitude = std::max(b.amplitude, n.amplitude);
        b.pipe = b.pipe && pipe;
        b.decay = b.decay && decay;
        b.last = n.command;
        ++b.notes;
        return;
      }
    }
    bars_.push_back(Bar{s, n.pitch_hz, x0, std::max(x1, x0 + 1), x1, n.amplitude, n.command,
                        n.command, 1, pipe, decay});
    if (narrow) merging_[row] = bars_.size() - 1;
  }

  // The amplitude envelope: a decaying note falls to nothing over its tone.
  void envelope(const TUVELLO_Note& n, double x0, double x1) {
    const double a = n.amplitude;
    const bool decay = (n.flags & TUVELLO_NOTE_DECAY) != 0;
    append(envelope_, " %.2f,%.2f %.2f,%.2f %.2f,%.2f %.2f,%.2f", x0, ay(0), x0, ay(a), x1,
           ay(decay ? 0 : a), x1, ay(0));
  }

  void draw(std::string& out, const Bar& b) const {
    const double w = b.x1 - b.x0;
    const double y0 = y(b.semitone) - row_ / 2;
    append(out, "<g%s><rect class=\"note%s%s%s\" x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" ",
           b.decay ? " mask=\"url(#decay)\"" : "", b.notes > 1 ? " merged" : "",
           b.pipe ? " pipe" : "", b.decay ? " decay" : "", b.x0, y0, w);
    append(out, "height=\"%.2f\" rx=\"2\" fill-opacity=\"%.3f\">", row_, opacity(b.amplitude));
    if (b.notes > 1) {
      append(out, "<title>commands %d to %d: %zu notes</title></rect>", b.first, b.last, b.notes);
    } else {
      append(out, "<title>command %d: %.3f Hz, amplitude %d</title></rect>", b.first, b.hz,
             b.amplitude);
    }
    if (b.pipe) {
      append(out,
             "<rect x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\" fill=\"url(#hatch)\"/>",
             b.x0, y0, w, row_);
    }
    out += "</g>\n";
    if (b.notes == 1 && w >= 22) {
      append(out, "<text class=\"name\" x=\"%.2f\" y=\"%.2f\">%s</text>\n", b.x0 + 2, y0 - 2,
             note_name(b.hz).c_str());
    }
  }

  // A run of narrow notes: one step of the envelope at their loudest.
  void flush() {
    if (run_.notes == 0) return;
    const Run r = run_;
    run_.notes = 0;
    append(envelope_, " %.2f,%.2f %.2f,%.2f %.2f,%.2f %.2f,%.2f", r.x0, ay(0), r.x0,
           ay(r.amplitude), r.x1, ay(r.amplitude), r.x1, ay(0));
  }

  double seconds_, plot_width_, low_, high_, row_;
  Run run_;
  std::vector<Bar> bars_;
  std::map<long, std::size_t> merging_;  // pixel row -> the bar of narrow notes that may grow
  std::string envelope_;
};

int paint_note(const TUVELLO_Note* n, void* context) noexcept {
  auto& painter = *static_cast<Painter*>(context);
  try {
    painter.note(*n);
  } catch (...) {
    painter.failure = std::current_exception();
    return 1;
  }
  return 0;
}

}  // namespace

std::optional<Plot> plot_song(std::string_view text) {
  Extent e;
  if (TUVELLO_ForEachNote(text.data(), measure_note, &e) < 0) return std::nullopt;
  Plot plot;
  plot.tones = e.tones;
  plot.pauses = e.pauses;
  plot.seconds = e.end;
  const double seconds = std::max(e.end, 0.001);
  const double width = std::clamp(std::round(seconds * kPixelsPerSecond), kMinWidth, kMaxWidth);
  const double height = kTop + kRollHeight + kGap + kEnvelopeHeight + kAxisHeight;
  const double plot_width = width - kLeft - kRight;

  // The pitch range: the notes' with a margin, or around middle C.
  double low = 48, high = 72;
  if (e.any_tone) {
    low = std::floor(e.low) - 2;
    high = std::ceil(e.high) + 2;
  }
  Painter painter(seconds, plot_width, low, high);
  const auto x = [&](double t) { return painter.x(t); };
  const auto y = [&](double s) { return painter.y(s); };

  std::string out;
  append(out,
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 %.0f %.0f\" width=\"%.0f\" "
         "height=\"%.0f\">\n",
         width, height, width, height);
  out +=
      "<style>\n"
      "text { font: 11px sans-serif; fill: #5b6473; }\n"
      ".grid { stroke: #eef1f5; }\n"
      ".note { fill: #1f6feb; }\n"
      ".note.pipe { fill: #8250df; }\n"
      ".name { font-size: 10px; fill: #1d2430; }\n"
      ".envelope { fill: #1f6feb; fill-opacity: 0.15; stroke: #1f6feb; }\n"
      "</style>\n"
      "<defs>\n"
      "<linearGradient id=\"fade\"><stop offset=\"0\" stop-color=\"#fff\" stop-opacity=\"1\"/>"
      "<stop offset=\"1\" stop-color=\"#fff\" stop-opacity=\"0.1\"/></linearGradient>\n"
      "<mask id=\"decay\" maskContentUnits=\"objectBoundingBox\"><rect width=\"1\" height=\"1\" "
      "fill=\"url(#fade)\"/></mask>\n"
      "<pattern id=\"hatch\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\" "
      "patternTransform=\"rotate(45)\"><line x1=\"0\" y1=\"0\" x2=\"0\" y2=\"6\" stroke=\"#fff\" "
      "stroke-width=\"2\" stroke-opacity=\"0.7\"/></pattern>\n"
      "</defs>\n";
  append(out, "<rect width=\"%.0f\" height=\"%.0f\" fill=\"#fff\"/>\n", width, height);
  // What the marks mean, above the roll's right end.
  const double legend = width - kRight - 150;
  append(out,
         "<g class=\"legend\"><rect class=\"note pipe\" x=\"%.0f\" y=\"6\" width=\"24\" "
         "height=\"10\" rx=\"2\"/><rect x=\"%.0f\" y=\"6\" width=\"24\" height=\"10\" "
         "fill=\"url(#hatch)\"/><text x=\"%.0f\" y=\"15\">pipe</text><g mask=\"url(#decay)\">"
         "<rect class=\"note\" x=\"%.0f\" y=\"6\" width=\"24\" height=\"10\" rx=\"2\"/></g>"
         "<text x=\"%.0f\" y=\"15\">decay</text></g>\n",
         legend, legend, legend + 29, legend + 70, legend + 99);

  // Axes: a line at every C, and the time in seconds.
  const double axis_y = kTop + kRollHeight + kGap + kEnvelopeHeight;
  out += "<g class=\"axis\">\n";
  for (long s = static_cast<long>(std::ceil(low)); s <= static_cast<long>(high); ++s) {
    if (((s % 12) + 12) % 12 != 0) continue;
    append(out, "<line class=\"grid\" x1=\"%.0f\" x2=\"%.0f\" y1=\"%.2f\" y2=\"%.2f\"/>\n", kLeft,
           width - kRight, y(s), y(s));
    append(out, "<text x=\"%.0f\" y=\"%.2f\" text-anchor=\"end\">C%ld</text>\n", kLeft - 6,
           y(s) + 4, (s >= 0 ? s / 12 : (s - 11) / 12) - 1);
  }
  const double step = time_step(seconds);
  for (int i = 0; i * step <= seconds + 1e-9; ++i) {
    const double t = i * step;
    append(out, "<line class=\"grid\" x1=\"%.2f\" x2=\"%.2f\" y1=\"%.0f\" y2=\"%.0f\"/>\n", x(t),
           x(t), kTop, axis_y);
    // The last label ends at the right edge rather than past it.
    append(out, "<text x=\"%.2f\" y=\"%.0f\" text-anchor=\"%s\">%g s</text>\n", x(t), axis_y + 15,
           x(t) > width - kRight - 16 ? "end" : "middle", std::round(t * 10) / 10);
  }
  append(out, "<text x=\"%.0f\" y=\"%.0f\" text-anchor=\"end\">amp</text>\n", kLeft - 6,
         kTop + kRollHeight + kGap + 12);
  out += "</g>\n";

  TUVELLO_ForEachNote(text.data(), paint_note, &painter);
  if (painter.failure) std::rethrow_exception(painter.failure);
  painter.finish(out);
  out += "</svg>\n";
  plot.svg = std::move(out);
  return plot;
}

}  // namespace tuvello::cli
