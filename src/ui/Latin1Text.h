#pragma once
// The monitor's texts are Latin-1 (std::string); the widgets' are QString. These are the
// only conversions between them.
#include <QString>

#include <string>
#include <string_view>

inline QString Latin1(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}
inline std::string Latin1(const QString& text) { return text.toLatin1().toStdString(); }
