// The credentials a connection lends: two tests of one server connect and disconnect in
// any order, and a request to the server must use the newest connection still open.
#include <gtest/gtest.h>

#include "platform/TNetConnections.h"

TEST(NetConnectionsTest, CountedConnectionsLendTheNewestCredentialsOfTheirServer) {
  EXPECT_EQ(TNetConnections::ServerOf("\\\\Files01\\data\\sub"), "Files01");
  EXPECT_EQ(TNetConnections::ServerOf("//files01/data"), "files01");
  EXPECT_EQ(TNetConnections::ServerOf("files01"), "files01");
  EXPECT_EQ(TNetConnections::ServerOf("\\\\"), "");

  TNetConnections connections;
  EXPECT_FALSE(connections.CredentialsFor("files01"));
  connections.Add("\\\\files01", {"alice", "a"});
  connections.Add("\\\\FILES01", {"alice", "a"});
  connections.Add("\\\\files01\\data", {"bob", "b"});
  ASSERT_TRUE(connections.CredentialsFor("Files01"));
  EXPECT_EQ(connections.CredentialsFor("Files01")->User, "bob");
  EXPECT_FALSE(connections.CredentialsFor("files02"));

  connections.Cancel("\\\\files01\\data");
  EXPECT_EQ(connections.CredentialsFor("files01")->User, "alice");
  connections.Cancel("\\\\files01");
  EXPECT_EQ(connections.CredentialsFor("files01")->User, "alice") << "one of two connections is still open";
  connections.Cancel("\\\\files01");
  connections.Cancel("\\\\files01");
  EXPECT_FALSE(connections.CredentialsFor("files01"));
}
