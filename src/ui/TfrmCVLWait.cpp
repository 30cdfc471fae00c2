#include "ui/TfrmCVLWait.h"

#include <QApplication>
#include <QLabel>
#include <QPainterPath>
#include <QRegion>
#include <QVBoxLayout>

TfrmCVLWait::TfrmCVLWait(QWidget* parent)
    : QWidget(parent, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool) {
  setObjectName("frmCVLWait");
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(207, 207, 255));
  setPalette(pal);
  setAutoFillBackground(true);
  lblWait = new QLabel(this);
  lblWait->setObjectName("lblWait");
  lblWait->setAlignment(Qt::AlignCenter);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblWait);
  resize(320, 80);
}

void TfrmCVLWait::ShowText(const QString& text) {
  lblWait->setText(text);
  show();
  raise();
  QApplication::processEvents();
}

void TfrmCVLWait::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  QPainterPath path;
  path.addRoundedRect(rect(), 12, 12);
  setMask(QRegion(path.toFillPolygon().toPolygon()));
}
