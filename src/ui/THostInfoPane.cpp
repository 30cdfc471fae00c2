#include "ui/THostInfoPane.h"

#include "ui/Latin1Text.h"

#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>

#include <algorithm>
#include <cmath>

#include "common/Clock.h"
#include "core/MessageVariables.h"
#include "core/THost.h"
#include "core/TMonitor.h"
#include "hosttests/TTestKinds.h"
#include "ui/THostTableModel.h"
#include "ui/TLogLineModel.h"
#include "ui/TLogListView.h"
#include "ui/TStatusImages.h"

namespace {
constexpr int MaxHistoryEntries = 1000;
constexpr int HistoryColumnWidth = 120;
// Beside the icon and the text: the gaps around them.
constexpr int HistoryEntryPadding = 16;


QLabel* NewLabel(QWidget* parent, const char* name) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  return label;
}

// Minutes as "hh:nn:ss".
QString MinutesText(double minutes) {
  const long long seconds = std::llround(minutes * 60);
  return QString::asprintf("%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
}
}  // namespace

THostInfoPane::THostInfoPane(TMonitor& monitor, const TStatusImages& images, QWidget* parent)
    : QTabWidget(parent), FMonitor(monitor), FImages(images) {
  setObjectName("pcHostInfo");
  setMinimumHeight(112);
  auto* summary = new QWidget(this);
  summary->setObjectName("tsSummary");
  imgStatus = NewLabel(summary, "imgStatus");
  imgStatus->setFixedSize(TStatusImages::LargeSize, TStatusImages::LargeSize);
  lbHostName = NewLabel(summary, "lbHostName");
  QFont bold = lbHostName->font();
  bold.setBold(true);
  lbHostName->setFont(bold);
  lbHostAddr = NewLabel(summary, "lbHostAddr");
  lbIPAddr = NewLabel(summary, "lbIPAddr");
  lbMAC = NewLabel(summary, "lbMAC");
  for (QLabel* link : {lbIPAddr, lbMAC}) {
    link->setCursor(Qt::PointingHandCursor);
    link->installEventFilter(this);
  }
  lbLastCheck = NewLabel(summary, "lbLastCheck");
  lbPrevCheck = NewLabel(summary, "lbPrevCheck");
  lbLastSuccess = NewLabel(summary, "lbLastSuccess");
  lbLastFail = NewLabel(summary, "lbLastFail");
  lbTestType = NewLabel(summary, "lbTestType");
  lbTestInfo = NewLabel(summary, "lbTestInfo");
  lbStats = NewLabel(summary, "lbStats");
  lbUpDown = NewLabel(summary, "lbUpDown");
  lbTestFreq = NewLabel(summary, "lbTestFreq");
  lbTestError = NewLabel(summary, "lbTestError");
  lbUpPct = NewLabel(summary, "lbUpPct");
  lbErr = NewLabel(summary, "lbErr");
  lbErr->setWordWrap(true);
  auto* grid = new QGridLayout(summary);
  grid->setContentsMargins(6, 4, 6, 4);
  grid->setVerticalSpacing(1);
  grid->addWidget(imgStatus, 0, 0, 3, 1, Qt::AlignTop);
  grid->addWidget(lbHostName, 0, 1);
  grid->addWidget(lbHostAddr, 1, 1);
  grid->addWidget(lbIPAddr, 2, 1);
  grid->addWidget(lbMAC, 3, 1);
  grid->addWidget(lbLastCheck, 0, 2);
  grid->addWidget(lbPrevCheck, 1, 2);
  grid->addWidget(lbLastSuccess, 2, 2);
  grid->addWidget(lbLastFail, 3, 2);
  grid->addWidget(lbTestType, 0, 3);
  grid->addWidget(lbTestInfo, 1, 3);
  grid->addWidget(lbStats, 2, 3);
  grid->addWidget(lbUpDown, 3, 3);
  grid->addWidget(lbTestFreq, 0, 4);
  grid->addWidget(lbTestError, 1, 4);
  grid->addWidget(lbUpPct, 2, 4);
  grid->addWidget(lbErr, 4, 1, 1, 4);
  grid->setColumnStretch(4, 1);
  grid->setRowStretch(5, 1);
  addTab(summary, QStringLiteral("Summary"));

  lvHistory = new QListWidget(this);
  lvHistory->setObjectName("lvHistory");
  lvHistory->setFlow(QListView::TopToBottom);
  lvHistory->setWrapping(true);
  lvHistory->setResizeMode(QListView::Adjust);
  lvHistory->setGridSize(QSize(HistoryColumnWidth, 18));
  lvHistory->setUniformItemSizes(true);
  addTab(lvHistory, QStringLiteral("Test History"));

  FLogLines = new TLogLineModel(FMonitor.Log(), TLogLineModel::PaneLines, this);
  connect(&FMonitor, &TMonitor::LogLineAdded, FLogLines, &TLogLineModel::LineAdded);
  connect(&FMonitor, &TMonitor::ShutdownStarting, FLogLines, &TLogLineModel::Clear);
  lbHostLog = new TLogListView(this);
  lbHostLog->setObjectName("lbHostLog");
  lbHostLog->SetLogModel(FLogLines);
  addTab(lbHostLog, QStringLiteral("Log"));
  ClearLabels();
}

QString THostInfoPane::PaneDate(TDateTime value, bool use24Hour) {
  if (value == 0) return QStringLiteral("---");
  return Latin1(FormatDateTime(use24Hour ? "mmm d, hh:nn" : "mmm d, hh:nna/p", value));
}

QString THostInfoPane::UpPercentText(const THost& host) {
  const std::optional<long double> up = host.UpPercent();
  if (!up) return QStringLiteral("Up: -");
  // One decimal, cut rather than rounded: 99.96 must not claim 100.
  const long double cut = std::floor(*up * 10 + 1e-9L) / 10;
  return QStringLiteral("Up: ") + QString::number(static_cast<double>(cut), 'f', 1) + QStringLiteral("%");
}

void THostInfoPane::ClearLabels() {
  for (QLabel* l : {lbHostName, lbHostAddr, lbIPAddr, lbMAC, lbLastCheck, lbPrevCheck, lbLastSuccess, lbLastFail,
                    lbTestType, lbTestInfo, lbStats, lbUpDown, lbTestFreq, lbTestError, lbUpPct, lbErr})
    l->clear();
  imgStatus->clear();
  lvHistory->clear();
  // No host: a host field no line has (labels always hold " (").
  FLogLines->SetFixedHost(" ");
}

void THostInfoPane::ShowHost(const THost* host) {
  ClearLabels();
  if (!host) return;
  if (host->IsGroup()) {
    lbHostName->setText(QStringLiteral("Group: ") + Latin1(host->DisplayName.substr(1)));
    return;
  }
  const TDateTime now = FMonitor.Clock().Now();
  const bool use24 = FMonitor.Use24HourDate();
  int icon = THostTableModel::StatusIconIndex(*host, now);
  // The pane shows the state itself: no parent-down marks, nothing for Unknown.
  if (icon == 16 || icon == 17) icon = -1;
  else if (icon <= 9 && icon % 2 == 1) --icon;
  if (icon >= 0) imgStatus->setPixmap(FImages.Large(icon));
  lbHostName->setText(Latin1(host->DisplayName));
  lbHostAddr->setText(QStringLiteral("Addr: ") + Latin1(host->Address));
  lbIPAddr->setText(host->CurrentIP.empty() ? QStringLiteral("---") : Latin1(host->CurrentIP));
  lbMAC->setText(host->MACAddress.empty() ? QStringLiteral("---") : Latin1(host->MACAddress));
  lbLastCheck->setText(QStringLiteral("Last Check: ") + PaneDate(host->LastCheck, use24));
  lbPrevCheck->setText(QStringLiteral("Prev Check: ") + PaneDate(host->PreviousCheck, use24));
  lbLastSuccess->setText(QStringLiteral("Last Success: ") + PaneDate(host->LastSuccess, use24));
  lbLastFail->setText(QStringLiteral("Last Fail: ") + PaneDate(host->LastFailure, use24));
  if (const TTestKindEntry* kind = KindOf(*host); kind && kind->SummaryType) {
    lbTestType->setText(Latin1(kind->SummaryType(*host)));
    if (kind->SummaryInfo) lbTestInfo->setText(Latin1(kind->SummaryInfo(*host)));
  } else {
    lbTestType->setText(QStringLiteral("Unknown"));
  }
  lbStats->setText(QStringLiteral("S/W/E: %1/%2/%3").arg(host->Successes).arg(host->Warnings).arg(host->Errors));
  lbUpDown->setText(QStringLiteral("U/D: ") + Latin1(DurationText(host->Uptime)) + "/" +
                    Latin1(DurationText(host->Downtime)));
  lbTestFreq->setText(QStringLiteral("Test Freq: ") + MinutesText(host->TestInterval));
  lbTestError->setText(QStringLiteral("Error After: ") + MinutesText(host->ErrorAfter));
  lbUpPct->setText(UpPercentText(*host));
  lbErr->setText(Latin1(host->LastErrorText));
  lbErr->setVisible(height() > 125);
  FillHistory(*host);
  FLogLines->SetFixedHost(LogLabel(*host));
  lbHostLog->SelectLastLine();
}

void THostInfoPane::FillHistory(const THost& host) {
  const TDateTime now = FMonitor.Clock().Now();
  const bool use24 = FMonitor.Use24HourDate();
  const TDateTime today = std::floor(now);
  int shown = 0;
  int widest = 0;
  for (auto it = host.StatusHistory.rbegin(); it != host.StatusHistory.rend() && shown < MaxHistoryEntries;
       ++it, ++shown) {
    const int icon = it->Status == StatusOnline ? 2 : it->Status == StatusWarning ? 4 : 0;
    const char* format = std::floor(it->Time) == today ? (use24 ? "hh:nn:ss" : "hh:nn:ssa/p")
                                                       : (use24 ? "mmm d, hh:nn:ss" : "mmm d, hh:nn:ssa/p");
    const QString text = Latin1(FormatDateTime(format, it->Time)) + QStringLiteral(" (%1 ms)").arg(it->Response);
    widest = std::max(widest, lvHistory->fontMetrics().horizontalAdvance(text));
    lvHistory->addItem(new QListWidgetItem(QIcon(FImages.Small(icon)), text));
  }
  // Columns of 120 pixels unless an entry needs more (the other days' dates do).
  const int room = widest + TStatusImages::SmallSize + HistoryEntryPadding;
  lvHistory->setGridSize(QSize(std::max(HistoryColumnWidth, room), lvHistory->gridSize().height()));
}

void THostInfoPane::resizeEvent(QResizeEvent* event) {
  QTabWidget::resizeEvent(event);
  lbErr->setVisible(height() > 125);
}

bool THostInfoPane::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease) {
    const QPoint at = static_cast<QWidget*>(watched)->mapToGlobal(QPoint(0, static_cast<QWidget*>(watched)->height()));
    const QString text = static_cast<QLabel*>(watched)->text();
    if (watched == lbIPAddr && !text.isEmpty() && text != "---" && text != "0.0.0.0") emit AddressClicked(text, at);
    if (watched == lbMAC && !text.isEmpty() && text != "---") emit MACClicked(text, at);
  }
  return QTabWidget::eventFilter(watched, event);
}
