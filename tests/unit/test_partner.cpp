// The transfer form seen from C++: values written and read back match, the stream of an array has
// the documented words, and a stream that is cut short or damaged is refused (or read) without
// leaving the heap inconsistent.
#include <gtest/gtest.h>

#include <random>

#include "heap_fixture.h"
#include "language/session.h"
#include "base/errors.h"
#include "memory/memory2.h"
#include "memory/partner.h"

namespace vantor::test {
namespace {

class PartnerTest : public InterpreterTest {
 protected:
  // Writes the value of `name`, reads the stream back into `copy` and says whether the two match.
  bool RoundTrips(const char32_t* name) {
    std::vector<uint8_t> bytes = TransferBytes(ValueOf(name));
    Temporaries hold;
    hold[0] = ValueFromTransferBytes(bytes.data(), bytes.size());
    SetEntry(LookupName(U"copy", LookupMode::Create), kNameVariable, hold[0]);
    ExecuteLine(std::u32string(U"same←copy≡") + name);
    Ref same = ValueOf(U"same");
    return IsRef(same) && StoredNumber(same, 0) == 1;
  }
  // Reads a stream and says whether it was refused with DOMAIN ERROR.
  static bool Refused(const std::vector<uint8_t>& bytes) {
    try {
      Temporaries hold;
      hold[0] = ValueFromTransferBytes(bytes.data(), bytes.size());
      return false;
    } catch (const AplError& e) {
      EXPECT_EQ(e.errorNumber, static_cast<uint32_t>(kDomainError));
      return true;
    }
  }
};

TEST_F(PartnerTest, ValuesOfEveryElementTypeAndDepthRoundTrip) {
  ExecuteLine(U"v1←1 0 1 1 ⋄ v2←¯5 0 7 100000 ⋄ v3←1.5 ¯2E300 ⋄ v4←'text⍳∆' ⋄ v5←0J1 3 ⋄ v6←⍬ ⋄ v7←2 3⍴⍳6");
  ExecuteLine(U"v8←(1 2)('ab' (⊂3 4)) ⋄ v9←0⍴⊂'ab' ⋄ v10←5 ⋄ v11←⊂⊂'x' ⋄ v12←{(⊂⍵),1}⍣100000⊢1 2");
  for (const char32_t* name : {U"v1", U"v2", U"v3", U"v4", U"v5", U"v6", U"v7", U"v8", U"v9", U"v10", U"v11", U"v12"})
    EXPECT_TRUE(RoundTrips(name)) << std::string(name, name + 3).c_str();
  EXPECT_EQ(FindHeapFault(true), 0);
}

TEST_F(PartnerTest, ANamespaceReferencedTwiceIsWrittenOnceAndReadAsOne) {
  ExecuteLine(U"n←⎕NS '' ⋄ n.x←42 ⋄ n.f←{⍵×2} ⋄ pair←n n");
  std::vector<uint8_t> bytes = TransferBytes(ValueOf(U"pair"));
  Temporaries hold;
  hold[0] = ValueFromTransferBytes(bytes.data(), bytes.size());
  SetEntry(LookupName(U"copy", LookupMode::Create), kNameVariable, hold[0]);
  ExecuteLine(U"same←(≡/copy)∧(42=(⊃copy).x)∧(6=(⊃copy).f 3)∧~(⊃copy)≡n");
  EXPECT_EQ(StoredNumber(ValueOf(U"same"), 0), 1);
  EXPECT_EQ(FindHeapFault(true), 0);
}

TEST_F(PartnerTest, ABooleanVectorIsItsSizeTypeShapeAndPackedBits) {
  ExecuteLine(U"b←1 0 1 1 0 0 0 0 1");  // read as integers, narrowed to Booleans when written
  std::vector<uint8_t> bytes = TransferBytes(ValueOf(U"b"));
  ASSERT_EQ(bytes.size(), 16u);
  auto word = [&](size_t i) { return *reinterpret_cast<const uint32_t*>(bytes.data() + 4 * i); };
  EXPECT_EQ(word(0), 5u);                                      // size in words
  EXPECT_EQ(word(1), kKindSimple | 1u << kRankShift | kBool << kElementShift);
  EXPECT_EQ(word(2), 9u);                                      // shape
  EXPECT_EQ(bytes[12], 0xB0);                                  // 1011 0000
  EXPECT_EQ(bytes[13], 0x80);                                  // 1
  EXPECT_EQ(MeasureTransfer(ValueOf(U"b")), 16u);
}

TEST_F(PartnerTest, WhatCannotBeWrittenIsRefused) {
  ExecuteLine(U"n←⎕NS '' ⋄ n.up←#");
  EXPECT_THROW(TransferBytes(ValueOf(U"n")), AplError);
  EXPECT_THROW(TransferBytes(RootNamespace()), AplError);
}

TEST_F(PartnerTest, AStreamCutShortAnywhereIsRefused) {
  ExecuteLine(U"n←⎕NS '' ⋄ n.x←'abc' (1 2) ⋄ n.f←{⍺+⍵} ⋄ ⎕FX 'r←n.g x' 'r←x×2' ⋄ v←(⍳3) n (⊂'deep') 1.5");
  std::vector<uint8_t> bytes = TransferBytes(ValueOf(U"v"));
  for (size_t cut = 0; cut < bytes.size(); ++cut)
    EXPECT_TRUE(Refused(std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut))) << cut;
  std::vector<uint8_t> longer = bytes;
  longer.push_back(0);
  EXPECT_TRUE(Refused(longer));
  EXPECT_EQ(FindHeapFault(true), 0);
}

// A damaged stream is refused or read; either way the heap stays consistent.
TEST_F(PartnerTest, DamagedStreamsLeaveTheHeapConsistent) {
  ExecuteLine(U"n←⎕NS '' ⋄ n.x←'abc' (1 2) ⋄ n.f←{⍺+⍵} ⋄ d←+/ ⋄ v←(⍳3) n (⊂'deep') 1.5 (2 2⍴0J1)");
  std::vector<uint8_t> bytes = TransferBytes(ValueOf(U"v"));
  std::mt19937 random(7);
  const uint32_t values[] = {0, 1, 2, 3, 5, 7, 15, 0xFFFFFFFF, 0x7FFFFFFF, 0x80000000, 600, 1u << 20};
  for (int trial = 0; trial < 1000; ++trial) {
    std::vector<uint8_t> damaged = bytes;
    size_t at = 4 * (random() % (damaged.size() / 4));
    uint32_t value = values[random() % std::size(values)];
    std::memcpy(damaged.data() + at, &value, 4);
    try {
      Temporaries hold;
      hold[0] = ValueFromTransferBytes(damaged.data(), damaged.size());
    } catch (const AplError&) {
    }
    Compact(0, true);
    ASSERT_EQ(FindHeapFault(true), 0) << "trial " << trial << " word " << at / 4 << " value " << value;
  }
  Compact(0, true);
  EXPECT_EQ(FindHeapFault(true), 0);
}

}  // namespace
}  // namespace vantor::test
