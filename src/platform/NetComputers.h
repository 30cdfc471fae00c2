#pragma once
// The computers of the local network as the SMB browse service knows them: every
// workgroup of "smb://", then the servers of each. Broadcasts on the local network.
#include <atomic>
#include <string>
#include <vector>

// Browse time limit per request.
constexpr int NetComputersTimeoutMs = 5000;

// Appends "\\" + name for every server found; the stop flag is looked at after each
// entry. False with the error code (errno) when not even the workgroups could be
// listed; list keeps what was found.
bool ListNetworkComputers(std::vector<std::string>& list, const std::atomic<bool>& stop, int* error = nullptr);
