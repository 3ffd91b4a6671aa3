#include "source/LibavLog.h"

#include <cstdarg>
#include <string>

#include "General/Log.h"

extern "C" {
#include <libavutil/log.h>
}

namespace zel {

namespace {

void LibavLogLine(void* object, int level, const char* format, va_list args) {
  const int shown = LogVerbose() ? AV_LOG_VERBOSE : AV_LOG_ERROR;
  if (level > shown) return;
  // libav builds a line from several calls; it is written once it is whole.
  thread_local std::string pending;
  thread_local int printPrefix = 1;
  char part[1024];
  av_log_format_line2(object, level, format, args, part, sizeof part, &printPrefix);
  pending += part;
  if (pending.empty() || pending.back() != '\n') return;
  pending.pop_back();
  if (level <= AV_LOG_ERROR) {
    LogError(pending);
  } else {
    LogInfo(pending);
  }
  pending.clear();
}

}  // namespace

void InstallLibavLog() { av_log_set_callback(LibavLogLine); }

}  // namespace zel
