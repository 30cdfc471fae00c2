#include "ui/TRemoteToolsPage.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTableView>
#include <QVBoxLayout>

#include "tools/RangePing.h"
#include "tools/TRemoteTools.h"
#include "ui/Latin1Text.h"
#include "ui/TDialogAsk.h"
#include "ui/THostItemDelegate.h"
#include "ui/TToolGridDelegate.h"
#include "ui/TToolGridModel.h"

TRemoteToolsPage::TRemoteToolsPage(TMonitor& monitor, TDialogAsk& ask, QWidget* parent)
    : QWidget(parent), FAsk(ask), FTools(std::make_unique<TRemoteTools>(monitor)) {
  setObjectName("pnlRemoteTools");
  tbHost = new QLineEdit(this);
  tbHost->setObjectName("tbHost");
  btnTrace = new QPushButton(QStringLiteral("Trace Route"), this);
  btnTrace->setObjectName("btnTrace");
  btnNBT = new QPushButton(QStringLiteral("NetBIOS Status"), this);
  btnNBT->setObjectName("btnNBT");
  btnPathPing = new QPushButton(QStringLiteral("Path Ping"), this);
  btnPathPing->setObjectName("btnPathPing");
  tbPingFrom = new QLineEdit(this);
  tbPingFrom->setObjectName("tbPingFrom");
  tbPingTo = new QLineEdit(this);
  tbPingTo->setObjectName("tbPingTo");
  btnPingRange = new QPushButton(QStringLiteral("Ping Range"), this);
  btnPingRange->setObjectName("btnPingRange");
  pnlCaption = new QLabel(this);
  pnlCaption->setObjectName("pnlCaption");
  // Spaces never belong in an address; the range boxes take digits, dots and "/".
  tbHost->installEventFilter(this);
  auto* rangeChars = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9./]*")), this);
  tbPingFrom->setValidator(rangeChars);
  tbPingTo->setValidator(rangeChars);

  FModel = new TToolGridModel(*FTools, this);
  sgTrace = new QTableView(this);
  sgTrace->setObjectName("sgTrace");
  sgTrace->setModel(FModel);
  sgTrace->setItemDelegate(new TToolGridDelegate(sgTrace));
  sgTrace->verticalHeader()->hide();
  sgTrace->setSelectionBehavior(QAbstractItemView::SelectRows);
  sgTrace->setEditTriggers(QAbstractItemView::NoEditTriggers);
  const int widths[] = {50, 125, 200, 80, 80};
  for (int c = 0; c < TRemoteTools::ColumnCount; ++c) sgTrace->setColumnWidth(c, widths[c]);
  lbNetBIOS = new QListWidget(this);
  lbNetBIOS->setObjectName("lbNetBIOS");
  lbNetBIOS->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  lbNetBIOS->hide();
  for (QWidget* list : {static_cast<QWidget*>(sgTrace), static_cast<QWidget*>(lbNetBIOS)}) {
    QPalette pal = list->palette();
    pal.setColor(QPalette::Base, THostItemDelegate::ListColour());
    list->setPalette(pal);
  }

  auto* boxes = new QGridLayout;
  boxes->addWidget(new QLabel(QStringLiteral("Remote Host:"), this), 0, 0);
  boxes->addWidget(tbHost, 0, 1, 1, 3);
  boxes->addWidget(btnTrace, 0, 4);
  boxes->addWidget(btnNBT, 0, 5);
  boxes->addWidget(btnPathPing, 0, 6);
  boxes->addWidget(new QLabel(QStringLiteral("Range:"), this), 1, 0);
  boxes->addWidget(tbPingFrom, 1, 1);
  boxes->addWidget(new QLabel(QStringLiteral("to"), this), 1, 2);
  boxes->addWidget(tbPingTo, 1, 3);
  boxes->addWidget(btnPingRange, 1, 4);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->addLayout(boxes);
  layout->addWidget(pnlCaption);
  layout->addWidget(sgTrace, 1);
  layout->addWidget(lbNetBIOS, 1);

  connect(btnTrace, &QPushButton::clicked, this, [this] { FTools->StartTrace(Latin1(tbHost->text()), false); });
  connect(btnPathPing, &QPushButton::clicked, this, [this] { FTools->StartTrace(Latin1(tbHost->text()), true); });
  connect(btnNBT, &QPushButton::clicked, this, [this] {
    setCursor(Qt::BusyCursor);
    FTools->StartNetBIOS(Latin1(tbHost->text()));
  });
  connect(btnPingRange, &QPushButton::clicked, this, &TRemoteToolsPage::btnPingRangeClick);
  connect(tbPingFrom, &QLineEdit::editingFinished, this, &TRemoteToolsPage::tbPingFromExit);
  connect(tbPingFrom, &QLineEdit::textChanged, this, &TRemoteToolsPage::UpdateRangeButton);
  connect(tbPingTo, &QLineEdit::textChanged, this, &TRemoteToolsPage::UpdateRangeButton);
  connect(FTools.get(), &TRemoteTools::GridChanged, this, &TRemoteToolsPage::OnGridChanged);
  connect(FTools.get(), &TRemoteTools::ToolsEnabledChanged, this, &TRemoteToolsPage::OnToolsEnabled);
  connect(FTools.get(), &TRemoteTools::Message, this, [this](bool warning, const QString& text) {
    FAsk.Message(this, warning ? TDialogAsk::TKind::Warning : TDialogAsk::TKind::Information, QStringLiteral("Corvale"),
                 QString(text).replace(QLatin1Char('\r'), QLatin1Char('\n')));
  });
  for (QPushButton* b : {btnTrace, btnNBT, btnPathPing}) b->setEnabled(false);
  connect(tbHost, &QLineEdit::textChanged, this, [this] { OnToolsEnabled(FTools->ToolsEnabled()); });
  UpdateRangeButton();
}

TRemoteToolsPage::~TRemoteToolsPage() = default;

bool TRemoteToolsPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tbHost && event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space)
    return true;
  return QWidget::eventFilter(watched, event);
}

void TRemoteToolsPage::SetHost(const std::string& address) {
  tbHost->setText(Latin1(address));
  OnToolsEnabled(FTools->ToolsEnabled());
}

void TRemoteToolsPage::TraceRouteClick() {
  if (btnTrace->isEnabled()) btnTrace->click();
}

void TRemoteToolsPage::Refresh() { TraceRouteClick(); }

void TRemoteToolsPage::ClearNetBIOS() { FTools->ClearNetBIOS(); }

void TRemoteToolsPage::tbPingFromExit() {
  std::string first, last;
  if (!tbPingFrom->text().contains(QLatin1Char('/')) || !ExpandPrefixRange(Latin1(tbPingFrom->text()), first, last))
    return;
  tbPingFrom->setText(Latin1(first));
  tbPingTo->setText(Latin1(last));
}

void TRemoteToolsPage::btnPingRangeClick() {
  tbPingFromExit();
  const std::string from = Latin1(tbPingFrom->text()), to = Latin1(tbPingTo->text());
  if (!RangeInputValid(from, to)) return;
  if (RangeNeedsConfirmation(from, to) &&
      FAsk.Message(this, TDialogAsk::TKind::Question, QStringLiteral("Confirm"), Latin1(RangeConfirmationText(from, to)),
                   QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
    return;
  FTools->StartRangePing(from, to);
}

void TRemoteToolsPage::OnGridChanged() {
  pnlCaption->setText(Latin1(FTools->Caption()));
  const bool nbt = FTools->ShowingNetBIOS();
  sgTrace->setVisible(!nbt);
  lbNetBIOS->setVisible(nbt);
  if (nbt) {
    lbNetBIOS->clear();
    for (const std::string& line : FTools->NetBIOSLines()) lbNetBIOS->addItem(Latin1(line));
  }
  UpdateRangeButton();
}

void TRemoteToolsPage::OnToolsEnabled(bool enabled) {
  if (enabled) unsetCursor();
  const bool host = !tbHost->text().isEmpty();
  tbHost->setEnabled(enabled);
  for (QPushButton* b : {btnTrace, btnNBT, btnPathPing}) b->setEnabled(enabled && host);
  UpdateRangeButton();
}

void TRemoteToolsPage::UpdateRangeButton() {
  btnPingRange->setEnabled(FTools->ToolsEnabled() && !FTools->RangeRunning() &&
                           RangeInputValid(Latin1(tbPingFrom->text()), Latin1(tbPingTo->text())));
}
