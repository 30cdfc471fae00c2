#include "ui/TLocalToolsPage.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include "common/SystemInfo.h"
#include "core/TMonitor.h"
#include "hosttests/TTestContext.h"
#include "ui/Latin1Text.h"
#include "ui/THostItemDelegate.h"
#include "ui/TOutputLinkDelegate.h"

TLocalToolsPage::TLocalToolsPage(TMonitor& monitor, QWidget* parent)
    : QWidget(parent), FMonitor(monitor), FCommands(LocalCommands()) {
  setObjectName("pnlLocalTools");
  pnlCommands = new QWidget(this);
  lbInfo = new QListWidget(pnlCommands);
  lbInfo->setObjectName("lbInfo");
  for (const TLocalCommand& c : FCommands) lbInfo->addItem(Latin1(c.Name));
  auto* commands = new QVBoxLayout(pnlCommands);
  commands->setContentsMargins(0, 0, 0, 0);
  commands->addWidget(lbInfo, 1);
  for (const TLocalCommand& c : LocalCommandButtons()) {
    auto* button = new QPushButton(Latin1(c.Name), pnlCommands);
    connect(button, &QPushButton::clicked, this, [this, c] { RunCommand("", c.Command); });
    commands->addWidget(button);
  }
  btnEmail = new QPushButton(QStringLiteral("Email Results..."), pnlCommands);
  btnEmail->setObjectName("btnEmail");
  commands->addWidget(btnEmail);

  lblHeading = new QLabel(this);
  lblHeading->setObjectName("lblHeading");
  lbOutput = new QListWidget(this);
  lbOutput->setObjectName("lbOutput");
  lbOutput->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  lbOutput->setItemDelegate(new TOutputLinkDelegate(lbOutput));
  lbOutput->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  lbOutput->viewport()->installEventFilter(this);
  lbOutput->viewport()->setMouseTracking(true);
  QPalette pal = lbOutput->palette();
  pal.setColor(QPalette::Base, THostItemDelegate::ListColour());
  lbOutput->setPalette(pal);

  auto* right = new QVBoxLayout;
  right->addWidget(lblHeading);
  right->addWidget(lbOutput, 1);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->addWidget(pnlCommands);
  layout->addLayout(right, 1);

  connect(lbInfo, &QListWidget::itemClicked, this, [this](QListWidgetItem*) { Refresh(); });
  connect(btnEmail, &QPushButton::clicked, this, [this] {
    QString body;
    for (const std::string& line : OutputLines()) body += Latin1(line) + QStringLiteral("\r\n");
    emit EmailRequested(lblHeading->text() + QStringLiteral(" on ") + Latin1(LocalComputerName()), body);
  });
}

TLocalToolsPage::~TLocalToolsPage() = default;

std::string TLocalToolsPage::Heading() const { return Latin1(lblHeading->text()); }

std::vector<std::string> TLocalToolsPage::OutputLines() const {
  std::vector<std::string> lines;
  for (int i = 0; i < lbOutput->count(); ++i) lines.push_back(Latin1(lbOutput->item(i)->text()));
  return lines;
}

void TLocalToolsPage::Refresh() {
  const int row = lbInfo->currentRow();
  if (row >= 0 && row < static_cast<int>(FCommands.size()))
    RunCommand(FCommands[static_cast<std::size_t>(row)].Name, FCommands[static_cast<std::size_t>(row)].Command);
}

void TLocalToolsPage::RunCommand(const std::string& name, const std::string& command) {
  if (FRunning) return;
  FRunning = true;
  if (!name.empty()) lblHeading->setText(Latin1(name));
  pnlCommands->setEnabled(false);
  setCursor(Qt::BusyCursor);
  std::weak_ptr<int> alive = FAlive;
  TTestContext& tests = FMonitor.Tests();
  tests.RunInPool([this, alive, command, &tests] {
    TLocalCommandResult result = RunLocalCommand(command);
    tests.PostCompletion(tests.Completions.Name, [this, alive, result = std::move(result)] {
      if (!alive.expired()) Show(result);
    });
  });
}

void TLocalToolsPage::Show(const TLocalCommandResult& result) {
  FRunning = false;
  pnlCommands->setEnabled(true);
  unsetCursor();
  if (!result.Error.empty()) {
    QMessageBox::warning(this, QStringLiteral("Local Tools"), Latin1(result.Error));
  } else {
    lbOutput->clear();
    for (const std::string& line : result.Lines) lbOutput->addItem(Latin1(line));
  }
  emit CommandFinished();
}

bool TLocalToolsPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == lbOutput->viewport() &&
      (event->type() == QEvent::MouseButtonRelease || event->type() == QEvent::MouseMove)) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint at = mouse->position().toPoint();
    QListWidgetItem* item = lbOutput->itemAt(at);
    const QRect rect = item ? lbOutput->visualItemRect(item) : QRect();
    const std::optional<TOutputLink> link =
        item ? TOutputLinkDelegate::LinkAt(item->text(), QFontMetrics(lbOutput->font()), at.x() - rect.left())
             : std::nullopt;
    if (event->type() == QEvent::MouseMove) {
      lbOutput->viewport()->setCursor(link ? Qt::PointingHandCursor : Qt::ArrowCursor);
    } else if (link && mouse->button() == Qt::LeftButton) {
      const QPoint global = lbOutput->viewport()->mapToGlobal(at);
      if (link->Mac) emit MacLinkClicked(Latin1(link->Link.Text), global);
      else emit HostLinkClicked(Latin1(link->Link.Text), global);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}
