// The layout of an array of any rank, type and depth: one layout node for the array and one for each
// nested item (built without recursion, with an explicit stack), holding the columns, the separators
// between them, the width and the height; then the emitting of any line of a node, descending into
// the items of that line with an explicit stack. Also characters: ⎕AV positions, the canvas on which
// backspace, linefeed, carriage return and next-line are laid out, and the overstrike table.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "format/disp1.h"

namespace vantor {

// The text shown for an item that is not an array (a namespace reference, a function). The names
// unit installs it; it must not allocate in the workspace (a display holds references across it).
// Without a hook such an item shows as kDefaultObjectText; ⎕NULL always shows as kNullText.
using ObjectTextFn = std::u32string (*)(Ref pocket);
void SetObjectTextHook(ObjectTextFn hook);
inline constexpr char32_t kDefaultObjectText[] = U"[Object]";
inline constexpr char32_t kNullText[] = U"[Null]";

// Element i of a character array of `type` as a code point (⎕AV positions through the executing
// namespace's ⎕AVU).
char32_t CharacterAt(ElementType type, const uint8_t* data, uint64_t i);
inline bool IsCharacterType(ElementType type) { return kElementInfo[type].classes & kClassCharacter; }

// The character that two characters written over each other make, in either order; 0 when the pair
// has none.
char32_t Overstrike(char32_t a, char32_t b);

// True when a simple character array holds backspace, linefeed, carriage return or next-line.
bool HasLineControls(Ref array);
// Lays out the rows of a simple character array with control characters: backspace moves back one
// position, linefeed, carriage return and next-line start a new line, and a character written over
// another combines with it. Lines are padded with blanks to the longest; rank > 2 arrays get empty
// lines between planes. No lines when the array holds no such character.
std::vector<std::u32string> ControlCharacterCanvas(Ref array);

// Blank lines shown before row `row` (in ravel order of the leading axes) of an array of this shape:
// one for each axis boundary above the rows of a plane that the row starts.
uint32_t BlankLinesBefore(const uint32_t* shape, uint32_t rank, uint64_t row);

enum class NodeForm : uint8_t {
  kSimple,  // a simple array: its columns and its data
  kNested,  // a nested array: columns of items, each a simple scalar or a child node
  kText,    // ready lines: a canvas of control characters, or the text of a non-array item
};

// The layout of one array. Indexes refer to the pools of the Layout.
struct LayoutNode {
  Ref array = 0;  // not counted: the display holds the whole array
  NodeForm form = NodeForm::kSimple;
  ElementType type = kInt32;
  uint32_t rank = 0;
  uint32_t columnCount = 0;
  uint64_t rowCount = 0;       // product of the leading axes
  uint64_t firstColumn = 0;    // columns
  uint64_t firstItem = 0;      // items (nested form): one per element
  uint64_t firstRowStart = 0;  // rowStarts: rowCount + 1 line numbers, when hasRowStarts
  uint64_t firstText = 0;      // texts (text form): `height` lines, each `width` long or empty
  uint64_t width = 0;
  uint64_t height = 0;
  bool containsNested = false;
  bool hasRowStarts = false;   // rows are not simply one line each
};

inline constexpr int32_t kScalarItem = -1;

struct Layout {
  int printPrecision = 10;
  std::vector<LayoutNode> nodes;  // nodes[0] is the array being displayed
  std::vector<ColumnLayout> columns;
  std::vector<int32_t> items;     // child node of each element of a nested array, or kScalarItem
  std::vector<uint64_t> rowStarts;
  std::vector<std::u32string> texts;
};

// Measures an array and all its nested items. Items that are the same pocket share one node.
// LIMIT ERROR ("Unable to format result") for more than kMaxDisplayColumns columns, NONCE ERROR for
// a missing array or an element type with no display form.
inline constexpr uint32_t kMaxDisplayColumns = 268435452;
void CheckDisplayColumns(uint64_t columns);
Layout MeasureLayout(Ref array, int printPrecision);

// Appends line `line` (0 ≤ line < height) of a node: exactly `width` characters.
void AppendLayoutLine(const Layout& layout, uint32_t node, uint64_t line, std::u32string& out);
// True for the blank lines that separate planes of a node (rank > 2).
bool IsPlaneSeparator(const Layout& layout, uint32_t node, uint64_t line);

}  // namespace vantor
