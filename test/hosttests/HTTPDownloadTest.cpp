// The HTTP client against real servers on loopback: the scripted test server for exact
// exchanges, a static python3 server for an ordinary one, TLS with certificates the
// test makes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QProcess>
#include <algorithm>
#include <filesystem>
#include <thread>

#include "common/ErrorText.h"
#include "common/QLRegistry.h"
#include "hosttests/TQLHTTPDownload.h"
#include "support/THttpTestServer.h"
#include "support/TTestCertificates.h"
#include "support/TestNetns.h"
#include "support/TestSupport.h"

using testsupport::THttpConnection;
using testsupport::THttpRequest;
using testsupport::THttpTestServer;
using testsupport::TScopedEnv;
using testsupport::TTempDir;

namespace {

// A private registry and no proxy from the environment of whoever runs the tests.
class HTTPDownload : public ::testing::Test {
protected:
  TTempDir FDir;
  TScopedEnv FRegistry{"CORVALE_REGISTRY_DIR", FDir.File("registry")};
  TScopedEnv FData{"CORVALE_DATA_DIR", FDir.File("data")};
  TScopedEnv FProxy1{"http_proxy", ""}, FProxy2{"HTTP_PROXY", ""}, FProxy3{"https_proxy", ""},
      FProxy4{"HTTPS_PROXY", ""}, FNoProxy1{"no_proxy", ""}, FNoProxy2{"NO_PROXY", ""};

  static std::string Fetch(TQLHTTPDownload& client, const std::string& url) {
    EXPECT_TRUE(client.SetURL(url));
    client.Request();
    return client.Body();
  }
  static std::string RegistryError() {
    return ReadRegText(HKEY_LOCAL_MACHINE, "Software\\Quillmoor\\HTTPDownload", "Error", "");
  }
};

std::string Head(const std::string& extra = "") { return "HTTP/1.1 200 OK\r\n" + extra + "\r\n"; }

// The scripted server's answers, chosen by the request's path.
void Script(THttpConnection& c) {
  const std::string path = c.Request().Target.substr(0, c.Request().Target.find('?'));
  if (path == "/chunked") {
    c.Send(Head("Transfer-Encoding: chunked\r\n") + "5\r\nhe");
    c.Pause(30);
    c.Send("llo\r\n6\r");
    c.Pause(30);
    c.Send("\n world\r\n0\r\n\r\n");
    c.Hang();  // the final chunk ends the body, not the close
  } else if (path == "/chunk-extension") {
    c.Send(Head("Transfer-Encoding: chunked\r\n") + "5;name=v\r\nhello\r\n6 ; q=\"a;b\"\r\n world\r\n0;end\r\n\r\n");
    c.Hang();
  } else if (path == "/chunk-unreadable" || path == "/chunk-negative" || path == "/chunk-huge") {
    const std::string size = path == "/chunk-unreadable" ? "zz" : path == "/chunk-negative" ? "-5" : "1000000000000000";
    c.Send(Head("Transfer-Encoding: chunked\r\n") + "2\r\nok\r\n" + size + "\r\nhello\r\n0\r\n\r\n");
    c.Hang();
  } else if (path == "/lf") {
    c.Send("HTTP/1.0 200 OK\nContent-Length: 2\nX-A: b\n\nhi");
    c.Hang();
  } else if (path == "/short") {
    c.Send(Head("Content-Length: 3\r\n") + "abcdef");
    c.Hang();
  } else if (path == "/missing") {
    c.Send(THttpTestServer::Response(404, "not here"));
    c.Hang();
  } else if (path == "/cut") {
    c.Send(Head("Content-Length: 100\r\n") + "0123456789");
  } else if (path == "/until-close") {
    c.Send(Head() + "first\r\n");
    c.Pause(20);
    c.Send("second");
  } else if (path == "/garbage") {
    c.Send("no header here");
  } else if (path == "/head") {
    c.Send(Head("Content-Length: 1000\r\n"));
    c.Hang();
  } else if (path == "/endless") {
    while (c.Send("X-Filler: 0123456789012345678901234567890123456789\r\n")) {
    }
  } else if (path == "/loop") {
    c.Send(THttpTestServer::Response(302, "", "Location: /loop\r\n"));
  } else if (path == "/relative") {
    c.Send(THttpTestServer::Response(302, "", "Location: /target\r\n"));
  } else if (path == "/see-other") {
    c.Send(THttpTestServer::Response(303, "", "Location: target\r\n"));
  } else if (path == "/split") {
    c.Send("HTTP/1.1 302 Found\r\nLocation: /x\nX-Evil: 1\r\nContent-Length: 0\r\n\r\n");
  } else if (path == "/ftp") {
    c.Send(THttpTestServer::Response(302, "", "Location: ftp://127.0.0.1/file\r\n"));
  } else if (path == "/big") {
    const std::string mb(1024 * 1024, 'x');
    c.Send(Head("Content-Length: " + std::to_string(17 * mb.size()) + "\r\n"));
    for (int i = 0; i < 17 && c.Send(mb); ++i) {
    }
  } else if (path == "/silent") {
    c.Hang();
  } else {
    c.Send(THttpTestServer::Response(200, "page " + c.Request().Target));
  }
}

std::uint16_t FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

}  // namespace

TEST_F(HTTPDownload, AddressesSplitAndRebuild) {
  struct TCase {
    const char* Url;
    bool Ok;
    const char* Server;
    int Port;
    const char* Document;
    bool Secure;
    const char* Rebuilt;  // after setting the document again
  };
  const TCase cases[] = {
      {"web.test/a/b", true, "web.test", 80, "/a/b", false, "http://web.test/a/b"},
      {"HTTP://Web.test", true, "Web.test", 80, "/", false, "http://Web.test/"},
      {"web.test:8080/x?q=1", true, "web.test", 8080, "/x?q=1", false, "http://web.test:8080/x?q=1"},
      {"http://web.test:/", true, "web.test", 80, "/", false, "http://web.test/"},
      {"http://web.test:port/", true, "web.test", 80, "/", false, "http://web.test/"},
      {"https://safe.test/p", true, "safe.test", 443, "/p", true, "https://safe.test/p"},
      {"HTTPS://safe.test:8443/", true, "safe.test", 8443, "/", true, "https://safe.test:8443/"},
      {"https://safe.test:80/", true, "safe.test", 80, "/", true, "https://safe.test:80/"},
      {"ftp://files.test/x", false, "old.test", 81, "/old", false, "http://old.test:81/old"},
      {"mailto://x", false, "old.test", 81, "/old", false, "http://old.test:81/old"},
      {"http://web.test/x\r\nX-Evil: 1", false, "old.test", 81, "/old", false, "http://old.test:81/old"},
  };
  for (const TCase& t : cases) {
    TQLHTTPDownload client;
    ASSERT_TRUE(client.SetURL("http://old.test:81/old"));
    EXPECT_EQ(client.SetURL(t.Url), t.Ok) << t.Url;
    EXPECT_EQ(client.HTTPServer(), t.Server) << t.Url;
    EXPECT_EQ(client.HTTPPort(), t.Port) << t.Url;
    EXPECT_EQ(client.Document(), t.Document) << t.Url;
    EXPECT_EQ(client.Secure(), t.Secure) << t.Url;
    client.SetDocument(client.Document());
    EXPECT_EQ(client.URL(), t.Rebuilt) << t.Url;
  }
  TQLHTTPDownload client;
  client.SetHTTPServer("host.test");
  client.SetDocument("page");
  EXPECT_EQ(client.URL(), "http://host.test/page");
  client.SetHTTPPort(8080);
  EXPECT_EQ(client.URL(), "http://host.test:8080/page");
  client.SetHTTPPort(80);
  EXPECT_EQ(client.URL(), "http://host.test/page");
}

TEST_F(HTTPDownload, LocationsSplitAsDocumentsOrAddresses) {
  bool secure = false;
  std::string server = "keep", document;
  int port = 1;
  EXPECT_EQ(TQLHTTPDownload::SplitURL("/other?x", secure, server, port, document), TQLHTTPDownload::TURLKind::Document);
  EXPECT_EQ(document, "/other?x");
  EXPECT_EQ(server, "keep");
  EXPECT_EQ(TQLHTTPDownload::SplitURL("http:/bare", secure, server, port, document), TQLHTTPDownload::TURLKind::Document);
  EXPECT_EQ(document, "bare");
  EXPECT_EQ(TQLHTTPDownload::SplitURL("gopher://x/y", secure, server, port, document), TQLHTTPDownload::TURLKind::Refused);
  EXPECT_EQ(server, "keep");
  EXPECT_EQ(TQLHTTPDownload::SplitURL("https://s.test/d", secure, server, port, document),
            TQLHTTPDownload::TURLKind::Absolute);
  EXPECT_TRUE(secure);
  EXPECT_EQ(port, 443);
  EXPECT_EQ(document, "d");
}

TEST_F(HTTPDownload, QueryEncoding) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"a=1 2", "b=x=y"}, "a=1+2&b=x%3Dy"},
      {{"novalue", "k=v"}, "k=v"},
      {{"k=a&b/c~\xe9"}, "k=a%26b%2Fc%7E%E9"},
      {{"k=[\\]^_`{|}AZaz09"}, "k=[\\]^_`{|}AZaz09"},
      {{"=", "sp ace=:;<>?@"}, "=&sp+ace=%3A%3B%3C%3E%3F%40"},
      {{}, ""},
  };
  for (const auto& [vars, query] : cases) EXPECT_EQ(TQLHTTPDownload::EncodeQuery(vars), query) << query;
}

TEST_F(HTTPDownload, Base64RefusesMoreThan255Characters) {
  EXPECT_EQ(TQLHTTPDownload::EncodeBase64("user:pass"), "dXNlcjpwYXNz");
  EXPECT_TRUE(TQLHTTPDownload::EncodeBase64(std::string(255, 'a')).has_value());
  EXPECT_FALSE(TQLHTTPDownload::EncodeBase64(std::string(256, 'a')).has_value());
  EXPECT_EQ(TQLHTTPDownload::DecodeBase64("QQ=="), std::string("A\0\0", 3));
  EXPECT_FALSE(TQLHTTPDownload::DecodeBase64("QQ!=").has_value());
  EXPECT_TRUE(TQLHTTPDownload::DecodeBase64(std::string(252, 'Q')).has_value());
  EXPECT_FALSE(TQLHTTPDownload::DecodeBase64(std::string(256, 'Q')).has_value());
}

TEST_F(HTTPDownload, RequestTextByteForByte) {
  THttpTestServer server(Script);
  ASSERT_TRUE(server.Start());
  const std::string common = "Accept: */*\r\nUser-agent: QLM HTTP Control 1.1\r\n";
  const std::string host = "Host: 127.0.0.1\r\n";
  const std::string form = "Content-Type: application/x-www-form-urlencoded\r\n";
  struct TCase {
    TQLDownloadMethod Method;
    TQLHTTPProtocol Protocol;
    std::vector<std::string> Vars;
    std::string User;
    std::string Expected;
  };
  const TCase cases[] = {
      {dmGET, dpHTTP11, {"a=1 2", "b=x=y"}, "", "GET /p?a=1+2&b=x%3Dy HTTP/1.1\r\n" + common + host + "\r\n"},
      {dmPOST, dpHTTP11, {}, "", "POST /p HTTP/1.1\r\n" + common + host + form + "Content-Length: 0\r\n\r\n"},
      {dmPOST, dpHTTP11, {"a=1 2"}, "", "POST /p HTTP/1.1\r\n" + common + host + form + "Content-Length: 5\r\n\r\na=1+2"},
      {dmHEAD, dpHTTP11, {"a=1"}, "", "HEAD /p HTTP/1.1\r\n" + common + host + "\r\n"},
      {dmGET, dpHTTP10, {}, "", "GET /p HTTP/1.0\r\n" + common + "\r\n"},
      {dmGET, dpHTTP11, {}, "user", "GET /p HTTP/1.1\r\n" + common + "Authorization: Basic dXNlcjpwYXNz\r\n" + host + "\r\n"},
  };
  for (const TCase& t : cases) {
    TQLHTTPDownload client;
    client.Method = t.Method;
    client.Protocol = t.Protocol;
    client.UploadVars = t.Vars;
    client.Username = t.User;
    client.Password = "pass";
    Fetch(client, server.Url("/p"));
    EXPECT_EQ(client.ResultCode(), 200) << t.Expected;
    ASSERT_FALSE(server.Requests().empty());
    EXPECT_EQ(server.Requests().back().Raw, t.Expected);
  }
  const std::size_t sent = server.Requests().size();
  TQLHTTPDownload client;
  client.Username = std::string(200, 'u');
  client.Password = std::string(55, 'p');  // with the colon 256 characters
  Fetch(client, server.Url("/p"));
  EXPECT_EQ(client.ResultCode(), HTTPResultNoConnection);
  EXPECT_EQ(client.ErrorText(), "User name and password longer than 255 characters");
  EXPECT_EQ(RegistryError(), "User name and password longer than 255 characters:1");
  EXPECT_EQ(server.Requests().size(), sent);
}

TEST_F(HTTPDownload, ScriptedAnswers) {
  THttpTestServer server(Script);
  ASSERT_TRUE(server.Start());
  struct TCase {
    std::string Path;
    TQLDownloadMethod Method;
    int Result;
    std::string Body;
    std::string Error;
  };
  const TCase cases[] = {
      {"/chunked", dmGET, 200, "hello world", ""},
      {"/chunk-extension", dmGET, 200, "hello world", ""},
      {"/chunk-unreadable", dmGET, HTTPResultOther, "", "Chunk size not readable"},
      {"/chunk-negative", dmGET, HTTPResultOther, "", "Chunk size not readable"},
      {"/chunk-huge", dmGET, HTTPResultOther, "", "Chunk size not readable"},
      {"/lf", dmGET, 200, "hi", ""},
      {"/missing", dmGET, 404, "", ""},
      {"/cut", dmGET, HTTPResultShortBody, "0123456789", ""},
      {"/until-close", dmGET, 200, "first\r\nsecond", ""},
      {"/garbage", dmGET, HTTPResultNoHeader, "", ""},
      {"/head", dmHEAD, 200, "", ""},
      {"/endless", dmGET, HTTPResultOther, "", "Response header larger than 65536 bytes"},
      {"/big", dmGET, HTTPResultOther, "", "Response body larger than 16777216 bytes"},
  };
  for (const TCase& t : cases) {
    TQLHTTPDownload client;
    client.Method = t.Method;
    Fetch(client, server.Url(t.Path));
    EXPECT_EQ(client.ResultCode(), t.Result) << t.Path;
    EXPECT_EQ(client.Body(), t.Body) << t.Path;
    EXPECT_EQ(client.ErrorText(), t.Error) << t.Path;
  }
  EXPECT_EQ(RegistryError(), "Response body larger than 16777216 bytes;9");

  TQLHTTPDownload client;
  Fetch(client, server.Url("/lf"));
  EXPECT_EQ(client.HeaderText(), "HTTP/1.0 200 OK\r\nContent-Length: 2\r\nX-A: b\r\n");
  EXPECT_EQ(client.HeaderData(), (std::vector<std::string>{"HTTP/1.0 200 OK", "Content-Length: 2", "X-A: b"}));
  Fetch(client, server.Url("/until-close"));
  EXPECT_EQ(client.Data(), (std::vector<std::string>{"first", "second"}));
  // A Content-Length shorter than what comes ends the exchange, the server still open.
  Fetch(client, server.Url("/short"));
  EXPECT_EQ(client.ResultCode(), 200);
  EXPECT_EQ(client.Body().substr(0, 3), "abc");
}

TEST_F(HTTPDownload, Redirects) {
  THttpTestServer other(Script);
  ASSERT_TRUE(other.Start());
  THttpTestServer server([&other](THttpConnection& c) {
    if (c.Request().Target.rfind("/absolute", 0) == 0)
      c.Send(THttpTestServer::Response(301, "", "Location: " + other.Url("/there") + "\r\n"));
    else
      Script(c);
  });
  ASSERT_TRUE(server.Start());

  TQLHTTPDownload client;
  client.AutoRedirect = true;
  client.Method = dmPOST;
  client.UploadVars = {"a=1"};
  EXPECT_EQ(Fetch(client, server.Url("/relative")), "page /target");
  EXPECT_EQ(client.ResultCode(), 200);
  EXPECT_EQ(client.URL(), server.Url("/target"));
  EXPECT_EQ(client.LastURL(), server.Url("/target"));
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].Body, "a=1");
  EXPECT_EQ(requests[1].Method, "POST");
  EXPECT_EQ(requests[1].Target, "/target");
  EXPECT_EQ(requests[1].Header("Content-Length"), "0");

  client.Method = dmGET;
  EXPECT_EQ(Fetch(client, server.Url("/relative")), "page /target");
  requests = server.Requests();
  EXPECT_EQ(requests[requests.size() - 2].Target, "/relative?a=1");
  EXPECT_EQ(requests.back().Target, "/target");
  client.UploadVars.clear();
  EXPECT_EQ(Fetch(client, server.Url("/see-other")), "page /target");
  EXPECT_EQ(Fetch(client, server.Url("/absolute?a=1")), "page /there");
  EXPECT_EQ(client.URL(), other.Url("/there"));
  EXPECT_EQ(other.Requests().back().Target, "/there");

  for (const char* refused : {"/ftp", "/split"}) {
    Fetch(client, server.Url(refused));
    EXPECT_EQ(client.ResultCode(), 302);
    EXPECT_EQ(client.URL(), server.Url(refused));
    EXPECT_EQ(client.ErrorText(), "");
  }

  const std::size_t before = server.Requests().size();
  Fetch(client, server.Url("/loop"));
  EXPECT_EQ(client.ResultCode(), 302);
  EXPECT_EQ(client.ErrorText(), "More than 10 redirects");
  EXPECT_EQ(server.Requests().size() - before, 1u + TQLHTTPDownload::MaxRedirects);

  client.AutoRedirect = false;
  Fetch(client, server.Url("/relative"));
  EXPECT_EQ(client.ResultCode(), 302);
  EXPECT_EQ(client.URL(), server.Url("/relative"));
}

TEST_F(HTTPDownload, CredentialsStayWithTheServerTheyWereGivenFor) {
  if (!testsupport::TTestCertificates::Available()) GTEST_SKIP() << "the openssl command is not installed";
  testsupport::TTestCertificates certs;
  ASSERT_TRUE(certs.Ok()) << certs.Error();
  TScopedEnv trust("SSL_CERT_FILE", certs.CAFile());
  TScopedEnv noDir("SSL_CERT_DIR", FDir.File("no-certs"));
  const auto cert = certs.Server("localhost", 30);
  ASSERT_TRUE(cert.Ok()) << certs.Error();
  // Every server sends /go/<url> on to <url> and answers anything else with a page.
  auto hop = [](THttpConnection& c) {
    const std::string& target = c.Request().Target;
    if (target.rfind("/go/", 0) == 0)
      c.Send(THttpTestServer::Response(302, "", "Location: " + target.substr(4) + "\r\n"));
    else
      c.Send(THttpTestServer::Response(200, "page"));
  };
  THttpTestServer secure(hop), plain(hop), other(hop);
  ASSERT_TRUE(secure.StartTls(cert.CertFile, cert.KeyFile));
  ASSERT_TRUE(plain.Start());
  ASSERT_TRUE(other.Start());
  const std::string https = "https://localhost:" + std::to_string(secure.Port());
  const std::string byName = "http://localhost:" + std::to_string(plain.Port());
  const std::string basic = "Basic dXNlcjpwYXNz";
  struct TCase {
    std::string Start;      // the address asked for
    std::string Then;       // where its redirect goes
    THttpTestServer* Next;  // the server that answers it
    bool Sent;              // the credentials went along
  };
  const TCase cases[] = {
      {plain.Url("/go/"), "/same", &plain, true},
      {plain.Url("/go/"), plain.Url("/absolute-same"), &plain, true},
      {https + "/go/", https + "/still-secure", &secure, true},
      {https + "/go/", plain.Url("/down-to-http"), &plain, false},
      {plain.Url("/go/"), other.Url("/other-port"), &other, false},
      {plain.Url("/go/"), byName + "/other-name", &plain, false},
      // Once they stayed behind they do not come back on the way home.
      {plain.Url("/go/"), other.Url("/go/" + plain.Url("/back")), &plain, false},
  };
  for (const TCase& t : cases) {
    TQLHTTPDownload client;
    client.AutoRedirect = true;
    client.Username = "user";
    client.Password = "pass";
    EXPECT_EQ(Fetch(client, t.Start + t.Then), "page") << t.Start + t.Then;
    const std::vector<THttpRequest> asked = (t.Start.rfind(https, 0) == 0 ? secure : plain).Requests();
    const auto first = std::find_if(asked.rbegin(), asked.rend(),
                                    [&](const THttpRequest& r) { return r.Target == "/go/" + t.Then; });
    ASSERT_NE(first, asked.rend()) << t.Then;
    EXPECT_EQ(first->Header("Authorization"), basic) << t.Then;
    const THttpRequest last = t.Next->Requests().back();
    EXPECT_NE(last.Target.rfind("/go/", 0), 0u) << t.Then;
    EXPECT_EQ(last.Header("Authorization"), t.Sent ? basic : "") << t.Then;
  }
}

TEST_F(HTTPDownload, FileDestinationReplacesTheFileAndReportsProgress) {
  THttpTestServer server([](THttpConnection& c) {
    c.Send(Head("Content-Length: 10\r\n") + "01234");
    c.Pause(30);
    c.Send("56789");
  });
  ASSERT_TRUE(server.Start());
  const std::string file = FDir.File("page.txt");
  testsupport::WriteFileBytes(file, "an older and much longer content");
  TQLHTTPDownload client;
  client.Destination = ddFile;
  client.DownloadFileName = file;
  std::vector<std::pair<std::int64_t, std::int64_t>> progress;
  client.OnFileTransfer = [&](std::int64_t done, std::int64_t total) { progress.emplace_back(done, total); };
  Fetch(client, server.Url("/f"));
  EXPECT_EQ(client.ResultCode(), 200);
  EXPECT_EQ(testsupport::ReadFileBytes(file), "0123456789");
  EXPECT_EQ(client.Body(), "");
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), std::make_pair(std::int64_t{10}, std::int64_t{10}));

  // Without a file name nothing is requested at all.
  client.DownloadFileName.clear();
  const std::size_t sent = server.Requests().size();
  Fetch(client, server.Url("/f"));
  EXPECT_EQ(client.ResultCode(), 0);
  EXPECT_EQ(server.Requests().size(), sent);

  client.DownloadFileName = FDir.File("no/such/folder/x");
  Fetch(client, server.Url("/f"));
  EXPECT_EQ(client.ResultCode(), HTTPResultOther);
  EXPECT_EQ(client.ErrorText().rfind("Cannot create " + client.DownloadFileName + ": ", 0), 0u) << client.ErrorText();
  EXPECT_EQ(RegistryError().rfind("Cannot create ", 0), 0u);

  client.Destination = ddNone;
  Fetch(client, server.Url("/f"));
  EXPECT_EQ(server.Requests().size(), sent + 1);
}

TEST_F(HTTPDownload, SilentServerTimesOutAndAbortEndsTheWait) {
  THttpTestServer server(Script);
  ASSERT_TRUE(server.Start());
  TQLHTTPDownload client;
  client.TimeoutMs = 300;
  Fetch(client, server.Url("/silent"));
  EXPECT_EQ(client.ResultCode(), HTTPResultTimeout);
  EXPECT_EQ(client.ErrorText(), "No answer within 0.3 seconds");

  TQLHTTPDownload waiting;  // the default time-out: only the abort can end it soon
  std::thread aborter([&] {
    while (server.Requests().size() < 2) ::usleep(1000);
    waiting.Abort();
  });
  Fetch(waiting, server.Url("/silent"));
  aborter.join();
  EXPECT_EQ(waiting.ResultCode(), HTTPResultAborted);
  EXPECT_EQ(waiting.ErrorText(), "Aborted");
  // The abort belongs to that request; the next one runs normally.
  EXPECT_EQ(Fetch(waiting, server.Url("/x")), "page /x");
}

TEST_F(HTTPDownload, ConnectFailures) {
  TQLHTTPDownload client;
  Fetch(client, "http://127.0.0.1:" + std::to_string(FreePort()) + "/");
  EXPECT_EQ(client.ResultCode(), HTTPResultNoHeader);
  EXPECT_EQ(client.ErrorText(), ErrorText(10061));
  EXPECT_EQ(client.SocketErrorCode(), 10061);

  // A name server cannot be reached from a fresh network namespace: the name fails at once.
  if (geteuid() != 0) GTEST_SKIP() << "needs root for a network namespace of its own";
  bool isolated = false;
  std::thread([&] {
    isolated = unshare(CLONE_NEWNET) == 0;
    if (isolated) Fetch(client, "http://no-such-host.invalid/");
  }).join();
  ASSERT_TRUE(isolated);
  EXPECT_EQ(client.ResultCode(), HTTPResultNotConnected);
  EXPECT_EQ(client.ErrorText(), ErrorText(11001));
}

// 192.0.2.2 sits behind a veth end whose peer drops every frame: the connect hears
// nothing, and only the exchange's time-out ends it.
TEST_F(HTTPDownload, SilentAddressEndsAtTheTimeOut) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for a network namespace of its own";
  testsupport::TTestNetns net("cvhttp-", {"drop"});
  const std::string ns = net.Name("drop");
  ASSERT_TRUE(net.Run({"ip -n " + ns + " link set lo up", "ip -n " + ns + " link add v0 type veth peer name v1",
                       "ip -n " + ns + " addr add 192.0.2.1/24 dev v0", "ip -n " + ns + " link set v0 up",
                       "ip -n " + ns + " link set v1 up",
                       "ip -n " + ns + " neigh add 192.0.2.2 lladdr 02:00:00:00:00:02 dev v0 nud permanent"}))
      << net.Error();
  TQLHTTPDownload client;
  client.TimeoutMs = 500;
  bool entered = false;
  std::thread([&] {
    testsupport::TInNetns inside(ns);
    entered = inside.Entered();
    if (entered) Fetch(client, "http://192.0.2.2/");
  }).join();
  ASSERT_TRUE(entered);
  EXPECT_EQ(client.ResultCode(), HTTPResultTimeout);
  EXPECT_EQ(client.ErrorText(), ErrorText(10060) + "/No answer within 0.5 seconds");
}

TEST_F(HTTPDownload, StaticPythonServer) {
  TTempDir root;
  testsupport::WriteFileBytes(root.File("index.html"), "<html>front page</html>\n");
  std::filesystem::create_directory(root.File("sub"));
  std::string binary;
  for (int i = 0; i < 70000; ++i) binary += static_cast<char>(i * 7);
  testsupport::WriteFileBytes(root.File("sub/data.bin"), binary);
  const std::uint16_t port = FreePort();
  QProcess python;
  python.start("python3", {"-m", "http.server", "--bind", "127.0.0.1", "--directory", QString::fromStdString(root.Path()),
                           QString::number(port)});
  if (!python.waitForStarted()) GTEST_SKIP() << "python3 is not available";
  const std::string base = "http://127.0.0.1:" + std::to_string(port);
  TQLHTTPDownload client;
  for (int i = 0; i < 200 && client.ResultCode() != 200; ++i) {
    if (i > 0) ::usleep(25000);
    Fetch(client, base + "/index.html");
  }
  EXPECT_EQ(client.ResultCode(), 200);
  EXPECT_EQ(client.Body(), "<html>front page</html>\n");
  EXPECT_EQ(client.Data(), std::vector<std::string>{"<html>front page</html>"});

  Fetch(client, base + "/nothing.html");
  EXPECT_EQ(client.ResultCode(), 404);

  client.AutoRedirect = true;
  EXPECT_NE(Fetch(client, base + "/sub").find("data.bin"), std::string::npos);
  EXPECT_EQ(client.URL(), base + "/sub/");

  client.Destination = ddFile;
  client.DownloadFileName = FDir.File("data.bin");
  Fetch(client, base + "/sub/data.bin");
  EXPECT_EQ(client.ResultCode(), 200);
  EXPECT_EQ(testsupport::ReadFileBytes(FDir.File("data.bin")), binary);
  python.kill();
  python.waitForFinished();
}

TEST_F(HTTPDownload, Https) {
  if (!testsupport::TTestCertificates::Available()) GTEST_SKIP() << "the openssl command is not installed";
  testsupport::TTestCertificates certs;
  ASSERT_TRUE(certs.Ok()) << certs.Error();
  TScopedEnv trust("SSL_CERT_FILE", certs.CAFile());
  TScopedEnv noDir("SSL_CERT_DIR", FDir.File("no-certs"));
  const auto good = certs.Server("localhost", 3);
  const auto self = certs.Server("localhost", 30, true);
  const auto other = certs.Server("other.test", 30);
  ASSERT_TRUE(good.Ok() && self.Ok() && other.Ok()) << certs.Error();

  THttpTestServer trusted(Script), selfSigned(Script), mismatch(Script);
  ASSERT_TRUE(trusted.StartTls(good.CertFile, good.KeyFile));
  ASSERT_TRUE(selfSigned.StartTls(self.CertFile, self.KeyFile));
  ASSERT_TRUE(mismatch.StartTls(other.CertFile, other.KeyFile));
  auto url = [](const THttpTestServer& s, const std::string& path) {
    return "https://localhost:" + std::to_string(s.Port()) + path;
  };

  TQLHTTPDownload client;
  EXPECT_EQ(Fetch(client, url(trusted, "/hello")), "page /hello");
  EXPECT_EQ(client.ResultCode(), 200);
  EXPECT_EQ(client.PeerNotAfter(), good.NotAfter);
  EXPECT_NEAR(static_cast<double>(client.PeerNotAfter() - std::time(nullptr)), 3 * 86400.0, 3600.0);
  EXPECT_EQ(Fetch(client, url(trusted, "/chunked")), "hello world");

  for (const THttpTestServer* bad : {&selfSigned, &mismatch}) {
    Fetch(client, url(*bad, "/hello"));
    EXPECT_EQ(client.ResultCode(), HTTPResultTlsFailed);
    EXPECT_EQ(client.ErrorText().rfind("Certificate verify failed: ", 0), 0u) << client.ErrorText();
    EXPECT_TRUE(bad->Requests().empty());
  }

  // From http to https and back to plain.
  THttpTestServer plain([&](THttpConnection& c) {
    if (c.Request().Target == "/up")
      c.Send(THttpTestServer::Response(302, "", "Location: " + url(trusted, "/secure") + "\r\n"));
    else
      Script(c);
  });
  ASSERT_TRUE(plain.Start());
  client.AutoRedirect = true;
  EXPECT_EQ(Fetch(client, plain.Url("/up")), "page /secure");
  EXPECT_TRUE(client.Secure());
  EXPECT_EQ(client.URL(), url(trusted, "/secure"));
  EXPECT_EQ(client.PeerNotAfter(), good.NotAfter);
  Fetch(client, plain.Url("/x"));
  EXPECT_EQ(client.PeerNotAfter(), 0);
}

TEST_F(HTTPDownload, ProxyChoice) {
  struct TCase {
    const char* HttpLower;
    const char* HttpUpper;
    const char* HttpsLower;
    const char* NoProxy;
    bool Secure;
    const char* Server;
    bool Found;
    const char* Host;
    int Port;
  };
  const TCase cases[] = {
      {"", "", "", "", false, "web.test", false, "", 0},
      {"http://proxy.test:3128/", "", "", "", false, "web.test", true, "proxy.test", 3128},
      {"", "http://upper.test:8000", "", "", false, "web.test", true, "upper.test", 8000},
      {"lower.test", "upper.test:1", "", "", false, "web.test", true, "lower.test", 80},
      {"http://user:pw@proxy.test:3128", "", "", "", false, "web.test", true, "proxy.test", 3128},
      {"proxy.test:3128", "", "", "", true, "web.test", false, "", 0},
      {"proxy.test:3128", "", "secure.test:3129", "", true, "web.test", true, "secure.test", 3129},
      {"proxy.test:3128", "", "", "other.test, web.test", false, "web.test", false, "", 0},
      {"proxy.test:3128", "", "", ".corp.test", false, "a.corp.test", false, "", 0},
      {"proxy.test:3128", "", "", "corp.test", false, "a.corp.test", false, "", 0},
      {"proxy.test:3128", "", "", "corp.test", false, "notcorp.test", true, "proxy.test", 3128},
      {"proxy.test:3128", "", "", "*", false, "web.test", false, "", 0},
      {"proxy.test:3128", "", "", "WEB.TEST", false, "web.test", false, "", 0},
  };
  for (const TCase& t : cases) {
    TScopedEnv a("http_proxy", t.HttpLower), b("HTTP_PROXY", t.HttpUpper), c("https_proxy", t.HttpsLower),
        d("no_proxy", t.NoProxy);
    std::string host;
    int port = 0;
    EXPECT_EQ(TQLHTTPDownload::DetectProxy(t.Secure, t.Server, host, port), t.Found) << t.HttpLower << t.NoProxy;
    if (t.Found) {
      EXPECT_EQ(host, t.Host);
      EXPECT_EQ(port, t.Port);
    }
  }
  // The browser preferences named in the registry, then the system's internet settings,
  // come after the environment and override it.
  TScopedEnv env("http_proxy", "env.test:1");
  testsupport::WriteFileBytes(FDir.File("prefs.js"), "// prefs\r\nuser_pref(\"network.proxy.http\", \"Nav.test\");\r\n"
                                                     "  user_pref(\"network.proxy.http_port\", 3130);\r\n");
  ASSERT_TRUE(WriteRegText(HKEY_LOCAL_MACHINE, "Software\\Netscape\\Netscape Navigator\\Users", "CurrentUser", "me"));
  ASSERT_TRUE(WriteRegText(HKEY_LOCAL_MACHINE, "Software\\Netscape\\Netscape Navigator\\Users\\me", "DirRoot", FDir.Path()));
  std::string host;
  int port = 0;
  EXPECT_TRUE(TQLHTTPDownload::DetectProxy(false, "web.test", host, port));
  EXPECT_EQ(host, "nav.test");
  EXPECT_EQ(port, 3130);
  {
    TQLRegistry reg;
    reg.SetRootKey(HKEY_CURRENT_CONFIG);
    ASSERT_TRUE(reg.OpenKey("\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", true));
    reg.WriteInteger("ProxyEnable", 1);
    reg.WriteString("ProxyServer", "HTTPS=tls.test:9443;http=Reg.test:8080");
  }
  EXPECT_TRUE(TQLHTTPDownload::DetectProxy(false, "web.test", host, port));
  EXPECT_EQ(host, "reg.test");
  EXPECT_EQ(port, 8080);
  EXPECT_TRUE(TQLHTTPDownload::DetectProxy(true, "web.test", host, port));
  EXPECT_EQ(host, "tls.test");
  EXPECT_EQ(port, 9443);
}

TEST_F(HTTPDownload, RequestsThroughAProxy) {
  THttpTestServer target(Script);
  ASSERT_TRUE(target.Start());
  THttpTestServer proxy([&](THttpConnection& c) {
    if (c.Request().Method == "CONNECT") {
      c.Send("HTTP/1.1 200 Connection established\r\n\r\n");
      c.Tunnel(target.Port());
    } else {
      c.Send(THttpTestServer::Response(200, "via proxy " + c.Request().Target));
    }
  });
  ASSERT_TRUE(proxy.Start());

  TQLHTTPDownload client;
  client.ProxyMode = dpManual;
  client.ProxyServer = "127.0.0.1";
  client.ProxyPort = proxy.Port();
  client.UploadVars = {"q=1"};
  EXPECT_EQ(Fetch(client, "http://far.test:8080/doc"), "via proxy http://far.test:8080/doc?q=1");
  EXPECT_EQ(proxy.Requests().back().Raw.substr(0, 46), "GET http://far.test:8080/doc?q=1 HTTP/1.1\r\nAcc");

  // The environment's proxy, and none for a name no_proxy lists.
  client.ProxyMode = dpAutoDetect;
  client.UploadVars.clear();
  TScopedEnv env("http_proxy", "http://127.0.0.1:" + std::to_string(proxy.Port()));
  EXPECT_EQ(Fetch(client, "http://far.test/doc"), "via proxy http://far.test/doc");
  TScopedEnv skip("no_proxy", "localhost,127.0.0.1");
  EXPECT_EQ(Fetch(client, target.Url("/direct")), "page /direct");
  client.ProxyMode = dpDirect;
  EXPECT_EQ(Fetch(client, target.Url("/direct")), "page /direct");
}

TEST_F(HTTPDownload, HttpsThroughAProxyTunnels) {
  if (!testsupport::TTestCertificates::Available()) GTEST_SKIP() << "the openssl command is not installed";
  testsupport::TTestCertificates certs;
  ASSERT_TRUE(certs.Ok()) << certs.Error();
  TScopedEnv trust("SSL_CERT_FILE", certs.CAFile());
  const auto cert = certs.Server("localhost", 30);
  THttpTestServer target(Script);
  ASSERT_TRUE(target.StartTls(cert.CertFile, cert.KeyFile));
  THttpTestServer proxy([&](THttpConnection& c) {
    if (c.Request().Method != "CONNECT" || c.Request().Target != "localhost:" + std::to_string(target.Port())) {
      c.Send(THttpTestServer::Response(403, ""));
      return;
    }
    c.Send("HTTP/1.1 200 Connection established\r\n\r\n");
    c.Tunnel(target.Port());
  });
  ASSERT_TRUE(proxy.Start());
  TScopedEnv env("https_proxy", "127.0.0.1:" + std::to_string(proxy.Port()));
  TQLHTTPDownload client;
  EXPECT_EQ(Fetch(client, "https://localhost:" + std::to_string(target.Port()) + "/tunnelled"), "page /tunnelled");
  EXPECT_EQ(client.ResultCode(), 200);
  ASSERT_EQ(target.Requests().size(), 1u);
  EXPECT_EQ(target.Requests()[0].Target, "/tunnelled");

  Fetch(client, "https://elsewhere.test/");
  EXPECT_EQ(client.ResultCode(), 403);
  EXPECT_EQ(client.ErrorText(), "The proxy refused the tunnel to elsewhere.test:443");
}
