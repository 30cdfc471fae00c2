#include "web/TRowPlan.h"

#include <algorithm>

#include "web/WebSections.h"

namespace {

// Names longer than this are no variables: a stray "%" does not make the walk quadratic.
constexpr std::size_t MaxNameLength = 100;
// Sections nested deeper stay text: the walk over a row is recursive.
constexpr int MaxDepth = 32;

// The section a start tag at the place names (its number and the tag's length), or -1.
int SectionAt(std::string_view lower, std::size_t at, std::size_t& length) {
  const std::string_view rest = lower.substr(at);
  const auto tag = [&](std::string_view name) {
    if (rest.size() < name.size() + 2 || rest[0] != '<' || rest.substr(1, name.size()) != name) return std::string_view::npos;
    return name.size() + 1;
  };
  std::size_t end;
  if ((end = tag("error")) != std::string_view::npos && rest.size() > end && rest[end] == '>') {
    length = end + 1;
    return TRowPlan::ErrorSection;
  }
  if ((end = tag("log")) != std::string_view::npos && rest.size() > end && rest[end] == '>') {
    length = end + 1;
    return 100;
  }
  for (const auto& [name, base] : {std::pair{std::string_view("cmd"), TRowPlan::CmdSection},
                                   std::pair{std::string_view("nocmd"), TRowPlan::NoCmdSection}}) {
    if ((end = tag(name)) == std::string_view::npos) continue;
    int number = 0;
    std::size_t digits = end;
    while (digits < rest.size() && digits < end + 2 && rest[digits] >= '0' && rest[digits] <= '9')
      number = number * 10 + (rest[digits++] - '0');
    if (digits > end && digits < rest.size() && rest[digits] == '>' && number < 12) {
      length = digits + 1;
      return base + number;
    }
  }
  return -1;
}

}  // namespace

struct TRowPlan::TParse {
  std::string_view Text;
  std::string Lower;
  const TResolver& Resolve;
  bool Sections;
  TRowPlan& Plan;

  static void AddText(std::vector<TRowNode>& nodes, std::string_view text) {
    if (text.empty()) return;
    if (!nodes.empty() && nodes.back().Kind == TRowNode::TKind::Text) {
      nodes.back().Text += text;
      return;
    }
    TRowNode node;
    node.Text = text;
    nodes.push_back(std::move(node));
  }

  void Variables(std::vector<TRowNode>& nodes, std::size_t from, std::size_t to, bool inLog) {
    std::size_t done = from;
    std::size_t at = from;
    std::string literal;
    while (at < to) {
      const std::size_t open = Text.find('%', at);
      if (open == std::string_view::npos || open >= to) break;
      const std::size_t close = Text.find('%', open + 1);
      if (close == std::string_view::npos || close >= to) break;
      if (close - open > MaxNameLength) {
        at = open + 1;
        continue;
      }
      literal.clear();
      const int number = Resolve(Text.substr(open, close - open + 1), inLog, literal);
      if (number == Unknown) {
        // The closing "%" may open the next variable.
        at = close;
        continue;
      }
      AddText(nodes, Text.substr(done, open - done));
      if (number == Literal) {
        AddText(nodes, literal);
      } else {
        TRowNode node;
        node.Kind = TRowNode::TKind::Variable;
        node.Number = number;
        node.Text = Text.substr(open, close - open + 1);
        nodes.push_back(std::move(node));
        Plan.FUsed.push_back(number);
      }
      done = at = close + 1;
    }
    AddText(nodes, Text.substr(done, to - done));
  }

  // The matching end tag of the section whose start tag ends at from, or npos.
  std::size_t MatchingEnd(std::size_t from, std::size_t to, std::string_view open, std::string_view close) const {
    const std::string_view lower(Lower);
    int depth = 1;
    std::size_t at = from;
    while (true) {
      const std::size_t nextClose = lower.find(close, at);
      if (nextClose == std::string_view::npos || nextClose + close.size() > to) return std::string_view::npos;
      const std::size_t nextOpen = lower.find(open, at);
      if (nextOpen != std::string_view::npos && nextOpen < nextClose) {
        ++depth;
        at = nextOpen + open.size();
        continue;
      }
      if (--depth == 0) return nextClose;
      at = nextClose + close.size();
    }
  }

  void Nodes(std::vector<TRowNode>& nodes, std::size_t from, std::size_t to, bool inLog, int depth) {
    std::size_t done = from;
    std::size_t at = from;
    while (Sections && depth < MaxDepth && at < to) {
      const std::size_t tag = Lower.find('<', at);
      if (tag == std::string::npos || tag >= to) break;
      std::size_t length = 0;
      const int section = SectionAt(std::string_view(Lower).substr(0, to), tag, length);
      if (section < 0) {
        at = tag + 1;
        continue;
      }
      const std::string open = Lower.substr(tag, length);
      const std::string close = "</" + open.substr(1);
      const std::size_t end = MatchingEnd(tag + length, to, open, close);
      if (end == std::string::npos) {
        at = tag + length;
        continue;
      }
      Variables(nodes, done, tag, inLog);
      done = at = end + close.size();
      if (section == 100) {
        // The first log section holds the host's log rows; later ones go.
        if (inLog || Plan.FHasLog) continue;
        Plan.FHasLog = true;
        TRowNode node;
        node.Kind = TRowNode::TKind::Log;
        Nodes(node.Children, tag + length, end, true, depth + 1);
        nodes.push_back(std::move(node));
        continue;
      }
      TRowNode node;
      node.Kind = TRowNode::TKind::Section;
      node.Number = section;
      Nodes(node.Children, tag + length, end, inLog, depth + 1);
      nodes.push_back(std::move(node));
    }
    Variables(nodes, done, to, inLog);
  }
};

namespace {

void AppendKey(std::string& key, const std::vector<TRowNode>& nodes) {
  for (const TRowNode& node : nodes) {
    key += static_cast<char>('0' + static_cast<int>(node.Kind));
    key += std::to_string(node.Kind == TRowNode::TKind::Text ? node.Text.size() : static_cast<std::size_t>(node.Number));
    key += ':';
    if (node.Kind == TRowNode::TKind::Text) key += node.Text;
    if (node.Kind == TRowNode::TKind::Section || node.Kind == TRowNode::TKind::Log) {
      key += '{';
      AppendKey(key, node.Children);
      key += '}';
    }
  }
}

}  // namespace

TRowPlan::TRowPlan(std::string_view text, const TResolver& resolve, bool sections) {
  TParse parse{text, LowerAscii(text), resolve, sections, *this};
  parse.Nodes(FNodes, 0, text.size(), false, 0);
  AppendKey(FKey, FNodes);
  std::sort(FUsed.begin(), FUsed.end());
  FUsed.erase(std::unique(FUsed.begin(), FUsed.end()), FUsed.end());
}

bool TRowPlan::Uses(int variable) const { return std::binary_search(FUsed.begin(), FUsed.end(), variable); }

void TRowPlan::Render(std::string& out, TRowValues& values, const std::vector<TRowNode>& nodes) {
  for (const TRowNode& node : nodes) switch (node.Kind) {
      case TRowNode::TKind::Text: out += node.Text; break;
      case TRowNode::TKind::Variable: values.Append(out, node.Number, node.Text); break;
      case TRowNode::TKind::Section:
        if (values.Keep(node.Number)) Render(out, values, node.Children);
        break;
      case TRowNode::TKind::Log: values.AppendLog(out, node.Children); break;
    }
}
