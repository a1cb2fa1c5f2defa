// The event log: messages about the application that an administrator may need after the fact
// (start-up failures, a runtime application closed for using the session). On this platform they go
// to the system log.
#pragma once
#include <string_view>

namespace vantor {

enum class EventKind { Error, Information };

void WriteEventLog(std::string_view text, EventKind kind);

}  // namespace vantor
