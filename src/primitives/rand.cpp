// Roll and deal over three generators. A value below n comes from Lehmer's step scaled by n, or
// from 64 random bits masked to the smallest all-ones mask that covers n-1, drawn again while the
// masked value is n or more (uniform for the Mersenne Twister and the system's source).
#include "primitives/rand.h"

#include <sys/random.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <random>
#include <unordered_set>
#include <vector>

#include "language/dmx.h"
#include "primitives/dispatch.h"
#include "base/errors.h"
#include "memory/memory1.h"
#include "sysfns/quadvar.h"

namespace vantor {

static constexpr char kUnit[] = "rand";

namespace {

enum Generator : int { kLehmer = 0, kMersenne = 1, kSystem = 2 };

constexpr int64_t kLehmerModulus = 2147483647;
constexpr int64_t kLehmerMultiplier = 16807;
constexpr int64_t kLargestSeed = kLehmerModulus - 1;

Generator g_generator = kLehmer;
std::mt19937_64 g_mersenne;  // seeded with 5489 until ⎕RL seeds it

[[noreturn]] void RollDomain() { SIGNAL_MESSAGE(kDomainError, U"Roll right argument must consist of non-negative integer(s)"); }
[[noreturn]] void RangeTooSmall() {
  SIGNAL_MESSAGE(kDomainError, U"The selected random number generator does not produce a sufficient range of values");
}

uint64_t SystemBits() {
  uint64_t bits = 0;
  for (size_t got = 0; got < sizeof bits;) {
    ssize_t n = getrandom(reinterpret_cast<uint8_t*>(&bits) + got, sizeof bits - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) SIGNAL_MESSAGE(kDomainError, U"The selected random number generator is not implemented on this platform");
    got += static_cast<size_t>(n);
  }
  return bits;
}

int64_t CurrentSeed() {
  Temporaries hold;
  hold[0] = ReadSystemVariable(kQuadRL);
  std::vector<int64_t> seed;
  return IsRef(hold[0]) && ReadIntegers(hold[0], seed) && seed.size() == 1 ? seed[0] : kLehmerMultiplier;
}

// Draws for one call of roll or deal: Lehmer's state is read from ⎕RL at the start and written back
// at the end.
class Draws {
 public:
  Draws() : state_(g_generator == kLehmer ? CurrentSeed() : 0) {}
  ~Draws() {
    if (g_generator != kLehmer || state_ == start_) return;
    Temporaries hold;
    hold[0] = MakeIntScalar(static_cast<int32_t>(state_));
    AssignSystemVariable(kQuadRL, hold[0]);
  }
  Draws(const Draws&) = delete;
  Draws& operator=(const Draws&) = delete;

  // A value from 0 to n-1 (n at least 1).
  uint64_t Below(uint64_t n) {
    if (g_generator == kLehmer) {
      if (n > static_cast<uint64_t>(kLargestSeed)) RangeTooSmall();
      Step();
      return static_cast<uint64_t>(state_) * n / kLehmerModulus;  // both below 2^31: the product fits
    }
    const uint64_t mask = n == 1 ? 0 : ~uint64_t{0} >> std::countl_zero(n - 1);
    for (;;) {
      uint64_t v = Bits() & mask;
      if (v < n) return v;
    }
  }
  // A float strictly between 0 and 1.
  double Fraction() {
    if (g_generator == kLehmer) {
      Step();
      return static_cast<double>(state_) / kLehmerModulus;
    }
    return (static_cast<double>(Bits() >> 11) + 0.5) * 0x1p-53;
  }
  uint64_t Largest() const { return g_generator == kLehmer ? kLargestSeed : uint64_t{1} << 53; }

 private:
  void Step() { state_ = state_ * kLehmerMultiplier % kLehmerModulus; }
  uint64_t Bits() { return g_generator == kMersenne ? g_mersenne() : SystemBits(); }
  int64_t state_;
  const int64_t start_ = state_;
};

// ---- Roll ----------------------------------------------------------------------------------------

// An item of roll's argument as the n it asks for: a non-negative integer.
uint64_t RollItem(double x) {
  if (!(x >= 0) || x != std::floor(x) || x > 9007199254740992.0) RollDomain();
  return static_cast<uint64_t>(x);
}

template <class T>
void RollIntegers(const T* in, T* out, uint64_t count, uint32_t origin, Draws& draws) {
  for (uint64_t i = 0; i < count; ++i) {
    if (in[i] < 0) RollDomain();
    out[i] = static_cast<T>(draws.Below(static_cast<uint64_t>(in[i])) + origin);
    if ((i & 0xFFFF) == 0) CheckStrongInterrupt();
  }
}

// A new array of `type` with the shape of `array` (a registered slot).
Ref ShapedLike(const Ref& array, ElementType type) {
  const uint32_t rank = RankOf(TypeWord(array));
  Ref result = AllocArray(type, rank, ElementCount(array));
  std::copy(ShapeOf(array), ShapeOf(array) + rank, ShapeOf(result));
  return result;
}

// Integers of 8, 16 or 32 bits give integers of the same type, unless one is 0 (a fraction).
template <class T>
Ref RollIntegerArray(Ref array, uint32_t origin, Draws& draws) {
  const uint64_t n = ElementCount(array);
  const T* in = DataOf<T>(array);
  if (std::find(in, in + n, T{0}) != in + n) return 0;
  Temporaries hold;
  hold[0] = Retained(array);
  hold[1] = ShapedLike(hold[0], ElementOf(TypeWord(array)));
  RollIntegers(DataOf<T>(hold[0]), DataOf<T>(hold[1]), n, origin, draws);
  return hold.Take(1);
}

// Any other numbers give floats.
Ref RollAsFloats(Ref array, uint32_t origin, Draws& draws) {
  const uint64_t n = ElementCount(array);
  Temporaries hold;
  hold[0] = Retained(array);
  hold[1] = ShapedLike(hold[0], kFloat64);
  hold[2] = AllocScalar(kFloat64);
  for (uint64_t i = 0; i < n; ++i) {
    if (ElementOf(TypeWord(hold[0])) == kComplex && DataOf<double>(hold[0])[2 * i + 1] != 0) RollDomain();
    CopyElement(hold[2], 0, hold[0], i);
    uint64_t k = RollItem(*DataOf<double>(hold[2]));
    if (k > draws.Largest()) RangeTooSmall();
    DataOf<double>(hold[1])[i] = k == 0 ? draws.Fraction() : static_cast<double>(draws.Below(k) + origin);
    if ((i & 0xFFFF) == 0) CheckStrongInterrupt();
  }
  return hold.Take(1);
}

Ref RollSimple(Ref array, uint32_t origin, Draws& draws) {
  const ElementType type = ElementOf(TypeWord(array));
  if (!(kElementInfo[type].classes & kClassNumeric)) RollDomain();
  Ref result = 0;
  if (type == kInt8) result = RollIntegerArray<int8_t>(array, origin, draws);
  else if (type == kInt16) result = RollIntegerArray<int16_t>(array, origin, draws);
  else if (type == kInt32) result = RollIntegerArray<int32_t>(array, origin, draws);
  return result ? result : RollAsFloats(array, origin, draws);
}

// Roll is a scalar function: it reaches through nested arrays to their simple items.
Ref RollValue(Ref array, uint32_t origin, Draws& draws) {
  if (!IsArray(array)) RollDomain();
  if (KindOf(TypeWord(array)) == kKindSimple) return RollSimple(array, origin, draws);
  if (NativeStackLow()) SIGNAL(kLimitError);
  const uint64_t n = ElementCount(array);
  Temporaries hold;
  hold[0] = Retained(array);
  hold[1] = ShapedLike(hold[0], kRefElement);
  for (uint64_t i = 0; i < std::max<uint64_t>(n, 1); ++i) {
    Ref item = RollValue(DataOf<Ref>(hold[0])[i], origin, draws);
    DataOf<Ref>(hold[1])[i] = item;
  }
  return hold.Take(1);
}

CallResult Roll(const Ref&, const Ref& right) {
  Draws draws;
  return {RollValue(right, IndexOrigin(), draws)};
}

// ---- Deal ----------------------------------------------------------------------------------------

// A single non-negative integer, or the error named.
int64_t DealOperand(Ref value, uint32_t negativeMessage) {
  std::vector<int64_t> n;
  if (!IsArray(value) || ElementCount(value) != 1) SIGNAL(kLengthError);
  if (!ReadIntegers(value, n)) SIGNAL(kDomainError);
  if (n[0] < 0) SIGNAL_ROW(kDomainError, negativeMessage);
  return n[0];
}

CallResult Deal(const Ref& left, const Ref& right) {
  const int64_t a = DealOperand(left, MessageRow(U"Deal left argument must be non-negative"));
  const int64_t b = DealOperand(right, MessageRow(U"Deal right argument must be non-negative"));
  if (a > b) SIGNAL_MESSAGE(kDomainError, U"Deal right argument must be greater than or equal to the left argument");
  if (b > kLehmerModulus) RangeTooSmall();
  const uint32_t origin = IndexOrigin();
  Draws draws;
  Temporaries hold;
  hold[0] = AllocVector(kInt32, static_cast<uint32_t>(a));
  int32_t* out = DataOf<int32_t>(hold[0]);
  if (b <= 4 * a || b <= 65536) {
    // A partial shuffle of 0 to b-1: the first a places are the deal.
    std::vector<int32_t> all(static_cast<size_t>(b));
    for (int64_t i = 0; i < b; ++i) all[static_cast<size_t>(i)] = static_cast<int32_t>(i);
    for (int64_t i = 0; i < a; ++i) {
      uint64_t j = static_cast<uint64_t>(i) + draws.Below(static_cast<uint64_t>(b - i));
      std::swap(all[static_cast<size_t>(i)], all[j]);
      out[i] = all[static_cast<size_t>(i)] + static_cast<int32_t>(origin);
    }
  } else {
    std::unordered_set<int64_t> taken;
    for (int64_t i = 0; i < a;) {
      int64_t v = static_cast<int64_t>(draws.Below(static_cast<uint64_t>(b)));
      if (taken.insert(v).second) out[i++] = static_cast<int32_t>(v + origin);
    }
  }
  Narrow(hold[0]);
  return {hold.Take(0)};
}

// ---- ⎕RL and the generators ----------------------------------------------------------------------

void Seed(int64_t seed) {
  if (g_generator == kMersenne) g_mersenne.seed(static_cast<uint64_t>(seed));
}

// ⎕RL←: a seed from 1 to 2147483646, or 0 or an empty array for a fresh random one.
Ref CheckSeed(Ref value) {
  auto invalid = [](uint32_t en) { SIGNAL_MESSAGE(en, U"Invalid seed value"); };
  if (!IsArray(value) || KindOf(TypeWord(value)) != kKindSimple) invalid(kDomainError);
  if (RankOf(TypeWord(value)) > 1) invalid(kRankError);
  std::vector<int64_t> seed;
  if (!ReadIntegers(value, seed)) invalid(kDomainError);
  if (seed.size() > 1) invalid(kLengthError);
  if (seed.empty() || seed[0] == 0) seed.assign(1, static_cast<int64_t>(SystemBits() % kLargestSeed) + 1);
  if (seed[0] < 1 || seed[0] > kLargestSeed) invalid(kDomainError);
  Seed(seed[0]);
  return MakeIntScalar(static_cast<int32_t>(seed[0]));
}

constexpr PrimitiveRow kRandomRows[] = {{kPrimQuery, Roll, Deal, 0}};

}  // namespace

CallResult SelectRandomGenerator(const Ref&, const Ref& right) {
  std::vector<int64_t> choice;
  if (!IsArray(right) || ElementCount(right) != 1) SIGNAL_MESSAGE(kLengthError, U"Invalid random number generator selected");
  if (!ReadIntegers(right, choice) || choice[0] < kLehmer || choice[0] > kSystem)
    SIGNAL_MESSAGE(kDomainError, U"Invalid random number generator selected");
  const int previous = g_generator;
  g_generator = static_cast<Generator>(choice[0]);
  Seed(CurrentSeed());
  return {MakeIntScalar(previous)};
}

void InitialiseRandom() {
  InstallPrimitives(kRandomRows);
  RegisterSystemVariableCheck(kQuadRL, CheckSeed);
}

}  // namespace vantor
