#include "common/NetText.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> LinkTexts(std::string_view line) {
  std::vector<THostLink> links;
  FindHostsInText(line, links);
  std::vector<std::string> texts;
  for (const THostLink& link : links) texts.push_back(link.Text);
  return texts;
}

using Texts = std::vector<std::string>;

}  // namespace

TEST(NetText, ParseAndFormatIPv4) {
  EXPECT_EQ(ParseIPv4(" 192.168.1.20\r\n"), (TIPv4Bytes{192, 168, 1, 20}));
  EXPECT_EQ(ParseIPv4("10.x.3"), (TIPv4Bytes{10, 0, 3, 0}));
  EXPECT_EQ(ParseIPv4("1.999999999999.256.4"), (TIPv4Bytes{1, 0, 0, 4}));
  EXPECT_EQ(ParseIPv4(""), (TIPv4Bytes{0, 0, 0, 0}));
  EXPECT_EQ(FormatIPv4({10, 0, 255, 7}), "10.0.255.7");
  EXPECT_EQ(FormatIPv4(ParseIPv4("127.000.0.01")), "127.0.0.1");

  EXPECT_TRUE(IsValidIPv4("0.0.0.0"));
  EXPECT_TRUE(IsValidIPv4("\t255.255.255.255 "));
  EXPECT_TRUE(IsValidIPv4("1.2.3.4.whatever"));
  EXPECT_FALSE(IsValidIPv4("1.2.3"));
  EXPECT_FALSE(IsValidIPv4("1.2..4"));
  EXPECT_FALSE(IsValidIPv4("1.2.3.256"));
  EXPECT_FALSE(IsValidIPv4("1.2.3.999999999999"));
  EXPECT_FALSE(IsValidIPv4("1.2.3.-4"));
  EXPECT_FALSE(IsValidIPv4("1.2.3. 4"));
  EXPECT_FALSE(IsValidIPv4("host.example.com"));
}

TEST(NetText, FindHostsInTextLinksAddressesAndNames) {
  std::vector<THostLink> links;
  EXPECT_TRUE(FindHostsInText(" 3  12 ms  gw.example.net [192.0.2.1]", links));
  ASSERT_EQ(links.size(), 2u);
  EXPECT_EQ(links[0].Text, "gw.example.net");
  EXPECT_EQ(links[0].Start, 12);
  EXPECT_EQ(links[0].Length, 14);
  EXPECT_EQ(links[1].Text, "192.0.2.1");
  EXPECT_EQ(links[1].Start, 28);
  EXPECT_EQ(links[1].Length, 9);

  // A sentence-ending dot is dropped; the position points at the name itself.
  links.clear();
  EXPECT_TRUE(FindHostsInText("Reached mail.corp.example.", links));
  ASSERT_EQ(links.size(), 1u);
  EXPECT_EQ(links[0].Text, "mail.corp.example");
  EXPECT_EQ(links[0].Start, 9);
  EXPECT_EQ(LinkTexts("..www.example.org.."), Texts{"www.example.org"});
  EXPECT_EQ(LinkTexts("Ping 198.51.100.7."), Texts{"198.51.100.7"});

  // Netmasks, 0.0.0.0, out-of-range or short numbers and version numbers are not links.
  EXPECT_EQ(LinkTexts("mask 255.255.255.0 255.255.255.255 0.0.0.0 128.0.0.0"), Texts{});
  EXPECT_EQ(LinkTexts("256.1.1.1 1.2.3 1.2.3.4.5 10..1.2.3"), Texts{});
  EXPECT_EQ(LinkTexts("255.0.255.0 10.0.0.0"), (Texts{"255.0.255.0", "10.0.0.0"}));

  // One dot needs one of the four endings, in any case; double dots do not count.
  EXPECT_EQ(LinkTexts("see Example.COM or site.edu"), (Texts{"Example.COM", "site.edu"}));
  EXPECT_EQ(LinkTexts("file.txt example.co a..b.c"), Texts{});
  EXPECT_EQ(LinkTexts("on the internet. With .NET and telecom."), Texts{});
  EXPECT_EQ(LinkTexts("a-b.c-d.e-f"), Texts{"a-b.c-d.e-f"});

  links.clear();
  EXPECT_FALSE(FindHostsInText("", links));
  EXPECT_FALSE(FindHostsInText("no hosts here...", links));
  EXPECT_TRUE(links.empty());
}

TEST(NetText, IsValidEmailAddress) {
  EXPECT_TRUE(IsValidEmailAddress("ops@example.com"));
  EXPECT_TRUE(IsValidEmailAddress("first.last+tag_1@mail-1.example.info"));
  EXPECT_TRUE(IsValidEmailAddress("Night Desk <ops@example.com>"));
  EXPECT_TRUE(IsValidEmailAddress("\"Ops Team\" <ops@example.com>"));
  EXPECT_TRUE(IsValidEmailAddress("\"ops team\"@example.com"));

  EXPECT_FALSE(IsValidEmailAddress(""));
  EXPECT_FALSE(IsValidEmailAddress("ops.example.com"));
  EXPECT_FALSE(IsValidEmailAddress("@example.com"));
  EXPECT_FALSE(IsValidEmailAddress("ops@localhost"));
  EXPECT_FALSE(IsValidEmailAddress("ops@example.c"));
  EXPECT_FALSE(IsValidEmailAddress("ops@example.museum"));
  EXPECT_FALSE(IsValidEmailAddress("ops team@example.com"));
  EXPECT_FALSE(IsValidEmailAddress("ops@exa mple.com"));
  EXPECT_FALSE(IsValidEmailAddress("ops@example.com "));
  EXPECT_FALSE(IsValidEmailAddress("ops@ex@ample.com"));
  EXPECT_FALSE(IsValidEmailAddress("op;s@example.com"));
  EXPECT_FALSE(IsValidEmailAddress("Night Desk <>"));
  EXPECT_FALSE(IsValidEmailAddress("Night Desk <ops@example>"));
  // A quoted local part must be closed and not empty; every domain label holds something.
  EXPECT_FALSE(IsValidEmailAddress("\"ops team@example.com"));
  EXPECT_FALSE(IsValidEmailAddress("\"\"@example.com"));
  EXPECT_FALSE(IsValidEmailAddress("ops@.com"));
  EXPECT_FALSE(IsValidEmailAddress("ops@example..com"));
  EXPECT_FALSE(IsValidEmailAddress("ops@example.com."));
}
