// The system functions over names: ⎕NC (name classes), ⎕NL (name lists), ⎕EX (expunge), ⎕NS
// (create namespaces and copy names into them), ⎕CS (change the executing namespace), ⎕SIZE (bytes
// a value occupies) and the niladic ⎕THIS, with the name-class codes they share.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "primitives/dispatch.h"
#include "sysfns/qsys.h"

namespace vantor {

// The class code of an entry: ten times its class, refined by its value (21 variable, 31 traditional
// function, 32 dfn, 33 primitive or derived function, 91 namespace, 150 localised system variable,
// ...). `decimalForm` selects the codes that only the nested-argument form of ⎕NC reports (36 for a
// method, 26 for a variable-like GUI member); the integer form and ⎕NL see 0 for those.
uint32_t NameClassCode(Ref entry, bool decimalForm);

// The code of a class-8 member (22 field, 23 property, 81 event, 86 external event, 26 variable-like
// member of a GUI or external object), decided by the unit that made the member.
using MemberCodeFn = uint32_t (*)(Ref entry);
void SetMemberCodeFn(MemberCodeFn fn);

// The names a name argument lists: a simple character scalar or vector is one name (none when it
// is empty or blank), a matrix one name per row, a nested vector one name per item (each a character vector or scalar); blanks at
// both ends are dropped. DOMAIN ERROR for other types, RANK ERROR for rank above 2 (above 1 for a
// nested argument or an item).
std::vector<std::u32string> NameListArgument(Ref names);

// The registry entry of a ⎕-name ("⎕IO", "⎕io"), or nullptr when the text is not one.
const SystemNameEntry* FindQuadName(std::u32string_view text);

CallResult QuadNC(const Ref& left, const Ref& right);
CallResult QuadNL(const Ref& left, const Ref& right);
CallResult QuadEX(const Ref& left, const Ref& right);
CallResult QuadNS(const Ref& left, const Ref& right);
CallResult QuadCS(const Ref& left, const Ref& right);
CallResult QuadSIZE(const Ref& left, const Ref& right);
Ref QuadTHIS();

}  // namespace vantor
