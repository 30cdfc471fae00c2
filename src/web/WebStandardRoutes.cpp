#include "web/WebStandardRoutes.h"

#include "common/StatusIcons.h"
#include "web/WebCommands.h"
#include "web/WebMetrics.h"
#include "web/WebTemplate.h"

TWebRoutes StandardWebRoutes() {
  TWebRoutes routes;
  routes.Template = RenderTemplate;
  routes.Command = CommandPage;
  routes.Rdp = RdpRoute;
  routes.IconCount = StatusIconCount;
  routes.Icon = StatusIconJpeg;
  routes.Metrics = MetricsText;
  return routes;
}
