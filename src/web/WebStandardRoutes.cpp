#include "web/WebStandardRoutes.h"

#include "web/StatusIcons.h"
#include "web/WebCommands.h"
#if __has_include("web/WebMetrics.h")
#include "web/WebMetrics.h"
#define CORVALE_HAS_METRICS 1
#endif
#include "web/WebTemplate.h"

TWebRoutes StandardWebRoutes() {
  TWebRoutes routes;
  routes.Template = RenderTemplate;
  routes.Command = CommandPage;
  routes.Rdp = RdpRoute;
  routes.IconCount = StatusIconCount;
  routes.Icon = StatusIconJpeg;
#ifdef CORVALE_HAS_METRICS
  routes.Metrics = MetricsText;
#endif
  return routes;
}
