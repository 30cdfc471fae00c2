#pragma once
// "Find Card Manufacturer...": who a MAC address prefix belongs to. First the IEEE's
// list of assigned prefixes as the system keeps it (Debian's ieee-data package, no
// network needed); then, when an OUI search server is set, its form.
#include <string>
#include <vector>

#include "tools/MagicWakeup.h"

constexpr const char* OuiListFile = "/usr/share/ieee-data/oui.txt";
// The setting naming the OUI search server (empty: none is asked).
constexpr const char* OuiServerSetting = "OUIServer";

// The prefix as the list and the form write it: the first eight characters, ":" as
// "-", upper case ("00-02-12").
std::string OuiPrefix(const std::string& mac);
// The vendor lines of a page: the text inside its first pre block without bold marks,
// each line stripped up to its first tab. True when there is more than one line.
bool VendorFromPage(const std::string& body, std::string& vendor);
// The prefix's entry of a list in the IEEE's text layout, in the form's layout; false
// when the file cannot be read or has no entry. The file is read up to a bound.
bool VendorFromOuiList(const std::string& fileName, const std::string& mac, std::string& vendor);
// The form request at /cgi-bin/ouisearch on server ("host" or "host:port", or a URL);
// blocks up to timeoutMs.
bool VendorFromServer(const std::string& server, const std::string& mac, int timeoutMs, std::string& vendor);
// The list, then the server when one is set. Blocks: call it off the main thread.
bool LookUpVendor(const std::string& mac, const std::string& listFile, const std::string& server, int timeoutMs,
                  std::string& vendor);
TToolMessage VendorMessage(const std::string& mac, bool found, const std::string& vendor);
