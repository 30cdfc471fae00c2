#pragma once
// Connecting to and disconnecting from a network resource ("\\server\share", "\\server")
// with a user name and password. Connecting checks the credentials with the server and,
// on success, records the connection in TNetConnections, whose credentials later
// requests to that server use.
#include <string>

// Returns 0 or the Windows error code (1326 wrong user name or password, 53 the network
// path was not found, ...); connectionName becomes remoteName on success, else empty.
// An empty user name means the current credentials. The interactive form (asking the
// user) lives in the window's code, which calls this for each attempt.
int ConnectResource(const std::string& remoteName, const std::string& userName, const std::string& password,
                    std::string& connectionName);
// Cancels the connection when the name is not empty; errors are ignored.
void DisconnectResource(const std::string& connectionName);
