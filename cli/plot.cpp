// SPDX-License-Identifier: MIT
#include "plot.hpp"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace tuvello::cli {
namespace {

constexpr double kBytesPerSecond = 44100.0;  // 22050 frames of one 16-bit sample
constexpr double kFramesPerSecond = 22050.0;
constexpr double kHeaderBytes = 44.0;
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

}  // namespace

std::optional<std::vector<TUVELLO_Note>> note_map(std::string_view text) {
  const std::string song(text.substr(0, text.find('\0')));
  std::vector<TUVELLO_Note> notes;
  const auto keep = [](const TUVELLO_Note* note, void* context) {
    static_cast<std::vector<TUVELLO_Note>*>(context)->push_back(*note);
    return 0;
  };
  if (TUVELLO_ForEachNote(song.c_str(), keep, &notes) < 0) return std::nullopt;
  return notes;
}

std::string plot_svg(const std::vector<TUVELLO_Note>& notes) {
  const double end =
      notes.empty() ? 0 : start_of(notes.back()) + notes.back().bytes / kBytesPerSecond;
  const double seconds = std::max(end, 0.001);
  const double width = std::clamp(std::round(seconds * kPixelsPerSecond), kMinWidth, kMaxWidth);
  const double height = kTop + kRollHeight + kGap + kEnvelopeHeight + kAxisHeight;
  const double plot_width = width - kLeft - kRight;
  const auto x = [&](double t) { return kLeft + t / seconds * plot_width; };

  // The pitch range: the notes' with a margin, or around middle C.
  double low = 48, high = 72;
  bool any_tone = false;
  for (const TUVELLO_Note& n : notes) {
    if (n.pitch_hz <= 0) continue;
    const double s = semitone(n.pitch_hz);
    low = any_tone ? std::min(low, s) : s;
    high = any_tone ? std::max(high, s) : s;
    any_tone = true;
  }
  if (any_tone) {
    low = std::floor(low) - 2;
    high = std::ceil(high) + 2;
  }
  const double row = kRollHeight / (high - low);
  const auto y = [&](double s) { return kTop + (high - s) / (high - low) * kRollHeight; };

  std::string out;
  out.reserve(4096 + notes.size() * 300);
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

  // The notes: each bar spans the frames that carry its tone.
  out += "<g class=\"roll\">\n";
  for (const TUVELLO_Note& n : notes) {
    if (n.pitch_hz <= 0) continue;
    const double x0 = x(start_of(n));
    const double w = std::max(1.0, x(sounding_end(n)) - x0);
    const double y0 = y(semitone(n.pitch_hz)) - row / 2;
    const bool pipe = (n.flags & TUVELLO_NOTE_PIPE) != 0;
    const bool decay = (n.flags & TUVELLO_NOTE_DECAY) != 0;
    append(out,
           "<g%s><rect class=\"note%s%s\" x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\" "
           "rx=\"2\" fill-opacity=\"%.3f\"><title>command %d: %.3f Hz, amplitude %d</title>"
           "</rect>",
           decay ? " mask=\"url(#decay)\"" : "", pipe ? " pipe" : "", decay ? " decay" : "", x0, y0,
           w, row, 0.35 + 0.65 * (n.amplitude / kMaxAmplitude), n.command, n.pitch_hz, n.amplitude);
    if (pipe) {
      append(out,
             "<rect x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\" fill=\"url(#hatch)\"/>",
             x0, y0, w, row);
    }
    out += "</g>\n";
    if (w >= 22) {
      append(out, "<text class=\"name\" x=\"%.2f\" y=\"%.2f\">%s</text>\n", x0 + 2, y0 - 2,
             note_name(n.pitch_hz).c_str());
    }
  }
  out += "</g>\n";

  // The amplitude envelope: a decaying note falls to nothing over its tone.
  const double envelope_top = kTop + kRollHeight + kGap;
  const auto ay = [&](double a) {
    return envelope_top + kEnvelopeHeight - a / kMaxAmplitude * kEnvelopeHeight;
  };
  out += "<polygon class=\"envelope\" points=\"";
  append(out, "%.2f,%.2f", x(0), ay(0));
  for (const TUVELLO_Note& n : notes) {
    const double a = n.amplitude;
    const double a1 = (n.flags & TUVELLO_NOTE_DECAY) != 0 ? 0 : a;
    append(out, " %.2f,%.2f %.2f,%.2f %.2f,%.2f %.2f,%.2f", x(start_of(n)), ay(0), x(start_of(n)),
           ay(a), x(sounding_end(n)), ay(a1), x(sounding_end(n)), ay(0));
  }
  append(out, " %.2f,%.2f\"/>\n", x(seconds), ay(0));
  out += "</svg>\n";
  return out;
}

}  // namespace tuvello::cli
