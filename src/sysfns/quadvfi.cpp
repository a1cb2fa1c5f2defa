// ⎕VFI: splits the text into fields, reads each field with the scanner's number reader, and builds
// the validity and value vectors. The value type is chosen once for the whole result: complex when
// a valid field is complex, else decimal128 under ⎕FR 1287, else binary64; a number that the chosen
// type cannot hold (it overflows) makes its field invalid.
#include "sysfns/quadvfi.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "format/disp2.h"
#include "primitives/dispatch.h"
#include "language/scan.h"
#include "language/space.h"
#include "base/errors.h"
#include "memory/decimal.h"
#include "sysfns/quadvar.h"

namespace vantor {

static constexpr char kUnit[] = "quadvfi";

namespace {

constexpr char32_t kBlank = U' ';

// The text of a character argument of rank 0 or 1 (DOMAIN ERROR, RANK ERROR otherwise).
std::u32string TextArgument(Ref a) {
  if (!IsRef(a) || KindOf(TypeWord(a)) != kKindSimple || !IsCharacterType(ElementOf(TypeWord(a))))
    SIGNAL(kDomainError);
  if (RankOf(TypeWord(a)) > 1) SIGNAL(kRankError);
  return CharacterText(a);
}

// The fields that the separators end; the text after the last separator is a field when not empty.
std::vector<std::u32string_view> SeparatedFields(std::u32string_view text, std::u32string_view separators) {
  std::vector<std::u32string_view> fields;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (separators.find(text[i]) == std::u32string_view::npos) continue;
    fields.push_back(text.substr(start, i - start));
    start = i + 1;
  }
  if (start < text.size()) fields.push_back(text.substr(start));
  return fields;
}

// The number a field holds, when it holds one: leading blanks, the number, trailing blanks.
std::optional<NumberSyntax> FieldNumber(std::u32string_view field) {
  const size_t first = field.find_first_not_of(kBlank);
  if (first == std::u32string_view::npos) return std::nullopt;
  field.remove_prefix(first);
  NumberSyntax n = ReadNumber(field);
  if (!n.valid || field.find_first_not_of(kBlank, n.length) != std::u32string_view::npos) return std::nullopt;
  return n;
}

enum class ValueType { Binary, Decimal, Complex };

// Reads each number as the result's type; a number that overflows the type is dropped (invalid).
// Writes the values into `result` (of the type) and returns the validity of each field.
std::vector<bool> StoreValues(const std::vector<std::optional<NumberSyntax>>& numbers, ValueType type, Ref result) {
  std::vector<bool> valid(numbers.size(), false);
  for (size_t i = 0; i < numbers.size(); ++i) {
    const std::optional<NumberSyntax>& n = numbers[i];
    switch (type) {
      case ValueType::Complex: {
        const double re = n ? AsciiToDouble(n->real) : 0.0;
        const double im = n && n->complex ? AsciiToDouble(n->imaginary) : 0.0;
        valid[i] = n && std::isfinite(re) && std::isfinite(im);
        DataOf<double>(result)[2 * i] = valid[i] ? re : 0.0;
        DataOf<double>(result)[2 * i + 1] = valid[i] ? im : 0.0;
        break;
      }
      case ValueType::Decimal: {
        const BID_UINT128 d = n ? AsciiToDecimal(n->real) : bid128_from_int32(0);
        valid[i] = n && bid128_isFinite(d);
        DataOf<BID_UINT128>(result)[i] = valid[i] ? d : bid128_from_int32(0);
        break;
      }
      case ValueType::Binary: {
        const double v = n ? AsciiToDouble(n->real) : 0.0;
        valid[i] = n && std::isfinite(v);
        DataOf<double>(result)[i] = valid[i] ? v : 0.0;
        break;
      }
    }
  }
  return valid;
}

// Complex when some field holds a complex number whose parts are finite.
ValueType ResultType(const std::vector<std::optional<NumberSyntax>>& numbers) {
  for (const std::optional<NumberSyntax>& n : numbers)
    if (n && n->complex && std::isfinite(AsciiToDouble(n->real)) && std::isfinite(AsciiToDouble(n->imaginary)))
      return ValueType::Complex;
  return CurrentFloatRepresentation() == 1287 ? ValueType::Decimal : ValueType::Binary;
}

constexpr ElementType kElementOf[] = {kFloat64, kDecimal128, kComplex};

CallResult QuadVFI(const Ref& left, const Ref& right) {
  const std::u32string separators = left ? TextArgument(left) : std::u32string();
  const std::u32string text = TextArgument(right);
  const std::vector<std::u32string_view> fields =
      left ? SeparatedFields(text, separators) : BlankSeparated(text);
  std::vector<std::optional<NumberSyntax>> numbers;
  numbers.reserve(fields.size());
  for (std::u32string_view field : fields) numbers.push_back(FieldNumber(field));

  const ValueType type = ResultType(numbers);
  const auto count = static_cast<uint32_t>(fields.size());
  Temporaries hold;
  hold[1] = AllocVector(kElementOf[static_cast<int>(type)], count);
  const std::vector<bool> valid = StoreValues(numbers, type, hold[1]);
  hold[0] = AllocVector(kBool, count);
  for (uint32_t i = 0; i < count; ++i) SetBit(DataOf<uint8_t>(hold[0]), i, valid[i]);
  Ref result = AllocVector(kRefElement, 2);
  DataOf<Ref>(result)[0] = hold.Take(0);
  DataOf<Ref>(result)[1] = hold.Take(1);
  return {result};
}

}  // namespace

void InitialiseVerifyFix() { InstallSystemFunction(U"VFI", QuadVFI, QuadVFI); }

}  // namespace vantor
