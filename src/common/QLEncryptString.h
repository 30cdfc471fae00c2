#pragma once
// Keyed substitution that scrambles a text into a same-length text and back. It keeps
// stored passwords out of plain sight; it is not a cipher.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TQLEncryptString {
public:
  TQLEncryptString();
  TQLEncryptString(std::uint8_t loChar, std::uint8_t hiChar, std::int32_t encryptionKey, int shift);

  std::uint8_t LoChar() const { return FLoChar; }
  std::uint8_t HiChar() const { return FHiChar; }
  std::int32_t EncryptionKey() const { return FEncryptionKey; }
  std::int16_t Shift() const { return FShift; }

  // A LoChar above HiChar raises HiChar to it; a HiChar below LoChar lowers LoChar.
  void SetLoChar(std::uint8_t value);
  void SetHiChar(std::uint8_t value);
  // The absolute value is used; INT32_MIN counts as 2^31.
  void SetEncryptionKey(std::int32_t value);
  // Shift is a 16-bit quantity: wider values wrap to 16 bits (40000 acts as -25536).
  void SetShift(int value);

  // Characters outside LoChar..HiChar are copied unchanged but still advance the
  // position counter, so Decrypt(Encrypt(t)) == t for every text and parameter.
  std::string Encrypt(std::string_view plainText) const;
  std::string Decrypt(std::string_view encryptedText) const;

  // The permutation of the range, as characters (for inspection and tests).
  std::string Permutation() const { return std::string(FPermutation.begin(), FPermutation.end()); }

private:
  void BuildTables();
  int InitialCounter() const;
  int NextCounter(int counter) const;

  std::uint8_t FLoChar = 32;
  std::uint8_t FHiChar = 126;
  std::int32_t FEncryptionKey = 0;
  std::int16_t FShift = 0;
  std::vector<char> FPermutation;
  // 1-based position in FPermutation of each character of the range, by offset from LoChar.
  std::vector<int> FInverse;
};

// The parameter set of the hosts and settings files: LoChar 32, HiChar 254, key 40729,
// shift 9164.
std::string ScrambleText(std::string_view text);
std::string UnscrambleText(std::string_view text);
