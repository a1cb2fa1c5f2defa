// Error messages: the ⎕EM text of every error number and the ⎕EM function. (The extended messages
// that ⎕DMX draws its second-level message from are in base/messages.h.)
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "primitives/dispatch.h"

namespace vantor {

// The ⎕EM text of an error number. Numbers without a message of their own give "ERROR n"; 101 to 199
// give "FILE ERROR n text" for the run-time library's error n-100; 76 depends on the current errno.
// Every text is cut to 127 characters.
std::u32string ErrorMessage(uint32_t errorNumber);
inline constexpr size_t kErrorMessageLimit = 127;

// ⎕EM: the message of each error number in the right argument (a character vector for a scalar,
// otherwise a nested array of the argument's shape). DOMAIN ERROR for anything but non-negative
// integers.
CallResult QuadEM(const Ref& left, const Ref& right);

}  // namespace vantor
