#include "ui/TKindEditors.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "ui/TConfigHostsPage.h"

std::span<const TKindEditor> KindEditors() {
  static const TKindEditor Editors[] = {
      {TTestKind::Ping, "Ping", nullptr},
      {TTestKind::TCP, "TCP Connect", [](const TConfigHostsPage& page) -> QWidget* { return page.cbPort; }},
      {TTestKind::Service, "Win Services", [](const TConfigHostsPage& page) -> QWidget* { return page.cbServices; }},
      {TTestKind::Share, "File Share", [](const TConfigHostsPage& page) -> QWidget* { return page.tbShare; }},
      {TTestKind::HTTP, "HTTP Server", [](const TConfigHostsPage& page) -> QWidget* { return page.btnSettings; }},
  };
  return Editors;
}

QWidget* PluginKindControl(const TConfigHostsPage& page) { return page.cbPluginParam; }
