// Message boxes on a terminal. An interactive process prints the caption and text on standard error
// and reads a question's answer from standard input; otherwise the text goes to standard error as
// one line and a question takes its default answer, so that unattended runs never wait.
#include "base/platform/msgbox.h"

#include <cstdio>
#include <string>

#include "base/startup.h"
#include "base/config.h"

namespace vantor {
namespace {

// The caption configured under Captions (MESSAGEBOX, else default), else the caller's.
std::string ChooseCaption(std::string_view callerCaption) {
  for (const char* name : {"Captions\\MESSAGEBOX", "Captions\\default"}) {
    if (const char* configured = ConfigLookup(name)) return configured;
  }
  return std::string(callerCaption);
}

// The text with each run of line breaks replaced by one blank and trailing blanks removed.
std::string OneLine(std::string_view text) {
  std::string line;
  bool inBreak = false;
  for (char c : text) {
    const bool isBreak = c == '\r' || c == '\n';
    if (isBreak && !inBreak) line += ' ';
    if (!isBreak) line += c;
    inBreak = isBreak;
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

bool AskOnTerminal(bool defaultYes) {
  std::fputs(defaultYes ? "[Y/n] " : "[y/N] ", stderr);
  char answer[64];
  if (!std::fgets(answer, sizeof answer, stdin)) return defaultYes;
  if (answer[0] == 'y' || answer[0] == 'Y') return true;
  if (answer[0] == 'n' || answer[0] == 'N') return false;
  return defaultYes;
}

}  // namespace

bool ShowMessageBox(std::string_view text, std::string_view caption, BoxKind kind, bool defaultYes) {
  if (!IsInteractive()) {
    std::fprintf(stderr, "%s\n", OneLine(text).c_str());
    return kind != BoxKind::YesNo || defaultYes;
  }
  std::string shown;
  for (char c : text) {
    if (c != '\r') shown += c;
  }
  while (!shown.empty() && shown.back() == '\n') shown.pop_back();
  std::fprintf(stderr, "%s: %s\n", ChooseCaption(caption).c_str(), shown.c_str());
  return kind != BoxKind::YesNo || AskOnTerminal(defaultYes);
}

}  // namespace vantor
