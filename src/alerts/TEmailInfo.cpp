#include "alerts/TEmailInfo.h"

// The client's type is complete only here and where the queue drives it.
#include "alerts/TSmtpCli.h"

TEmailInfo::TEmailInfo() = default;

TEmailInfo::~TEmailInfo() = default;
