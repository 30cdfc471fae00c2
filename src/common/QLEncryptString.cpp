#include "common/QLEncryptString.h"

#include <algorithm>

namespace {

constexpr int CounterModulus = 32768;

// Built once: a hosts file scrambles or unscrambles a field or two per host. Encrypt
// and Decrypt only read the tables, so every thread may share it.
const TQLEncryptString& FileScrambler() {
  static const TQLEncryptString scrambler(32, 254, 40729, 9164);
  return scrambler;
}

}  // namespace

TQLEncryptString::TQLEncryptString() { BuildTables(); }

// As if the properties were set in the order LoChar, HiChar, EncryptionKey, Shift.
TQLEncryptString::TQLEncryptString(std::uint8_t loChar, std::uint8_t hiChar, std::int32_t encryptionKey,
                                   int shift)
    : FLoChar(std::min(loChar, hiChar)), FHiChar(hiChar), FEncryptionKey(encryptionKey),
      FShift(static_cast<std::int16_t>(shift)) {
  BuildTables();
}

void TQLEncryptString::SetLoChar(std::uint8_t value) {
  FLoChar = value;
  if (FHiChar < FLoChar) FHiChar = FLoChar;
  BuildTables();
}

void TQLEncryptString::SetHiChar(std::uint8_t value) {
  FHiChar = value;
  if (FLoChar > FHiChar) FLoChar = FHiChar;
  BuildTables();
}

void TQLEncryptString::SetEncryptionKey(std::int32_t value) {
  FEncryptionKey = value;
  BuildTables();
}

void TQLEncryptString::SetShift(int value) { FShift = static_cast<std::int16_t>(value); }

// The accumulator follows 32-bit signed arithmetic bit for bit ("a = |a + k|" wraps), but
// is held unsigned so that the one value whose absolute value does not fit, -2^31, is
// read as 2^31 instead of producing a negative pool index.
void TQLEncryptString::BuildTables() {
  const int n = FHiChar - FLoChar + 1;
  std::vector<char> pool;
  pool.reserve(static_cast<size_t>(n));
  for (int c = FLoChar; c <= FHiChar; ++c) pool.push_back(static_cast<char>(c));

  const auto keyBits = static_cast<std::uint32_t>(FEncryptionKey);
  const std::uint32_t k = FEncryptionKey < 0 ? 0u - keyBits : keyBits;
  std::uint32_t a = 0;
  FPermutation.clear();
  FPermutation.reserve(static_cast<size_t>(n));
  FInverse.assign(static_cast<size_t>(n), 0);
  for (int step = 0; step < n; ++step) {
    const std::uint32_t sum = a + k;
    a = (sum & 0x80000000u) != 0 ? 0u - sum : sum;
    const size_t index = a % pool.size();
    const char picked = pool[index];
    FPermutation.push_back(picked);
    FInverse[static_cast<unsigned char>(picked) - FLoChar] = static_cast<int>(FPermutation.size());
    pool.erase(pool.begin() + static_cast<std::ptrdiff_t>(index));
  }
}

int TQLEncryptString::InitialCounter() const {
  const int b = FShift % CounterModulus;
  return b < 0 ? -b : b;
}

// Truncating remainder as in the original arithmetic: with a negative Shift the counter
// may go negative; the index computations below stay in range for that case.
int TQLEncryptString::NextCounter(int counter) const { return (counter + FShift) % CounterModulus; }

std::string TQLEncryptString::Encrypt(std::string_view plainText) const {
  const int n = static_cast<int>(FPermutation.size());
  std::string result(plainText);
  int b = InitialCounter();
  for (char& ch : result) {
    const int c = static_cast<unsigned char>(ch);
    if (c >= FLoChar && c <= FHiChar) {
      int index = (b % n + (c - FLoChar)) % n;
      if (index < 0) index += n;
      ch = FPermutation[static_cast<size_t>(index)];
    }
    b = NextCounter(b);
  }
  return result;
}

std::string TQLEncryptString::Decrypt(std::string_view encryptedText) const {
  const int n = static_cast<int>(FPermutation.size());
  std::string result(encryptedText);
  int b = InitialCounter();
  for (char& ch : result) {
    const int c = static_cast<unsigned char>(ch);
    if (c >= FLoChar && c <= FHiChar) {
      const int position = FInverse[static_cast<size_t>(c - FLoChar)];
      ch = static_cast<char>(FLoChar + (position + 2 * n - b % n - 1) % n);
    }
    b = NextCounter(b);
  }
  return result;
}

std::string ScrambleText(std::string_view text) { return FileScrambler().Encrypt(text); }

std::string UnscrambleText(std::string_view text) { return FileScrambler().Decrypt(text); }
