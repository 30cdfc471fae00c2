#pragma once
// Small conversions shared by the files of the configuration dialog's "Hosts" page.
#include <QString>
#include <Qt>

#include "ui/Latin1Text.h"

#include <string>
#include <string_view>

// Item data: the host ID of a line, and the marker item of a drop-down box.
constexpr int IDRole = Qt::UserRole;
constexpr int MarkerRole = Qt::UserRole + 1;


// A ";"-delimited list as the record keeps it: no delimiter at either end.
inline std::string CleanDelimited(std::string list) {
  while (!list.empty() && list.front() == ';') list.erase(list.begin());
  while (!list.empty() && list.back() == ';') list.pop_back();
  return list;
}
