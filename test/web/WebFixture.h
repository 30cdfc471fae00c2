#pragma once
// A monitor with a few hosts and a page folder of its own; pages are rendered as the web
// server's thread renders them.
#include <fstream>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

#include "core/MonitorFixture.h"
#include "core/THost.h"
#include "web/TWebRequest.h"
#include "web/TWebSite.h"
#include "web/WebTemplate.h"

class WebFixture : public MonitorFixture {
protected:
  WebFixture() : M(NewMonitor()) {
    Site.Monitor = M.get();
    Site.Folder = Dir("webserver") + "/";
    Site.RunOnMainThread = [](std::function<void()> work) {
      work();
      return true;
    };
  }

  THost& Add(const std::string& name, const std::string& address, int status) {
    THost& host = InsertTestHost(*M, name, address, status);
    host.GroupNumber = !name.empty() && name[0] != ';' ? GroupCounter : ++GroupCounter;
    return host;
  }

  void WritePage(const std::string& name, const std::string& text) {
    std::ofstream(Site.Folder + name, std::ios::binary) << text;
  }

  TWebRequest Request(std::initializer_list<std::pair<std::string, std::string>> params = {}) {
    TWebRequest request;
    request.Client.Host = "monitor.test:8080";
    request.Client.Path = "/index.html?a=1";
    request.Client.Peer = "127.0.0.1";
    request.Client.AccessLevel = WebAccessView;
    for (const auto& [name, value] : params) request.SetParam(name, value);
    return request;
  }

  // The template text rendered as "page" + extension.
  TWebRequest Render(const std::string& text, const std::string& extension = ".html",
                     std::initializer_list<std::pair<std::string, std::string>> params = {}) {
    WritePage("page" + extension, text);
    TWebRequest request = Request(params);
    RenderTemplate(request, Site, "page", extension);
    return request;
  }

  std::unique_ptr<TMonitor> M;
  TWebSite Site;
  int GroupCounter = 0;
};
