// The actions file: where each line's item lands in the host menu, what the named
// actions are, and how a bad file stops without losing what came before it.
#include <gtest/gtest.h>

#include "support/TestSupport.h"
#include "tools/TActionsFile.h"

namespace {

const std::vector<std::string> BuiltIns{"Test Host Status", "View As...", "Windows Remote Desktop", "Power Control",
                                        "Trace Route"};

// The tree as text: "caption" for an action (with its command), "[caption]" for a
// heading with its items in parentheses, "-" for a separator.
std::string Shape(const std::vector<std::unique_ptr<TActionItem>>& items, const TActionsFile& file) {
  std::string out;
  for (const auto& item : items) {
    if (!out.empty()) out += " ";
    if (item->Separator) out += "-";
    else if (item->Command >= 0) out += item->Caption + "=" + file.Command(item->Command);
    else out += "[" + item->Caption + "]";
    if (!item->Items.empty()) out += "(" + Shape(item->Items, file) + ")";
  }
  return out;
}

}  // namespace

TEST(ActionsFileTest, LinesBuildTheMenuAndTheNamedActions) {
  const struct {
    const char* Name;
    std::string Text;
    bool Ok;
    std::string Shape;
    std::vector<std::string> Named;
  } cases[] = {
      {"submenu with a separator",
       "Tools=\r\n\\Ping=ping %1\r\n\\-\r\n\\Web page=xdg-open http://%1/\r\n",
       true,
       "[Test Host Status] [View As...] [Tools](Ping=ping %1 - Web page=xdg-open http://%1/) "
       "[Windows Remote Desktop] [Power Control] [Trace Route]",
       {"Tools: Ping=ping %1", "Tools: Web page=xdg-open http://%1/"}},
      {"a built-in submenu takes actions, later top-level lines follow it",
       "power control\n\\Wake all=wol.sh\nAfter=after.sh\n",
       true,
       "[Test Host Status] [View As...] [Windows Remote Desktop] [Power Control](Wake all=wol.sh) After=after.sh "
       "[Trace Route]",
       {"Power Control: Wake all=wol.sh", "After=after.sh"}},
      {"an action named like an earlier one is another action, never a submenu",
       "Tools=\r\n\\Ping=ping\r\nRun=a\r\nRun=b\r\n\\Late=c\r\n",
       true,
       "[Test Host Status] [View As...] [Tools](Ping=ping Late=c) Run=a Run=b [Windows Remote Desktop] "
       "[Power Control] [Trace Route]",
       {"Tools: Ping=ping", "Run=a", "Run=b", "Tools: Late=c"}},
      {"top-level separator, & doubled, untrimmed named line, blank lines skipped",
       "  A & B = run ab \n\n-\n   \nC=c\n",
       true,
       "[Test Host Status] [View As...] A && B=run ab - C=c [Windows Remote Desktop] [Power Control] [Trace Route]",
       {"  A & B = run ab ", "C=c"}},
      {"a heading seen again is reused; nested headings", "Ops=\n\\One=1\nOPS=\n\\Deep\n\\Two=2\n",
       true,
       "[Test Host Status] [View As...] [Ops](One=1 [Deep](Two=2)) [Windows Remote Desktop] [Power Control] "
       "[Trace Route]",
       {"Ops: One=1", "Deep: Two=2"}},
      {"a first sub-item line is refused", "\\Ping=ping %1\nLater=later\n", false,
       "[Test Host Status] [View As...] [Windows Remote Desktop] [Power Control] [Trace Route]", {}},
      {"what came before a bad line stays", "Keep=k\n" + std::string(5000, 'x') + "=y\n", false,
       "[Test Host Status] [View As...] Keep=k [Windows Remote Desktop] [Power Control] [Trace Route]", {"Keep=k"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TActionsFile file(BuiltIns, "Windows Remote Desktop");
    EXPECT_EQ(file.LoadFromText(c.Text), c.Ok) << file.Error();
    EXPECT_EQ(Shape(file.Items(), file), c.Shape);
    EXPECT_EQ(file.NamedActions(), c.Named);
    EXPECT_EQ(file.Error().empty(), c.Ok);
    if (!c.Ok) {
      EXPECT_EQ(file.Error().rfind("Unable to read Actions.cvl: line ", 0), 0u) << file.Error();
    }
  }
}

TEST(ActionsFileTest, NamesLookUpTheirCommandsAndTheFileIsBounded) {
  TActionsFile file(BuiltIns, "Windows Remote Desktop");
  ASSERT_TRUE(file.LoadFromText("Tools=\r\n\\Ping=ping -c 3 %1\r\n Trace = traceroute %1\r\n"));
  EXPECT_EQ(file.Lookup("Tools: Ping"), "ping -c 3 %1");
  EXPECT_EQ(file.Lookup("tools: ping"), "ping -c 3 %1");
  EXPECT_EQ(file.Lookup("Trace"), "traceroute %1");
  EXPECT_FALSE(file.Lookup("Ping").has_value());
  EXPECT_FALSE(file.Lookup("").has_value());

  testsupport::TTempDir dir;
  TActionsFile missing(BuiltIns, "Windows Remote Desktop");
  EXPECT_TRUE(missing.LoadFromFile(dir.File("Actions.cvl")));
  testsupport::WriteFileBytes(dir.File("Actions.cvl"), "Go=go %1\r\n");
  TActionsFile present(BuiltIns, "Windows Remote Desktop");
  EXPECT_TRUE(present.LoadFromFile(dir.File("Actions.cvl")));
  EXPECT_EQ(present.Lookup("Go"), "go %1");
  testsupport::WriteFileBytes(dir.File("Big.cvl"), std::string(TActionsFile::MaxFileSize + 1, 'a'));
  TActionsFile big(BuiltIns, "Windows Remote Desktop");
  EXPECT_FALSE(big.LoadFromFile(dir.File("Big.cvl")));
  std::string many;
  for (std::size_t i = 0; i <= TActionsFile::MaxActions; ++i) many += "a" + std::to_string(i) + "=x\n";
  TActionsFile crowded(BuiltIns, "Windows Remote Desktop");
  EXPECT_FALSE(crowded.LoadFromText(many));
  EXPECT_EQ(crowded.Commands().size(), TActionsFile::MaxActions);
}
