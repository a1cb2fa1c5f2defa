// UTF-8 at the edges: the one decoder and encoder for everything the interpreter reads or writes as
// UTF-8 (terminal input and output, files, the command line, the bound command line). Decoding never
// lets an ill-formed sequence through as a character: each maximal subpart of one becomes U+FFFD,
// the replacement character; encoding never writes ill-formed UTF-8. Header-only, so that
// vantor-bind, which links none of the interpreter, uses the same code.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace vantor {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

namespace utf8 {

// The range a sequence's second byte must fall in, by lead byte: it excludes overlong forms (E0, F0),
// surrogates (ED) and values above U+10FFFF (F4). Later continuation bytes are always 80..BF.
struct LeadByte {
  int continuations;  // -1: the byte cannot start a sequence
  uint8_t secondLow, secondHigh;
};

constexpr LeadByte Classify(uint8_t lead) {
  if (lead < 0x80) return {0, 0, 0};
  if (lead < 0xC2) return {-1, 0, 0};  // a continuation byte, or C0/C1 (always overlong)
  if (lead < 0xE0) return {1, 0x80, 0xBF};
  if (lead == 0xE0) return {2, 0xA0, 0xBF};
  if (lead == 0xED) return {2, 0x80, 0x9F};
  if (lead < 0xF0) return {2, 0x80, 0xBF};
  if (lead == 0xF0) return {3, 0x90, 0xBF};
  if (lead < 0xF4) return {3, 0x80, 0xBF};
  if (lead == 0xF4) return {3, 0x80, 0x8F};
  return {-1, 0, 0};  // F5..FF
}

}  // namespace utf8

// Decodes the character at `text[i]` and advances `i` past it. An ill-formed sequence gives
// U+FFFD and `i` moves past its maximal subpart: the longest start of a well-formed sequence, or
// one byte when the lead byte starts none. So E0 80 80 gives three U+FFFD, a truncated F0 9F 98 one.
inline char32_t DecodeUtf8(std::string_view text, size_t& i) {
  const auto lead = static_cast<uint8_t>(text[i++]);
  const utf8::LeadByte kind = utf8::Classify(lead);
  if (kind.continuations < 0) return kReplacementCharacter;
  if (kind.continuations == 0) return lead;
  char32_t code = lead & (0x3F >> kind.continuations);  // the payload bits of the lead byte
  uint8_t low = kind.secondLow, high = kind.secondHigh;
  for (int k = 0; k < kind.continuations; ++k) {
    if (i == text.size()) return kReplacementCharacter;
    const auto next = static_cast<uint8_t>(text[i]);
    if (next < low || next > high) return kReplacementCharacter;  // `next` starts the next character
    code = code << 6 | (next & 0x3F);
    ++i;
    low = 0x80;
    high = 0xBF;
  }
  return code;
}

// Appends the UTF-8 form of `c`; a surrogate or a value above U+10FFFF, which have none, is
// written as U+FFFD.
inline void AppendUtf8(std::string& out, char32_t c) {
  if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = kReplacementCharacter;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | c >> 6));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | c >> 12));
    out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | c >> 18));
    out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

inline std::u32string FromUtf8(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) out.push_back(DecodeUtf8(text, i));
  return out;
}

inline std::string ToUtf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) AppendUtf8(out, c);
  return out;
}

}  // namespace vantor
