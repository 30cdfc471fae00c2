#pragma once
// A host row template of a page read once into its parts: text, variables and the
// sections a row keeps or drops by its host ("error", "cmd0" to "cmd11", "nocmd0" to
// "nocmd11", the first "log"). A row is then made by one walk over the parts, with every
// value inserted as a value: nothing a host holds is read again as template text. Pure:
// what a variable is worth and whether a section stays is asked of a TRowValues.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class TRowValues {
public:
  virtual ~TRowValues() = default;
  // Appends the value of the variable numbered by the plan's resolver (written: the name
  // as the template has it).
  virtual void Append(std::string& out, int variable, const std::string& written) = 0;
  // Whether the section (TRowPlan::ErrorSection, CmdSection + c, NoCmdSection + c) stays.
  virtual bool Keep(int section) = 0;
  // The host's log rows: the content once per line (its log variables then name it).
  virtual void AppendLog(std::string& out, const std::vector<struct TRowNode>& content) = 0;
};

struct TRowNode {
  enum class TKind : std::uint8_t { Text, Variable, Section, Log };
  TKind Kind = TKind::Text;
  int Number = 0;    // Variable: the resolver's number; Section: the section
  std::string Text;  // Text: the text itself; Variable: the name as written
  std::vector<TRowNode> Children;  // Section, Log: the content
};

class TRowPlan {
public:
  static constexpr int ErrorSection = 0;
  static constexpr int CmdSection = 1;     // + command number
  static constexpr int NoCmdSection = 13;  // + command number

  // What a "%word%" of the template is: a variable number (0 or more), Literal with the
  // text to insert (a page variable), or Unknown (it stays as written). inLog: inside the
  // log section, where the log variables are known too.
  static constexpr int Unknown = -1;
  static constexpr int Literal = -2;
  using TResolver = std::function<int(std::string_view name, bool inLog, std::string& literal)>;

  // sections false: a text without row sections (the group start and end texts).
  TRowPlan(std::string_view text, const TResolver& resolve, bool sections = true);

  // Appends the row for the values.
  void Render(std::string& out, TRowValues& values) const { Render(out, values, FNodes); }
  // Appends nodes (a section's or the log's content).
  static void Render(std::string& out, TRowValues& values, const std::vector<TRowNode>& nodes);

  const std::vector<TRowNode>& Nodes() const { return FNodes; }
  // Every part in order: equal keys make equal rows for equal values.
  const std::string& Key() const { return FKey; }
  bool HasLog() const { return FHasLog; }
  bool Uses(int variable) const;

private:
  struct TParse;

  std::vector<TRowNode> FNodes;
  std::vector<int> FUsed;  // the variable numbers, sorted
  std::string FKey;
  bool FHasLog = false;
};
