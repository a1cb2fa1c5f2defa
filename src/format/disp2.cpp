// Layout of arrays for display: measuring simple arrays into columns, nested arrays into columns of
// items with their separators, and emitting lines. Deep nesting is walked with explicit stacks, so a
// display never recurses on the processor stack; a pocket met twice is measured once. Characters:
// ⎕AV positions, the control-character canvas and the overstrike table.
#include "format/disp2.h"

#include <algorithm>
#include <array>
#include <unordered_map>

#include "base/errors.h"
#include "sysfns/quadvar.h"

namespace vantor {

static constexpr char kUnit[] = "disp2";

// ---- Hooks and characters -----------------------------------------------------------------------

static ObjectTextFn g_objectText = nullptr;

void SetObjectTextHook(ObjectTextFn hook) { g_objectText = hook; }

static std::u32string TextOfObject(Ref item) {
  if (IsNullItem(item)) return kNullText;
  return g_objectText ? g_objectText(item) : std::u32string(kDefaultObjectText);
}

char32_t CharacterAt(ElementType type, const uint8_t* data, uint64_t i) {
  switch (type) {
    case kCharAv: return AvCharacter(data[i]);
    case kChar8: return data[i];
    case kChar16: return reinterpret_cast<const uint16_t*>(data)[i];
    default: return reinterpret_cast<const char32_t*>(data)[i];
  }
}

// ---- Overstrikes ----------------------------------------------------------------------------------

namespace {

struct OverstrikePair {
  char32_t first, second, result;
};

constexpr std::array<OverstrikePair, 68> MakeOverstrikePairs() {
  std::array<OverstrikePair, 68> pairs{};
  constexpr OverstrikePair kFixed[] = {
      {U'\'', U'.', U'!'},  {U'⎕', U'\'', U'⍞'}, {U':', U'⎕', U'⍠'},  {U'⎕', U'=', U'⌸'},
      {U'∘', U'¨', U'⍤'},   {U'_', U'∆', U'⍙'},  {U'_', U'=', U'≡'},  {U'_', U'≠', U'≢'},
      {U'_', U'∊', U'⍷'},   {U'0', U'~', U'⍬'},  {U'L', U'-', U'£'},  {U'S', U'|', U'$'},
      {U'∆', U'|', U'⍋'},   {U'¨', U'~', U'⍨'},  {U'¨', U'*', U'⍣'},  {U'[', U'∘', U'{'},
      {U'[', U']', U'⌷'},   {U'/', U'-', U'⌿'},  {U'\\', U'-', U'⍀'}, {U'\\', U'○', U'⍉'},
      {U'<', U'>', U'⋄'},   {U'∨', U'∧', U'⋄'},  {U'∨', U'~', U'⍱'},  {U'∧', U'~', U'⍲'},
      {U'-', U'○', U'⊖'},   {U'-', U'|', U'ɫ'},  {U'-', U',', U'⍪'},  {U'-', U'(', U'⊢'},
      {U'-', U')', U'⊣'},   {U'-', U'E', U'€'},  {U'÷', U'⎕', U'⌹'},  {U'~', U'∇', U'⍫'},
      {U'○', U'*', U'⍟'},   {U'○', U'|', U'⌽'},  {U'∇', U'|', U'⍒'},  {U'∘', U'∩', U'⍝'},
      {U'∘', U'⊥', U'⍎'},   {U'∘', U'⊤', U'⍕'},  {U'∘', U']', U'}'},  {U'⊂', U'|', U'¢'},
      {U'⊥', U'⊤', U'⌶'},   {U'⌸', U'⊤', U'⌶'},
  };
  size_t n = 0;
  for (const OverstrikePair& p : kFixed) pairs[n++] = p;
  for (char32_t letter = 0; letter < 26; ++letter) pairs[n++] = {U'_', U'A' + letter, U'Ⓐ' + letter};
  return pairs;
}

constexpr std::array<OverstrikePair, 68> kOverstrikePairs = MakeOverstrikePairs();

// Two copies of the table, sorted by (first, second) and by (second, first), built on first use.
struct OverstrikeIndex {
  std::array<OverstrikePair, 68> byFirst = kOverstrikePairs;
  std::array<OverstrikePair, 68> bySecond = kOverstrikePairs;
  OverstrikeIndex() {
    std::sort(byFirst.begin(), byFirst.end(), [](const OverstrikePair& x, const OverstrikePair& y) {
      return x.first != y.first ? x.first < y.first : x.second < y.second;
    });
    std::sort(bySecond.begin(), bySecond.end(), [](const OverstrikePair& x, const OverstrikePair& y) {
      return x.second != y.second ? x.second < y.second : x.first < y.first;
    });
  }
};

// Bisection for the pair whose (major, minor) fields equal (a, b).
template <char32_t OverstrikePair::*Major, char32_t OverstrikePair::*Minor>
char32_t Search(const std::array<OverstrikePair, 68>& sorted, char32_t a, char32_t b) {
  auto it = std::lower_bound(sorted.begin(), sorted.end(), std::pair{a, b},
                             [](const OverstrikePair& p, const std::pair<char32_t, char32_t>& key) {
                               return p.*Major != key.first ? p.*Major < key.first : p.*Minor < key.second;
                             });
  return it != sorted.end() && (*it).*Major == a && (*it).*Minor == b ? it->result : 0;
}

}  // namespace

char32_t Overstrike(char32_t a, char32_t b) {
  static const OverstrikeIndex index;
  char32_t result = Search<&OverstrikePair::first, &OverstrikePair::second>(index.byFirst, a, b);
  return result ? result : Search<&OverstrikePair::second, &OverstrikePair::first>(index.bySecond, a, b);
}

// ---- Control-character canvas ---------------------------------------------------------------------

static bool IsLineControl(char32_t c) { return c == 8 || c == 10 || c == 13 || c == 133; }

// Writes `c` over whatever the position holds: a blank takes the new character, a new blank keeps
// the old one, and two different characters combine through the overstrike table.
static void WriteOver(std::u32string& line, size_t position, char32_t c) {
  if (position >= line.size()) line.resize(position + 1, kDisplayBlank);
  char32_t old = line[position];
  if (old == kDisplayBlank || old == c) {
    line[position] = c;
  } else if (c != kDisplayBlank) {
    char32_t combined = Overstrike(old, c);
    line[position] = combined ? combined : c;
  }
}

uint32_t BlankLinesBefore(const uint32_t* shape, uint32_t rank, uint64_t row) {
  if (row == 0 || rank < 3) return 0;
  uint32_t blanks = 0;
  uint64_t block = 1;
  for (uint32_t axis = rank - 2; axis >= 1; --axis) {
    block *= shape[axis];
    if (row % block != 0) break;
    ++blanks;
  }
  return blanks;
}

// Rows of an array: the product of the leading axes (1 for a scalar or a vector).
static uint64_t RowCount(Ref array) {
  uint32_t rank = RankOf(TypeWord(array));
  uint64_t rows = 1;
  for (uint32_t axis = 0; axis + 1 < rank; ++axis) rows *= ShapeOf(array)[axis];
  return rows;
}

static uint32_t ColumnCount(Ref array) {
  uint32_t rank = RankOf(TypeWord(array));
  return rank == 0 ? 1 : ShapeOf(array)[rank - 1];
}

bool HasLineControls(Ref array) {
  ElementType type = ElementOf(TypeWord(array));
  const uint8_t* data = DataOf<uint8_t>(array);
  uint64_t count = ElementCount(array);
  for (uint64_t i = 0; i < count; ++i)
    if (IsLineControl(CharacterAt(type, data, i))) return true;
  return false;
}

std::vector<std::u32string> ControlCharacterCanvas(Ref array) {
  if (!HasLineControls(array)) return {};
  ElementType type = ElementOf(TypeWord(array));
  const uint8_t* data = DataOf<uint8_t>(array);
  uint32_t rank = RankOf(TypeWord(array));
  uint64_t rows = RowCount(array);
  uint32_t columns = ColumnCount(array);
  std::vector<std::u32string> lines;
  std::vector<uint64_t> rowEnds;  // one past the last line of each row
  for (uint64_t row = 0, i = 0; row < rows; ++row) {
    lines.resize(lines.size() + BlankLinesBefore(ShapeOf(array), rank, row) + 1);
    size_t position = 0;
    for (uint32_t c = 0; c < columns; ++c, ++i) {
      char32_t ch = CharacterAt(type, data, i);
      if (ch == 8) {
        position -= position > 0;
      } else if (IsLineControl(ch)) {
        lines.emplace_back();
        position = 0;
      } else {
        WriteOver(lines.back(), position++, ch);
      }
    }
    rowEnds.push_back(lines.size());
  }
  // Every line but the blank ones between planes is padded to the widest.
  size_t width = 0;
  for (const std::u32string& line : lines) width = std::max(width, line.size());
  for (uint64_t row = 0, line = 0; row < rows; ++row) {
    line += BlankLinesBefore(ShapeOf(array), rank, row);
    for (; line < rowEnds[row]; ++line) lines[line].resize(width, kDisplayBlank);
  }
  return lines;
}

// ---- Measuring ------------------------------------------------------------------------------------

void CheckDisplayColumns(uint64_t columns) {
  if (columns > kMaxDisplayColumns) SIGNAL_MESSAGE(kLimitError, U"Unable to format result");
}

static bool IsSimpleScalar(Ref item) {
  uint32_t type = TypeWord(item);
  return KindOf(type) == kKindSimple && RankOf(type) == 0;
}

// Separator blanks and the total width: a blank between a number and a following non-number or
// widest nested item, a blank before a widest nested item or (after the first) a number, and a blank
// after a nested item.
static void FinishColumns(LayoutNode& node, ColumnLayout* columns) {
  node.width = 0;
  for (uint32_t i = 0; i < node.columnCount; ++i) {
    ColumnLayout& c = columns[i];
    c.before = 0;
    if (i > 0 && columns[i - 1].numeric && !columns[i - 1].nested && (!c.numeric || c.widestNested)) ++c.before;
    if (c.widestNested || (i > 0 && c.numeric)) ++c.before;
    c.after = c.nested;
    node.containsNested |= c.nested;
    node.width += uint64_t{c.before} + c.width + c.after;
  }
}

namespace {

class LayoutBuilder {
 public:
  explicit LayoutBuilder(Layout& layout) : layout_(layout) {}

  void Build(Ref root) {
    NodeFor(root);
    while (!pending_.empty()) {
      uint32_t node = pending_.back().node;
      if (AddItems(node)) {
        FinishNested(node);
        pending_.pop_back();
      }
    }
  }

 private:
  Layout& layout_;
  std::unordered_map<Ref, int32_t> known_;
  struct Pending {
    uint32_t node;
    uint64_t nextItem;
  };
  std::vector<Pending> pending_;  // nested nodes whose items are being measured, innermost last

  LayoutNode& Node(uint32_t index) { return layout_.nodes[index]; }

  // The node of an item: measured at once when simple or not an array; a nested array is put on the
  // pending stack and finished when all its items have been measured.
  int32_t NodeFor(Ref item) {
    if (!IsRef(item)) SIGNAL(kNonceError);
    auto found = known_.find(item);
    if (found != known_.end()) return found->second;
    int32_t index = static_cast<int32_t>(layout_.nodes.size());
    layout_.nodes.emplace_back();
    known_.emplace(item, index);
    LayoutNode& node = layout_.nodes.back();
    node.array = item;
    uint32_t type = TypeWord(item);
    if (!IsArrayKind(KindOf(type))) {
      SetText(node, {TextOfObject(item)}, 1);
      return index;
    }
    node.type = ElementOf(type);
    node.rank = RankOf(type);
    node.rowCount = RowCount(item);
    node.columnCount = ColumnCount(item);
    CheckDisplayColumns(node.columnCount);
    node.firstColumn = layout_.columns.size();
    if (KindOf(type) == kKindSimple) {
      MeasureSimple(node);
    } else {
      node.form = NodeForm::kNested;
      node.firstItem = layout_.items.size();
      layout_.items.resize(layout_.items.size() + ElementCount(item), kScalarItem);
      layout_.columns.resize(layout_.columns.size() + node.columnCount);
      pending_.push_back({static_cast<uint32_t>(index), 0});
    }
    return index;
  }

  void SetText(LayoutNode& node, std::vector<std::u32string> lines, uint32_t rank) {
    node.form = NodeForm::kText;
    node.rank = rank;
    node.firstText = layout_.texts.size();
    node.height = lines.size();
    node.width = 0;
    for (std::u32string& line : lines) {
      node.width = std::max<uint64_t>(node.width, line.size());
      layout_.texts.push_back(std::move(line));
    }
  }

  void MeasureSimple(LayoutNode& node) {
    const uint8_t* data = DataOf<uint8_t>(node.array);
    if (IsCharacterType(node.type)) {
      std::vector<std::u32string> canvas = ControlCharacterCanvas(node.array);
      if (!canvas.empty()) return SetText(node, std::move(canvas), node.rank);
      layout_.columns.resize(layout_.columns.size() + node.columnCount);
      for (uint64_t c = 0; c < node.columnCount; ++c) layout_.columns[node.firstColumn + c].width = 1;
    } else {
      layout_.columns.resize(layout_.columns.size() + node.columnCount);
      MeasureNumericColumns(node.type, data, node.rowCount, node.columnCount, layout_.columns.data() + node.firstColumn,
                            layout_.printPrecision);
    }
    FinishColumns(node, layout_.columns.data() + node.firstColumn);
    SetRows(node, [](uint64_t) { return uint64_t{1}; });
  }

  // Row positions: each row as high as `heightOf(row)`, blank lines between planes. Rows that are
  // one line each with no blank lines need no table.
  template <class HeightOf>
  void SetRows(LayoutNode& node, HeightOf heightOf) {
    node.hasRowStarts = node.form == NodeForm::kNested || node.rank > 2;
    if (!node.hasRowStarts) {
      node.height = node.rowCount;
      return;
    }
    node.firstRowStart = layout_.rowStarts.size();
    const uint32_t* shape = ShapeOf(node.array);
    uint64_t line = 0;
    for (uint64_t row = 0; row < node.rowCount; ++row) {
      line += BlankLinesBefore(shape, node.rank, row);
      layout_.rowStarts.push_back(line);
      line += heightOf(row);
    }
    layout_.rowStarts.push_back(line);
    node.height = line;
  }

  // Measures the items of a pending nested node in order; returns false when it stopped to measure a
  // nested item first.
  bool AddItems(uint32_t index) {
    uint64_t count = ElementCount(Node(index).array);
    size_t depth = pending_.size();
    while (pending_[depth - 1].nextItem < count) {
      uint64_t i = pending_[depth - 1].nextItem++;
      Ref item = DataOf<Ref>(Node(index).array)[i];
      if (IsRef(item) && IsSimpleScalar(item)) continue;
      int32_t child = NodeFor(item);
      layout_.items[Node(index).firstItem + i] = child;
      if (pending_.size() > depth) return false;
    }
    return true;
  }

  // Columns of a nested array: numbers among the simple scalar items are measured first (E-format
  // flags over the whole column, then widths), characters are one wide, then nested items are
  // compared with that width.
  void FinishNested(uint32_t index) {
    LayoutNode& node = Node(index);
    const Ref* elements = DataOf<Ref>(node.array);
    const int32_t* items = layout_.items.data() + node.firstItem;
    ColumnLayout* columns = layout_.columns.data() + node.firstColumn;
    uint32_t n = node.columnCount;
    int pp = layout_.printPrecision;
    auto numberAt = [&](uint64_t i, ElementType& type) {
      if (items[i] != kScalarItem) return false;
      type = ElementOf(TypeWord(elements[i]));
      return !IsCharacterType(type);
    };
    for (uint32_t c = 0; c < n; ++c) {
      ColumnLayout& column = columns[c];
      ElementType type;
      for (uint64_t r = 0; r < node.rowCount; ++r)
        if (numberAt(r * n + c, type)) MarkExponentialScalar(type, DataOf<uint8_t>(elements[r * n + c]), column, pp);
      uint64_t widestItem = 0;
      for (uint64_t r = 0; r < node.rowCount; ++r) {
        uint64_t i = r * n + c;
        if (numberAt(i, type)) {
          MeasureNumericScalar(type, DataOf<uint8_t>(elements[i]), column, pp);
        } else if (items[i] == kScalarItem) {
          column.width = std::max(column.width, 1u);
        } else {
          column.nested = true;
          widestItem = std::max(widestItem, Node(items[i]).width);
        }
      }
      column.widestNested = column.nested && widestItem >= column.width;
      column.width = static_cast<uint32_t>(std::max<uint64_t>(column.width, widestItem));
    }
    FinishColumns(node, columns);
    SetRows(node, [&](uint64_t row) {
      uint64_t height = 1;
      for (uint32_t c = 0; c < n; ++c) {
        int32_t child = items[row * n + c];
        if (child != kScalarItem) height = std::max(height, Node(child).height);
      }
      return height;
    });
  }
};

}  // namespace

Layout MeasureLayout(Ref array, int printPrecision) {
  Layout layout;
  layout.printPrecision = printPrecision;
  LayoutBuilder(layout).Build(array);
  return layout;
}

// ---- Emitting -------------------------------------------------------------------------------------

namespace {

struct RowPosition {
  bool inRow;  // false: a blank line between planes
  uint64_t row;
  uint64_t lineInRow;
};

RowPosition Locate(const Layout& layout, const LayoutNode& node, uint64_t line) {
  if (!node.hasRowStarts) return {true, line, 0};
  const uint64_t* starts = layout.rowStarts.data() + node.firstRowStart;
  uint64_t row = static_cast<uint64_t>(std::upper_bound(starts, starts + node.rowCount, line) - starts) - 1;
  uint64_t end = starts[row + 1];
  if (row + 1 < node.rowCount) end -= BlankLinesBefore(ShapeOf(node.array), node.rank, row + 1);
  return {line < end, row, line - starts[row]};
}

void AppendSimpleRow(const Layout& layout, const LayoutNode& node, uint64_t row, std::u32string& out) {
  const uint8_t* data = DataOf<uint8_t>(node.array);
  if (!IsCharacterType(node.type))
    return AppendNumericRow(node.type, data, row, node.columnCount, layout.columns.data() + node.firstColumn,
                            layout.printPrecision, out);
  for (uint64_t c = 0, i = row * node.columnCount; c < node.columnCount; ++c, ++i)
    out.push_back(CharacterAt(node.type, data, i));
}

// A simple scalar item in its column: a number aligned as numbers are, a character at the left.
void AppendScalarItem(const Layout& layout, Ref item, const ColumnLayout& column, std::u32string& out) {
  ElementType type = ElementOf(TypeWord(item));
  const uint8_t* data = DataOf<uint8_t>(item);
  if (!IsCharacterType(type)) return AppendNumericScalar(type, data, column, layout.printPrecision, out);
  out.push_back(CharacterAt(type, data, 0));
  out.append(column.width - 1, kDisplayBlank);
}

}  // namespace

void AppendLayoutLine(const Layout& layout, uint32_t root, uint64_t line, std::u32string& out) {
  // One frame per nested node on the way down to the item being written; `resume` blanks finish the
  // column of the item that was entered.
  struct Frame {
    uint32_t node;
    uint64_t row;
    uint64_t lineInRow;
    uint32_t column;
    uint64_t resume;
  };
  std::vector<Frame> stack;
  // Writes a line of a node that has no items to descend into (returning false), or pushes the
  // node's frame (returning true).
  auto enter = [&](uint32_t index, uint64_t nodeLine) {
    const LayoutNode& node = layout.nodes[index];
    if (node.form == NodeForm::kText) {
      const std::u32string& text = layout.texts[node.firstText + nodeLine];
      out.append(text);
      out.append(node.width - text.size(), kDisplayBlank);
      return false;
    }
    RowPosition at = Locate(layout, node, nodeLine);
    if (!at.inRow) {
      out.append(node.width, kDisplayBlank);
      return false;
    }
    if (node.form == NodeForm::kSimple) {
      AppendSimpleRow(layout, node, at.row, out);
      return false;
    }
    stack.push_back({index, at.row, at.lineInRow, 0, 0});
    return true;
  };
  enter(root, line);
  while (!stack.empty()) {
    size_t top = stack.size() - 1;
    out.append(stack[top].resume, kDisplayBlank);
    stack[top].resume = 0;
    const LayoutNode& node = layout.nodes[stack[top].node];
    bool descended = false;
    while (!descended && stack[top].column < node.columnCount) {
      Frame& f = stack[top];
      const ColumnLayout& column = layout.columns[node.firstColumn + f.column];
      uint64_t element = f.row * node.columnCount + f.column++;
      out.append(column.before, kDisplayBlank);
      int32_t child = layout.items[node.firstItem + element];
      if (child == kScalarItem) {
        if (f.lineInRow == 0) AppendScalarItem(layout, DataOf<Ref>(node.array)[element], column, out);
        else out.append(column.width, kDisplayBlank);
        out.append(column.after, kDisplayBlank);
        continue;
      }
      const LayoutNode& item = layout.nodes[child];
      if (f.lineInRow >= item.height) {
        out.append(uint64_t{column.width} + column.after, kDisplayBlank);
        continue;
      }
      uint64_t rest = column.width - item.width + column.after;
      f.resume = rest;
      descended = enter(static_cast<uint32_t>(child), f.lineInRow);  // may move the stack
      if (!descended) {
        stack[top].resume = 0;
        out.append(rest, kDisplayBlank);
      }
    }
    if (!descended) stack.pop_back();
  }
}

bool IsPlaneSeparator(const Layout& layout, uint32_t node, uint64_t line) {
  const LayoutNode& n = layout.nodes[node];
  // Text lines are padded to the width except the blank ones between planes.
  if (n.form == NodeForm::kText) return layout.texts[n.firstText + line].empty();
  return !Locate(layout, n, line).inRow;
}

}  // namespace vantor
