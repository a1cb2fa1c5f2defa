// The event log on this platform: syslog entries under the identity "vantor". When no system log
// daemon listens, the entries are dropped silently, as the event log's callers expect.
#include "base/platform/eventlog.h"

#include <syslog.h>

#include <string>

namespace vantor {

void WriteEventLog(std::string_view text, EventKind kind) {
  static const bool opened = (openlog("vantor", LOG_PID, LOG_USER), true);
  (void)opened;
  const std::string line(text);
  syslog(kind == EventKind::Error ? LOG_ERR : LOG_INFO, "%s", line.c_str());
}

}  // namespace vantor
