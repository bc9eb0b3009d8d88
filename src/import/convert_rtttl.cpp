// SPDX-License-Identifier: MIT
// The C interface of the ringtone import. Arguments are checked here.
#include <cstring>

#include "import/rtttl.hpp"
#include "tuvello.h"

namespace {

// Public kinds in the order of tuvello::rtttl::Problem.
constexpr std::int32_t kind_of(tuvello::rtttl::Problem p) {
  return TUVELLO_WARN_RTTTL_SECTION + static_cast<std::int32_t>(p);
}
static_assert(kind_of(tuvello::rtttl::Problem::drift) == TUVELLO_WARN_RTTTL_DRIFT);
static_assert(kind_of(tuvello::rtttl::Problem::split) == TUVELLO_WARN_RTTTL_SPLIT);
static_assert(kind_of(tuvello::rtttl::Problem::too_short) == TUVELLO_WARN_RTTTL_TOO_SHORT);
static_assert(kind_of(tuvello::rtttl::Problem::octave) == TUVELLO_WARN_RTTTL_OCTAVE);
static_assert(kind_of(tuvello::rtttl::Problem::note) == TUVELLO_WARN_RTTTL_NOTE);
static_assert(kind_of(tuvello::rtttl::Problem::number) == TUVELLO_WARN_RTTTL_NUMBER);
static_assert(kind_of(tuvello::rtttl::Problem::setting) == TUVELLO_WARN_RTTTL_SETTING);

}  // namespace

extern "C" {

TUVELLO_API int64_t TUVELLO_ConvertRtttl(const char* rtttl, char* text, int64_t capacity,
                                         TUVELLO_WarningVisitor visit, void* context) {
  if (capacity < 0 || (text == nullptr && capacity > 0)) return -1;
  const std::string_view ringtone = rtttl == nullptr ? std::string_view{} : std::string_view{rtttl};
  const auto pass_on = [visit, context](const tuvello::rtttl::Warning& w) {
    TUVELLO_Warning out;
    std::memset(&out, 0, sizeof out);
    out.struct_size = sizeof out;
    out.command = w.note;
    out.text_offset = static_cast<int64_t>(w.offset);
    out.text_length = static_cast<int64_t>(w.length);
    out.kind = kind_of(w.problem);
    out.message = w.message;
    return visit(&out, context) == 0;
  };
  const tuvello::rtttl::WarningSink sink = pass_on;
  return tuvello::rtttl::convert(ringtone, text, capacity, visit == nullptr ? nullptr : &sink);
}

}  // extern "C"
