#pragma once
// "/metrics": the hosts' state and the monitor's own counters in the text exposition
// format (version 0.0.4) that metric scrapers read.
#include <string>

struct TWebSite;

// The content type of the answer.
constexpr const char* MetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

// Per host: corvale_host_status (0 Online, 1 Warning, 2 Offline, -1 Unknown),
// corvale_host_up, corvale_host_response_ms (when there is a response),
// corvale_host_failures_total and corvale_host_last_check_timestamp_seconds (once
// checked), labelled host, address, group and test; then corvale_tests_total,
// corvale_tests_running and corvale_alerts_queued. Reads the monitor under its state
// lock held shared, once, and formats after releasing it.
std::string MetricsText(const TWebSite& site);

// A label value as the format wants it: UTF-8 (the text is Latin-1), with backslash,
// double quote and line feed escaped.
std::string MetricsLabelValue(const std::string& text);
