#include "ui/PluginListPage.h"

#include <QPushButton>
#include <QTreeWidget>

#include "core/TPluginHost.h"
#include "ui/Latin1Text.h"

void ShowPluginList(QTreeWidget& list, QPushButton& settings, TPluginHost& plugins, QWidget& dialog) {
  list.clear();
  for (const auto& plugin : plugins.Plugins()) {
    std::string tests;
    for (const std::string& name : plugin->TestNames) tests += (tests.empty() ? "" : ", ") + name;
    auto* row = new QTreeWidgetItem(&list, {Latin1(plugin->Name), Latin1(plugin->Vendor), Latin1(tests)});
    row->setData(0, Qt::UserRole, plugin->Index);
  }
  auto selectedIndex = [&list] {
    const QTreeWidgetItem* row = list.currentItem();
    return row ? row->data(0, Qt::UserRole).toInt() : -1;
  };
  QObject::connect(&list, &QTreeWidget::currentItemChanged, &settings, [&settings, &plugins, selectedIndex] {
    settings.setEnabled(plugins.CanConfigurePlugin(selectedIndex()));
  });
  QObject::connect(&settings, &QPushButton::clicked, &dialog, [&plugins, &dialog, selectedIndex] {
    plugins.ConfigurePlugin(selectedIndex(), static_cast<std::uintptr_t>(dialog.winId()));
  });
}

void AddPluginContext(TConfigHostsContext& context, TPluginHost& plugins, const std::vector<TVariablePluginTest>& tests) {
  if (context.PluginTestNames.empty())
    for (const TVariablePluginTest& test : tests) context.PluginTestNames.push_back(test.Name);
  if (!context.PluginParamKind)
    context.PluginParamKind = [&plugins](TTestKind kind) {
      const TPluginTest* test = plugins.TestOfKind(kind);
      return test ? test->ParameterKind : 0;
    };
  if (!context.PluginEntries) context.PluginEntries = [&plugins](TTestKind kind) { return plugins.DropdownEntries(kind); };
  if (!context.PluginParamError)
    context.PluginParamError = [&plugins](TTestKind kind, const std::string& value) -> std::optional<std::string> {
      std::string reason;
      if (plugins.ValidateParam(kind, value, reason)) return std::nullopt;
      return reason;
    };
}
