#pragma once
// What the status evaluation needs to know about an address that only the network or
// the system can tell: the dotted address of a name, and the MAC address of a
// neighbour. Asked as a value, answered on a pool thread (both may wait: a name server,
// the neighbour table for up to a second), handed back to the main thread as the same
// value with the answers filled in.
#include <string>

struct TAddressLookup {
  // The question. Name: the address to resolve (nothing when empty). Neighbour: the
  // address whose MAC address the neighbour table is asked for (nothing when empty).
  std::string Name;
  std::string Neighbour;
  // The answers: the dotted address, empty when the name did not resolve; the MAC
  // address as "AA:BB:CC:DD:EE:FF", all zero when the table has none.
  std::string Resolved;
  std::string Mac;

  // A dotted address needs no name server: its answer is at hand.
  static bool IsDotted(const std::string& name);
  // Fills in the answers; blocks. Any thread.
  void Run();
};
