#pragma once
// The configuration editor's part of each test kind, beside the core's table of kinds
// (which holds no widget): the kind's caption in the Test box and the control that
// edits its parameter, shown only while the kind is chosen.
#include <span>

#include "hosttests/TTestKind.h"

class QWidget;
class TConfigHostsPage;

struct TKindEditor {
  TTestKind Kind;
  const char* Caption;
  // The page's control for the kind's parameter; none for a kind without one.
  QWidget* (*Control)(const TConfigHostsPage& page);
};

// The built-in kinds in the order of the Test box.
std::span<const TKindEditor> KindEditors();
// What every plug-in kind edits: its parameter box.
QWidget* PluginKindControl(const TConfigHostsPage& page);
