#pragma once
// A monitor with its alert channels and the main window over it, offscreen. Hosts are
// added straight into the list; nothing is tested unless a test asks.
#include <QApplication>

#include <memory>
#include <string>

#include "alerts/TAlerts.h"
#include "core/MonitorFixture.h"
#include "core/THost.h"
#include "ui/TfrmCorvale.h"

class WindowFixture : public MonitorFixture {
protected:
  WindowFixture() {
    M = NewMonitor();
    A = std::make_unique<TAlerts>(*M);
    M->SetAlertChannels(A.get());
    W = std::make_unique<TfrmCorvale>(*M);
  }
  ~WindowFixture() override {
    W.reset();
    M->SetAlertChannels(nullptr);
  }

  THost& Add(const std::string& name, const std::string& address, int status) {
    THost& host = InsertTestHost(*M, name, address, status);
    M->Changes().Flush();
    return host;
  }

  void Settle() {
    M->Changes().Flush();
    QApplication::processEvents();
  }

  // Declared first: the channels outlive the monitor.
  std::unique_ptr<TAlerts> A;
  std::unique_ptr<TMonitor> M;
  std::unique_ptr<TfrmCorvale> W;
};
