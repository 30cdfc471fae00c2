// The scripted HTTP server the client tests (and others) rely on, checked with a plain
// socket so that a fault in it cannot hide behind a fault of the client.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/THttpTestServer.h"

using testsupport::THttpConnection;
using testsupport::THttpTestServer;

namespace {

std::string Exchange(std::uint16_t port, const std::string& request) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    char chunk[4096];
    ssize_t n;
    while ((n = ::recv(fd, chunk, sizeof chunk, 0)) > 0) answer.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return answer;
}

}  // namespace

TEST(HttpTestServer, RecordsRequestsAndSendsScriptedPieces) {
  THttpTestServer server([](THttpConnection& c) {
    if (c.Request().Target == "/pieces") {
      c.Send("HTTP/1.1 200 OK\r\n");
      c.Pause(20);
      c.Send("\r\nab");
      return;
    }
    c.Send(THttpTestServer::Response(404, "gone", "X-Test: 1\r\n"));
  });
  ASSERT_TRUE(server.Start());
  EXPECT_EQ(Exchange(server.Port(), "GET /pieces HTTP/1.1\r\nHost: x\r\n\r\n"), "HTTP/1.1 200 OK\r\n\r\nab");
  EXPECT_EQ(Exchange(server.Port(), "POST /form HTTP/1.0\nContent-Length: 3\nX-Name:  v \n\nabcEXTRA"),
            "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\nX-Test: 1\r\n\r\ngone");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].Method, "GET");
  EXPECT_EQ(requests[0].Header("host"), "x");
  EXPECT_EQ(requests[1].Target, "/form");
  EXPECT_EQ(requests[1].Version, "HTTP/1.0");
  EXPECT_EQ(requests[1].Header("x-name"), "v");
  EXPECT_EQ(requests[1].Body, "abc");
  EXPECT_EQ(requests[1].Raw, "POST /form HTTP/1.0\nContent-Length: 3\nX-Name:  v \n\nabc");
  EXPECT_EQ(server.Connections(), 2);
}

TEST(HttpTestServer, StopEndsSilentConnections) {
  auto server = std::make_unique<THttpTestServer>([](THttpConnection& c) { c.Hang(); });
  ASSERT_TRUE(server->Start());
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(server->Port());
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
  const std::string request = "GET / HTTP/1.1\r\n\r\n";
  ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  while (server->Requests().empty()) ::usleep(1000);
  server.reset();  // joins the hanging handler
  char c;
  EXPECT_EQ(::recv(fd, &c, 1, 0), 0);
  ::close(fd);
}
