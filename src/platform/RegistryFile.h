#pragma once
// The key tree of one registry root and the text file that holds it:
//
//   [Software\Quillmoor\Corvale]
//   "EXE"=sz:"/usr/bin/corvale"
//   "TypesSupported"=dword:00000007
//   "Position"=hex:00,00,00,00,00,00,f0,3f
//   "Odd"=hex(b):01,02
//
// One "[path]" line per key (parts joined by "\"), then one line per value: sz and
// expand_sz hold a text stored with its terminating zero, dword four bytes, hex binary
// data, hex(type) any other type or size. In key paths, names and texts the bytes 00-1F,
// 7F, '"', '%', '[' and ']' are written as "%" and two hexadecimal digits (in key names
// "\" too, as it separates them), so every byte round-trips and each entry stays on one
// line. Lines starting with ";" are comments.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct TRegValue {
  std::string Name;
  std::uint32_t Type = 0;
  std::string Data;
};

// Names compare without regard to case (Latin-1); a key keeps the spelling it was
// created with.
struct TRegNode {
  std::string Name;
  std::vector<TRegValue> Values;  // in the order they were created
  std::map<std::string, std::unique_ptr<TRegNode>> Children;  // by folded name
  // Lines under this key that could not be read; written back as they were so that a
  // damaged file never loses what is in it.
  std::vector<std::string> KeptLines;

  TRegNode* FindChild(std::string_view name) const;
  TRegNode& EnsureChild(std::string_view name);
  bool RemoveChild(std::string_view name);
  // The key at the end of the path below this one, or nullptr.
  TRegNode* Find(const std::vector<std::string>& path);

  const TRegValue* FindValue(std::string_view name) const;
  void SetValue(std::string_view name, std::uint32_t type, std::string_view data);
  bool RemoveValue(std::string_view name);
};

std::string RegFoldCase(std::string_view name);
bool RegSameName(std::string_view a, std::string_view b);
// The parts of a "\"-separated key path; empty parts are skipped.
std::vector<std::string> SplitRegPath(std::string_view path);

// Never fails: each line it cannot read is kept verbatim under the key it appears in
// (a key line it cannot read takes the lines after it along) and described in
// warnings as "line N: reason".
std::unique_ptr<TRegNode> ParseRegistryText(std::string_view text,
                                            std::vector<std::string>& warnings);
// The whole file; title goes into the first comment line.
std::string FormatRegistryText(const TRegNode& root, std::string_view title);
