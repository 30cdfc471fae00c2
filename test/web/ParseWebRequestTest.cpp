// The request head parser on its own: what each header and request line gives, and the
// names it lets through to the file system.
#include <gtest/gtest.h>

#include <string>

#include "common/DateTime.h"
#include "web/ParseWebRequest.h"

namespace {

struct TParsed {
  std::string Status;
  TWebRequest Request;
  TWebTarget Target;
};

TParsed Parse(const std::string& head, const TWebPasswords& passwords = {}, bool mobilePage = true) {
  TParsed p;
  p.Status = ParseWebRequest(head, passwords, "monitor:8080", mobilePage, p.Request, p.Target);
  return p;
}

TEST(ParseWebRequest, HeadersFlagsAndTheRequestLine) {
  const TParsed p = Parse(
      "GET /Reports/Daily/index.html?groupid=12&name=a%20b&flag&=x&name=second HTTP/1.1\r\n"
      "  user-agent:   Mozilla/4.0 (compatible; MSIE 6.0; Windows NT)  \r\n"
      "REFERER: http://back/\r\n"
      "If-Modified-Since: Tue, 08 Dec 2026 14:03:43 zone\r\n"
      "Connection: Close");
  EXPECT_EQ(p.Status, "");
  EXPECT_EQ(p.Request.Client.UserAgent, "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT)");
  EXPECT_TRUE(p.Request.Client.IE);
  EXPECT_FALSE(p.Request.Client.Mobile);
  EXPECT_TRUE(p.Request.Client.HTTP11);
  EXPECT_EQ(p.Request.Client.Host, "monitor:8080");
  EXPECT_EQ(p.Request.Client.Referer, "http://back/");
  EXPECT_EQ(p.Request.Client.Path, "/Reports/Daily/index.html?groupid=12&name=a%20b&flag&=x&name=second");
  EXPECT_TRUE(p.Target.CloseAsked);
  EXPECT_EQ(p.Target.Folder, "Reports\\Daily");
  EXPECT_EQ(p.Target.Name, "index");
  EXPECT_EQ(p.Target.Extension, ".html");
  EXPECT_EQ(p.Request.GroupFilter, 12);
  EXPECT_EQ(p.Request.Param("NAME"), "a b");  // the first of a name counts
  EXPECT_TRUE(p.Request.HasParam("flag"));
  EXPECT_EQ(p.Request.IfModifiedSince, EncodeDateTime(2026, 12, 8, 14, 3, 43));
  EXPECT_FALSE(p.Request.Head);

  const TParsed head = Parse("head / HTTP/1.0\r\nHost: example:81\r\nuser-agent: msie; msie 5");
  EXPECT_EQ(head.Status, "");
  EXPECT_TRUE(head.Request.Head);
  EXPECT_FALSE(head.Request.Client.HTTP11);
  EXPECT_FALSE(head.Request.Client.IE);  // letter case counts
  EXPECT_EQ(head.Request.Client.Host, "example:81");
  EXPECT_EQ(head.Target.Name, "index");
  EXPECT_EQ(head.Request.IfModifiedSince, -1);

  EXPECT_EQ(Parse("GET / HTTP/1.0\r\nuser-agent: Opera/9 (Series60; SymbianOS/9.1)").Target.Name, "mobile");
  EXPECT_EQ(Parse("GET / HTTP/1.0\r\nuser-agent: MOT-V3/1").Target.Name, "mobile");
  EXPECT_EQ(Parse("GET / HTTP/1.0\r\nuser-agent: Windows CE; Smartphone; 176x220").Target.Name, "mobile");
  EXPECT_EQ(Parse("GET / HTTP/1.0\r\nuser-agent: BlackBerry9000/4.6").Target.Name, "index");
  EXPECT_EQ(Parse("GET / HTTP/1.0\r\nuser-agent: x; IEMobile 7").Target.Name, "mobile");
  EXPECT_EQ(Parse("GET / HTTP/1.0\r\nuser-agent: x; IEMobile 7", {}, false).Target.Name, "index");

  for (const char* bad : {"POST / HTTP/1.1", "PUT / HTTP/1.1", "GET / HTTPS/1.1", "GET /", "GETX / HTTP/1.1", "",
                          "Host: x\r\nuser-agent: GET / HTTP/1.1"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(Parse(bad).Status, "400");
  }
  // The request line is found among the headers, not only in the first line.
  EXPECT_EQ(Parse("X-First: 1\r\nGET /a.css HTTP/1.1").Target.Name, "a");
  EXPECT_EQ(Parse("GET /a.html?" + std::string(400, 'x') + " HTTP/1.1").Status, "");
}

TEST(ParseWebRequest, NamesNeverCarryAFolder) {
  struct TCase {
    const char* Path;
    const char* Name;
    const char* Extension;
  };
  const TCase cases[] = {
      {"/../../etc/passwd", "passwd", ""},
      {"/..\\..\\windows\\win.ini", "win", ".ini"},
      {"/%2e%2e%2f%2e%2e%2fetc%2fpasswd", "%2e%2e%2f%2e%2e%2fetc%2fpasswd", ""},
      {"/a/b/c/../style.css", "style", ".css"},
      {"/..", ".", "."},
      {"/x/..%5c..%5cfile.txt", "..%5c..%5cfile", ".txt"},
      {"//////image.png", "image", ".png"},
      {"/page.html/", "", ""},  // a folder without a file is no page
      {"/", "index", ".html"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Path);
    const TParsed p = Parse(std::string("GET ") + c.Path + " HTTP/1.1");
    EXPECT_EQ(p.Target.Name, c.Name);
    EXPECT_EQ(p.Target.Extension, c.Extension);
    EXPECT_EQ(p.Target.Name.find_first_of("/\\"), std::string::npos);
  }
}

TEST(ParseWebRequest, BasicCredentialsAndTheirBounds) {
  const TWebPasswords both{"view", "boss"};
  const auto level = [&both](const std::string& header) {
    return Parse("GET / HTTP/1.1\r\n" + header, both).Request.Client.AccessLevel;
  };
  EXPECT_EQ(level("Authorization: Basic dTpib3Nz"), WebAccessManage);           // u:boss
  EXPECT_EQ(level("authorization:  Basic dTp2aWV3  "), WebAccessView);         // u:view
  EXPECT_EQ(level("Authorization: Basic dTp2aWV3AAAA"), WebAccessView);        // trailing zero bytes dropped
  EXPECT_EQ(level("Authorization: Basic dTp2aWV3="), WebAccessView);
  EXPECT_EQ(level("Authorization: Basic dTp2a!V3"), WebAccessNone);            // not Base64
  EXPECT_EQ(level("Authorization: Digest dTpib3Nz"), WebAccessManage);         // the scheme is not checked
  // The decoder takes at most 255 characters: longer credentials give none.
  const std::string longUser(200, 'u');
  EXPECT_EQ(level("Authorization: Basic " + std::string(252, 'A') + "dTpib3Nz"), WebAccessNone);
  const TParsed p = Parse("GET / HTTP/1.1\r\nAuthorization: Basic dXNlcjpib3Nz", both);  // user:boss
  EXPECT_EQ(p.Request.Client.User, "user");
  EXPECT_EQ(p.Status, "");
  EXPECT_EQ(Parse("GET / HTTP/1.1", both).Status, "401");
  EXPECT_EQ(Parse("GET /x.html HTTP/2.0", both).Status, "401");

  struct TCase {
    const char* User;
    const char* Password;
    const char* View;
    const char* Manage;
    std::int32_t Level;
  };
  const TCase cases[] = {
      {"", "", "", "", WebAccessView},        {"a", "x", "", "", WebAccessView},
      {"", "x", "", "", WebAccessNone},       {"a\"", "", "", "", WebAccessNone},
      {"a", "x'", "", "x'", WebAccessNone},   {"a", "v", "v", "", WebAccessManage},
      {"a", "v", "v", "m", WebAccessView},    {"a", "m", "v", "m", WebAccessManage},
      {"a", "m", "", "m", WebAccessManage},   {"a", "x", "", "m", WebAccessView},
      {"a", "", "v", "", WebAccessNone},      {"a", "", "", "m", WebAccessView},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.User) + ":" + c.Password + " under " + c.View + "/" + c.Manage);
    EXPECT_EQ(WebAccessLevel(c.User, c.Password, {c.View, c.Manage}), c.Level);
  }
}

}  // namespace
