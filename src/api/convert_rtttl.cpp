// SPDX-License-Identifier: MIT
// The C interface of the ringtone conversions. Arguments are checked here.
#include <cstddef>
#include <cstring>

#include "import/rtttl.hpp"
#include "tuvello.h"

namespace {

namespace rtttl = tuvello::rtttl;

// Public kinds in the order of tuvello::rtttl::Problem.
constexpr std::int32_t kind_of(rtttl::Problem p) {
  return TUVELLO_WARN_RTTTL_SECTION + static_cast<std::int32_t>(p);
}
static_assert(kind_of(rtttl::Problem::too_long) == TUVELLO_WARN_RTTTL_TOO_LONG);
static_assert(kind_of(rtttl::Problem::length) == TUVELLO_WARN_EXPORT_LENGTH);
static_assert(kind_of(rtttl::Problem::pitch) == TUVELLO_WARN_EXPORT_PITCH);
static_assert(kind_of(rtttl::Problem::lost_setting) == TUVELLO_WARN_EXPORT_SETTING);
static_assert(kind_of(rtttl::Problem::shift) == TUVELLO_WARN_RTTTL_SHIFT);
static_assert(kind_of(rtttl::Problem::guess) == TUVELLO_WARN_RTTTL_GUESS);
static_assert(kind_of(rtttl::Problem::drift) == TUVELLO_WARN_RTTTL_DRIFT);
static_assert(kind_of(rtttl::Problem::split) == TUVELLO_WARN_RTTTL_SPLIT);
static_assert(kind_of(rtttl::Problem::too_short) == TUVELLO_WARN_RTTTL_TOO_SHORT);
static_assert(kind_of(rtttl::Problem::octave) == TUVELLO_WARN_RTTTL_OCTAVE);
static_assert(kind_of(rtttl::Problem::note) == TUVELLO_WARN_RTTTL_NOTE);
static_assert(kind_of(rtttl::Problem::number) == TUVELLO_WARN_RTTTL_NUMBER);
static_assert(kind_of(rtttl::Problem::setting) == TUVELLO_WARN_RTTTL_SETTING);

std::string_view text_of(const char* s) {
  return s == nullptr ? std::string_view{} : std::string_view{s};
}

// Passes each warning on to a C visitor.
class Visitor {
 public:
  Visitor(TUVELLO_WarningVisitor visit, void* context) : visit_(visit), context_(context) {}

  bool operator()(const rtttl::Warning& w) const {
    TUVELLO_Warning out;
    std::memset(&out, 0, sizeof out);
    out.struct_size = sizeof out;
    out.command = w.note;
    out.text_offset = static_cast<int64_t>(w.offset);
    out.text_length = static_cast<int64_t>(w.length);
    out.kind = kind_of(w.problem);
    out.message = w.message;
    return visit_(&out, context_) == 0;
  }

 private:
  TUVELLO_WarningVisitor visit_;
  void* context_;
};

bool bad_buffer(const char* out, int64_t capacity) {
  return capacity < 0 || (out == nullptr && capacity > 0);
}

// The options a caller's struct asks for; false for ones that make no sense.
bool read_options(const TUVELLO_RtttlOptions* given, rtttl::Options& options) {
  if (given == nullptr) return true;
  // Fields past struct_size are the caller's header's unknowns: defaults.
  constexpr std::size_t kLeast = offsetof(TUVELLO_RtttlOptions, octaves);
  if (given->struct_size < kLeast) return false;
  TUVELLO_RtttlOptions o;
  std::memset(&o, 0, sizeof o);
  const std::size_t given_bytes = given->struct_size < sizeof o ? given->struct_size : sizeof o;
  std::memcpy(&o, given, given_bytes);
  // A field the caller's struct holds only in part is not there either.
  if (given_bytes < offsetof(TUVELLO_RtttlOptions, max_image_bytes) + sizeof o.max_image_bytes) {
    o.max_image_bytes = 0;
  }
  if (o.max_image_bytes < 0 ||
      (o.max_image_bytes > 0 && o.max_image_bytes < TUVELLO_HEADER_BYTES)) {
    return false;
  }
  options.max_image_bytes = o.max_image_bytes;
  switch (o.octave_shift) {
    case TUVELLO_OCTAVE_SHIFT_AUTO:
      options.shift = rtttl::OctaveShift::automatic;
      return true;
    case TUVELLO_OCTAVE_SHIFT_NONE:
      options.shift = rtttl::OctaveShift::single;
      return true;
    case TUVELLO_OCTAVE_SHIFT_BY:
      if (o.octaves < -8 || o.octaves > 8) return false;
      options.shift = rtttl::OctaveShift::by;
      options.octaves = o.octaves;
      return true;
    default:
      return false;
  }
}

}  // namespace

extern "C" {

TUVELLO_API int64_t TUVELLO_ConvertRtttlEx(const char* rtttl, char* text, int64_t capacity,
                                           const TUVELLO_RtttlOptions* options,
                                           TUVELLO_WarningVisitor visit, void* context) {
  rtttl::Options chosen;
  if (bad_buffer(text, capacity) || !read_options(options, chosen)) return -1;
  const Visitor pass_on(visit, context);
  const rtttl::WarningSink sink = pass_on;
  return rtttl::convert(text_of(rtttl), text, capacity, chosen, visit == nullptr ? nullptr : &sink);
}

TUVELLO_API int64_t TUVELLO_ConvertRtttl(const char* rtttl, char* text, int64_t capacity,
                                         TUVELLO_WarningVisitor visit, void* context) {
  TUVELLO_RtttlOptions as_before;
  std::memset(&as_before, 0, sizeof as_before);
  as_before.struct_size = sizeof as_before;
  as_before.octave_shift = TUVELLO_OCTAVE_SHIFT_NONE;
  return TUVELLO_ConvertRtttlEx(rtttl, text, capacity, &as_before, visit, context);
}

TUVELLO_API int64_t TUVELLO_RtttlName(const char* rtttl, int64_t* offset) {
  if (rtttl == nullptr) return -1;
  const std::string_view ringtone(rtttl);
  const std::string_view name = rtttl::name_of(ringtone);
  if (offset != nullptr) *offset = name.empty() ? 0 : name.data() - ringtone.data();
  return static_cast<int64_t>(name.size());
}

TUVELLO_API int64_t TUVELLO_ExportRtttl(const char* text, const char* name, char* rtttl,
                                        int64_t capacity, TUVELLO_WarningVisitor visit,
                                        void* context) {
  if (bad_buffer(rtttl, capacity)) return -1;
  const Visitor pass_on(visit, context);
  const rtttl::WarningSink sink = pass_on;
  return rtttl::export_song(text_of(text), text_of(name), rtttl, capacity,
                            visit == nullptr ? nullptr : &sink);
}

}  // extern "C"
