#pragma once
#include "web/TWebRoutes.h"

// The routes of the program: RenderTemplate, CommandPage, RdpRoute, the status icons and
// MetricsText.
TWebRoutes StandardWebRoutes();
