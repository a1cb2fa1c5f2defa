// Message boxes. An interactive process asks on the terminal; otherwise the text of every box goes
// to standard error as one line and a question takes its default answer.
#pragma once
#include <string_view>

namespace vantor {

enum class BoxKind { Information, Error, YesNo };

// Shows a message box; returns true for "Yes" (or for an acknowledged information/error box).
// `defaultYes` is the answer a non-interactive process takes for a YesNo question.
bool ShowMessageBox(std::string_view text, std::string_view caption, BoxKind kind,
                    bool defaultYes = false);

}  // namespace vantor
