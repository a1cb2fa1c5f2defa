// ⎕FMT and dyadic ⍕: the handlers the evaluator calls. They check the format text's type and
// rank, read its text and hand over to format/fmt; monadic ⎕FMT is the display matrix of format/disp.
#include "sysfns/quadfmt.h"

#include <string>

#include "format/disp.h"
#include "format/disp2.h"
#include "format/fmt.h"
#include "primitives/dispatch.h"
#include "language/scan.h"
#include "language/space.h"
#include "base/errors.h"

namespace vantor {

static constexpr char kUnit[] = "quadfmt";

namespace {

CallResult QuadFMTMonadic(const Ref&, const Ref& right) {
  return {DisplayMatrix(right, CurrentDisplaySettings()), false};
}

CallResult QuadFMTDyadic(const Ref& left, const Ref& right) {
  uint32_t type = IsRef(left) ? TypeWord(left) : 0;
  if (!IsArray(left) || KindOf(type) != kKindSimple || !IsCharacterType(ElementOf(type))) SIGNAL(kDomainError);
  if (RankOf(type) > 1) SIGNAL(kRankError);
  std::u32string format = CharacterText(left);
  return {FormatByPhrases(format, right), false};
}

CallResult FormatDyadic(const Ref& left, const Ref& right) { return {FormatWidthDecimals(left, right), false}; }

constexpr PrimitiveRow kFormatRows[] = {{kPrimFormat, nullptr, FormatDyadic, 0}};

}  // namespace

void InitialiseFormatting() {
  InstallSystemFunction(U"FMT", QuadFMTMonadic, QuadFMTDyadic);
  InstallPrimitives(kFormatRows);
}

}  // namespace vantor
