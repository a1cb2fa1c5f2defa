// The display driver: chooses between the fast paths (Boolean and 1-byte integer arrays of rank 2 or
// less, written straight from small text tables) and the layout of disp2, produces the lines, folds
// them at ⎕PW, and turns them into the character results of monadic ⍕ and ⎕FMT.
#include "format/disp.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "format/disp1.h"
#include "format/disp2.h"
#include "base/errors.h"
#include "sysfns/quadvar.h"

namespace vantor {

static constexpr char kUnit[] = "disp";

DisplaySettings CurrentDisplaySettings() { return DisplaySettings{PrintPrecision(), PrintWidth()}; }

namespace {

// The right-aligned texts of all 1-byte integers, indexed by value + 128.
struct SmallIntegerText {
  char32_t text[4];
  uint8_t length;
};
const std::array<SmallIntegerText, 256>& SmallIntegerTexts() {
  static const std::array<SmallIntegerText, 256> table = [] {
    std::array<SmallIntegerText, 256> t{};
    for (int v = -128; v < 128; ++v) {
      NumberText n = IntegerText(v);
      SmallIntegerText& entry = t[static_cast<size_t>(v + 128)];
      entry.length = n.length;
      std::copy(n.text, n.text + n.length, entry.text);
    }
    return t;
  }();
  return table;
}

// The unfolded display of one array, produced line by line on request.
class DisplaySource {
 public:
  DisplaySource(Ref array, const DisplaySettings& settings) : array_(array) {
    if (!IsRef(array)) SIGNAL(kNonceError);
    uint32_t type = TypeWord(array);
    ElementType element = ElementOf(type);
    if (KindOf(type) == kKindSimple && RankOf(type) <= 2 && (element == kBool || element == kInt8)) {
      PrepareFastPath(element);
      return;
    }
    layout_ = MeasureLayout(array, settings.printPrecision);
    const LayoutNode& root = layout_.nodes[0];
    width_ = root.width;
    lineCount_ = root.height;
    rank_ = root.rank;
    cutExactly_ = root.form == NodeForm::kText || IsCharacterType(root.type) || root.containsNested;
  }

  uint64_t Width() const { return width_; }
  uint64_t LineCount() const { return lineCount_; }
  uint32_t Rank() const { return rank_; }
  bool CutExactly() const { return cutExactly_; }

  // Appends line `line`; the blank lines between planes stay empty.
  void AppendLine(uint64_t line, std::u32string& out) const {
    if (fast_ == Fast::kNone) {
      if (!IsPlaneSeparator(layout_, 0, line)) AppendLayoutLine(layout_, 0, line, out);
      return;
    }
    const uint8_t* data = DataOf<uint8_t>(array_);
    uint64_t i = line * columnWidths_.size();
    for (size_t c = 0; c < columnWidths_.size(); ++c, ++i) {
      if (c > 0) out.push_back(kDisplayBlank);
      if (fast_ == Fast::kBoolean) {
        out.push_back(GetBit(data, i) ? U'1' : U'0');
        continue;
      }
      const SmallIntegerText& t = SmallIntegerTexts()[static_cast<size_t>(static_cast<int8_t>(data[i]) + 128)];
      out.append(columnWidths_[c] - t.length, kDisplayBlank);
      out.append(t.text, t.length);
    }
  }

 private:
  enum class Fast { kNone, kBoolean, kSmallInteger };
  Ref array_;
  Fast fast_ = Fast::kNone;
  Layout layout_;
  std::vector<uint8_t> columnWidths_;  // fast paths
  uint64_t width_ = 0;
  uint64_t lineCount_ = 0;
  uint32_t rank_ = 0;
  bool cutExactly_ = false;

  // Boolean and 1-byte integer arrays: every column is as wide as its widest number, one blank
  // between columns. A Boolean column is one wide; when all small integers are digits 0-9 so is every
  // column; otherwise each column's width comes from its values.
  void PrepareFastPath(ElementType element) {
    uint32_t rank = RankOf(TypeWord(array_));
    uint32_t columns = rank == 0 ? 1 : ShapeOf(array_)[rank - 1];
    CheckDisplayColumns(columns);
    uint64_t rows = rank == 2 ? ShapeOf(array_)[0] : 1;
    fast_ = element == kBool ? Fast::kBoolean : Fast::kSmallInteger;
    rank_ = rank;
    lineCount_ = rows;
    columnWidths_.assign(columns, rows > 0 ? 1 : 0);
    uint64_t count = rows * columns;
    if (element == kInt8 && count > 0) {
      const int8_t* data = DataOf<int8_t>(array_);
      auto [low, high] = std::minmax_element(data, data + count);
      if (*low < 0 || *high > 9) {
        for (uint64_t i = 0; i < count; ++i) {
          int v = data[i];
          uint8_t w = static_cast<uint8_t>(1 + (std::abs(v) > 9) + (std::abs(v) >= 100) + (v < 0));
          uint8_t& column = columnWidths_[i % columns];
          column = std::max(column, w);
        }
      }
    }
    width_ = columns > 0 ? columns - 1 : 0;
    for (uint8_t w : columnWidths_) width_ += w;
  }
};

// The lines of a display are held in working storage outside the workspace. A display that would
// need more than a multiple of the workspace's size (a thousand million empty rows) is WS FULL at
// once, before any of it is made.
constexpr uint64_t kDisplayStorageFactor = 16;
void CheckDisplayStorage(const DisplaySource& source) {
  uint64_t bytesPerLine = sizeof(std::u32string) + sizeof(char32_t) * std::min<uint64_t>(source.Width(), 1u << 30);
  uint64_t limit = kDisplayStorageFactor * g_space->limitBytes;
  if (source.LineCount() > limit / bytesPerLine) SIGNAL(kWsFull);
}

std::vector<std::u32string> AllLines(const DisplaySource& source) {
  CheckDisplayStorage(source);
  std::vector<std::u32string> lines(source.LineCount());
  for (uint64_t i = 0; i < lines.size(); ++i) source.AppendLine(i, lines[i]);
  return lines;
}

DisplayText TextOf(const DisplaySource& source) {
  DisplayText text;
  text.lines = AllLines(source);
  text.width = source.Width();
  text.rank = source.Rank();
  text.cutExactly = source.CutExactly();
  return text;
}

// Where each chunk may end: columns that are blank in every line.
std::vector<bool> BlankColumns(const DisplayText& text) {
  std::vector<bool> blank(text.width, true);
  for (const std::u32string& line : text.lines)
    for (size_t c = 0; c < line.size(); ++c)
      if (line[c] != kDisplayBlank) blank[c] = false;
  return blank;
}

constexpr uint64_t kFoldIndent = 6;
constexpr uint64_t kBreakSearch = 43;  // positions examined for a blank column, from the limit leftwards

}  // namespace

DisplayText DisplayRows(Ref array, const DisplaySettings& settings) {
  return TextOf(DisplaySource(array, settings));
}

std::vector<std::u32string> FoldLines(const DisplayText& text, int printWidth) {
  uint64_t limit = static_cast<uint64_t>(std::max(printWidth, static_cast<int>(kFoldIndent) + 1));
  if (text.width <= limit) return text.lines;
  std::vector<bool> blank;
  if (!text.cutExactly) blank = BlankColumns(text);
  uint32_t gap = text.rank > 1 ? text.rank - 1 : 0;
  std::vector<std::u32string> out;
  for (uint64_t start = 0; start < text.width;) {
    uint64_t indent = start == 0 ? 0 : kFoldIndent;
    uint64_t end = start + limit - indent;
    uint64_t next = end;
    if (end >= text.width) {
      end = next = text.width;
    } else if (!text.cutExactly) {
      for (uint64_t p = end; p > start && end - p < kBreakSearch; --p) {
        if (blank[p]) {
          end = p;
          next = p + 1;
          break;
        }
      }
    }
    if (start > 0) out.resize(out.size() + gap);
    for (const std::u32string& line : text.lines) {
      out.emplace_back();
      if (line.empty()) continue;
      out.back().append(indent, kDisplayBlank);
      out.back().append(line, start, end - start);
    }
    start = next;
  }
  return out;
}

std::vector<std::u32string> DisplayLines(Ref array, const DisplaySettings& settings) {
  return FoldLines(DisplayRows(array, settings), settings.printWidth);
}

static void SendLine(const std::u32string& line, const DisplaySink& sink) {
  for (char32_t c : line) sink.put(sink.context, c);
  sink.endLine(sink.context);
}

void DisplayArray(Ref array, const DisplaySettings& settings, const DisplaySink& sink) {
  DisplaySource source(array, settings);
  if (source.Width() > static_cast<uint64_t>(settings.printWidth)) {
    for (const std::u32string& line : FoldLines(TextOf(source), settings.printWidth)) SendLine(line, sink);
    return;
  }
  std::u32string line;
  for (uint64_t i = 0; i < source.LineCount(); ++i) {
    line.clear();
    source.AppendLine(i, line);
    SendLine(line, sink);
  }
}

namespace {

ElementType NarrowestCharacterType(const DisplayText& text) {
  char32_t widest = 0;
  for (const std::u32string& line : text.lines)
    for (char32_t c : line) widest = std::max(widest, c);
  return widest < 0x100 ? kChar8 : widest < 0x10000 ? kChar16 : kChar32;
}

template <typename T>
void CopyLines(const DisplayText& text, T* data) {
  for (const std::u32string& line : text.lines) {
    if (line.size() > text.width)
      SIGNAL_MESSAGE(kInternalError, U"Display encountered an unexpected element type within an array");
    data = std::copy(line.begin(), line.end(), data);
    data = std::fill_n(data, text.width - line.size(), static_cast<T>(kDisplayBlank));
  }
}

// A character array holding the lines: a vector of the one line, or a matrix with a row per line.
Ref CharacterArrayOf(const DisplayText& text, bool asVector) {
  ElementType type = NarrowestCharacterType(text);
  if (text.lines.size() > UINT32_MAX || text.width > UINT32_MAX) SIGNAL(kLimitError);
  uint32_t rows = static_cast<uint32_t>(text.lines.size());
  uint32_t width = static_cast<uint32_t>(text.width);
  Ref result = asVector ? AllocVector(type, width) : AllocMatrix(type, rows, width);
  switch (type) {
    case kChar8: CopyLines(text, DataOf<uint8_t>(result)); break;
    case kChar16: CopyLines(text, DataOf<uint16_t>(result)); break;
    default: CopyLines(text, DataOf<char32_t>(result)); break;
  }
  return result;
}

}  // namespace

Ref DisplayMatrix(Ref array, const DisplaySettings& settings) {
  return CharacterArrayOf(DisplayRows(array, settings), false);
}

CallResult FormatMonadic(const Ref&, const Ref& right) {
  Ref array = right;
  uint32_t type = IsRef(array) ? TypeWord(array) : 0;
  if (KindOf(type) == kKindSimple && IsCharacterType(ElementOf(type)) && RankOf(type) <= 2 &&
      !HasLineControls(array)) {
    Retain(array);
    return {array, false};
  }
  DisplayText text = DisplayRows(array, CurrentDisplaySettings());
  bool asVector = text.lines.size() == 1 && (!IsArrayKind(KindOf(type)) || RankOf(type) <= 1);
  return {CharacterArrayOf(text, asVector), false};
}

}  // namespace vantor
