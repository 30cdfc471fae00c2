#include "ui/TfrmWaitShutdown.h"

#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainterPath>
#include <QRegion>
#include <QTimer>
#include <QVBoxLayout>

#include <map>

QStringList CountedTaskNames(const std::vector<std::string>& names) {
  std::map<std::string, int> counts;
  for (const std::string& name : names) ++counts[name];
  QStringList lines;
  for (const auto& [name, count] : counts)
    lines.append(QString::fromLatin1(name.c_str()) + QStringLiteral(" (") + QString::number(count) + QChar(')'));
  return lines;
}

TfrmWaitShutdown::TfrmWaitShutdown(std::function<std::vector<std::string>()> runningNames, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      FRunningNames(std::move(runningNames)) {
  setObjectName(QStringLiteral("frmWaitShutdown"));
  setWindowTitle(QStringLiteral("Corvale"));
  setAutoFillBackground(true);
  QPalette look = palette();
  look.setColor(QPalette::Window, QColor(0xDD, 0xEE, 0xFF));
  setPalette(look);

  lblWaiting = new QLabel(QStringLiteral("Corvale is waiting for completion of..."), this);
  lbTasks = new QListWidget(this);
  lbTasks->setSelectionMode(QAbstractItemView::NoSelection);
  lbTasks->setFocusPolicy(Qt::NoFocus);
  lbTasks->setEditTriggers(QAbstractItemView::NoEditTriggers);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(14, 12, 14, 14);
  layout->addWidget(lblWaiting);
  layout->addWidget(lbTasks);
  resize(320, 220);

  // The panel has no title bar: it is dragged by its face and by its text.
  installEventFilter(this);
  lblWaiting->installEventFilter(this);
  lbTasks->viewport()->installEventFilter(this);

  FTimer = new QTimer(this);
  FTimer->setInterval(100);
  connect(FTimer, &QTimer::timeout, this, &TfrmWaitShutdown::Refresh);
}

void TfrmWaitShutdown::Refresh() {
  const QStringList lines = CountedTaskNames(FRunningNames ? FRunningNames() : std::vector<std::string>());
  // Rewritten only when it changed, so the list neither flickers nor loses its scroll.
  bool same = lines.size() == lbTasks->count();
  for (int i = 0; same && i < lines.size(); ++i) same = lbTasks->item(i)->text() == lines[i];
  if (same) return;
  lbTasks->clear();
  lbTasks->addItems(lines);
}

void TfrmWaitShutdown::showEvent(QShowEvent* event) {
  Refresh();
  FTimer->start();
  QWidget::showEvent(event);
}

void TfrmWaitShutdown::hideEvent(QHideEvent* event) {
  FTimer->stop();
  QWidget::hideEvent(event);
}

void TfrmWaitShutdown::resizeEvent(QResizeEvent* event) {
  QPainterPath outline;
  outline.addRoundedRect(QRectF(rect()), 10, 10);  // a 20 by 20 corner ellipse
  setMask(QRegion(outline.toFillPolygon().toPolygon()));
  QWidget::resizeEvent(event);
}

bool TfrmWaitShutdown::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() == Qt::LeftButton) {
        FDragging = true;
        FDragOffset = mouse->globalPosition().toPoint() - frameGeometry().topLeft();
        return true;
      }
      break;
    }
    case QEvent::MouseMove:
      if (FDragging) {
        move(static_cast<QMouseEvent*>(event)->globalPosition().toPoint() - FDragOffset);
        return true;
      }
      break;
    case QEvent::MouseButtonRelease:
      if (FDragging) {
        FDragging = false;
        return true;
      }
      break;
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}
