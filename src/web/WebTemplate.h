#pragma once
// The page template engine: sections kept, dropped or taken out by browser, login and
// request parameters, the host block repeated per host with the message variables,
// icons, sounds, the event log, the status warning, page variables and request
// parameters.
#include <string>
#include <string_view>

struct TWebRequest;
struct TWebSite;

// Renders the template "webserver/" + name + extension into the request's response
// (status, content type, body, Last-Modified). Never throws: a failure is a 500 with its
// step.
void RenderTemplate(TWebRequest& request, const TWebSite& site, const std::string& name, const std::string& extension);

// The page pass over a text (the host actions' message page uses it too): browser and
// login sections, page variables, the status warning, with log: the page's "log"
// sections and "%log%", then the request parameters. html: HTML mode.
void PagePass(std::string& page, TWebRequest& request, const TWebSite& site, bool html, bool withLog);
// The "var-" and then "novar-" sections by the request parameters.
void ConditionalSections(std::string& page, const TWebRequest& request);

// The text inside a JSON string: quotes and backslashes escaped, control characters and
// bytes above 126 (Latin-1) as "\u00XX". Templates ending ".json" get their host
// variables and page variables escaped so, request parameters are not filled in, their
// host rows are joined by commas and their content type is "application/json". Host rows
// of every page also know "%statuscode%", the status in decimal.
std::string JsonEscape(std::string_view text);
