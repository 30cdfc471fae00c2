#pragma once
// Connecting to and disconnecting from a network resource ("\\server\share", "\\server")
// with a user name and password, and the list of a server's shares. Connecting checks
// the credentials with the server and, on success, records the connection in
// TNetConnections, whose credentials later requests to that server use. All of these
// wait for the server (at most the SMB client's time-out): never on the main thread.
#include <string>
#include <vector>

// Returns 0 or the Windows error code (1326 wrong user name or password, 53 the network
// path was not found, 67 no such share, ...); connectionName becomes remoteName on
// success, else empty. An empty user name and password mean the current credentials
// (those of an open connection to the server, else none). The interactive form (asking
// the user) lives in the window's code, which calls this for each attempt. port 0: the
// SMB client's default (the setting SMBPort).
int ConnectResource(const std::string& remoteName, const std::string& userName, const std::string& password,
                    std::string& connectionName, int port = 0);
// Cancels the connection when the name is not empty; errors are ignored.
void DisconnectResource(const std::string& connectionName);

// The names of the server's shares ("\\" before the server is optional), with the
// credentials of an open connection to it. False with the Windows code when it could
// not be listed; the list is cleared first.
bool ListServerShares(const std::string& server, std::vector<std::string>& list, int* error = nullptr);
