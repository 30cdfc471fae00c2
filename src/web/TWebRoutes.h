#pragma once
// The pages the web server's routes hand over to: the template engine, the host actions,
// remote-desktop files, the generated icons and the metrics. The program uses
// StandardWebRoutes(); tests may give their own.
#include <functional>
#include <optional>
#include <string>

#include "common/StatusIcons.h"

struct TWebRequest;
struct TWebSite;

struct TWebRoutes {
  std::function<void(TWebRequest&, const TWebSite&, const std::string& name, const std::string& extension)> Template;
  std::function<void(TWebRequest&, const TWebSite&)> Command;
  std::function<void(TWebRequest&, const TWebSite&, const std::string& name)> Rdp;
  std::function<int()> IconCount;
  std::function<std::optional<std::string>(TIconKind, int, std::string& error)> Icon;
  std::function<std::string(const TWebSite&)> Metrics;
};
