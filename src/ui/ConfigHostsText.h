#pragma once
// Small conversions shared by the files of the configuration dialog's "Hosts" page.
#include <QString>
#include <Qt>

#include <string>
#include <string_view>

// Item data: the host ID of a line, and the marker item of a drop-down box.
constexpr int IDRole = Qt::UserRole;
constexpr int MarkerRole = Qt::UserRole + 1;

inline QString Latin1(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}
inline std::string ToLatin1(const QString& text) { return text.toLatin1().toStdString(); }

// A ";"-delimited list as the record keeps it: no delimiter at either end.
inline std::string CleanDelimited(std::string list) {
  while (!list.empty() && list.front() == ';') list.erase(list.begin());
  while (!list.empty() && list.back() == ';') list.pop_back();
  return list;
}
