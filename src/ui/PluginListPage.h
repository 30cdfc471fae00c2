#pragma once
// The configuration dialog's plug-in list: one row per loaded plug-in (name, vendor, its
// tests), and its "Settings" button for the selected one when the plug-in keeps
// settings through the program.
#include <vector>

#include "core/MessageVariables.h"
#include "ui/TConfigHostsPage.h"

class QPushButton;
class QTreeWidget;
class QWidget;
class TPluginHost;

void ShowPluginList(QTreeWidget& list, QPushButton& settings, TPluginHost& plugins, QWidget& dialog);

// The host editor's plug-in tests: the names of the kinds, their parameter kinds, lists
// and checks, where the dialog's owner gave none.
void AddPluginContext(TConfigHostsContext& context, TPluginHost& plugins, const std::vector<TVariablePluginTest>& tests);
