#include "ui/TfrmCVToaster.h"

#include <QLabel>
#include <QVBoxLayout>

#include "ui/AlertWindowLook.h"

namespace {
constexpr int FadeStep = 3;
}  // namespace

TfrmCVToaster::TfrmCVToaster(const QString& hostDescription, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint) {
  setObjectName("frmCVToaster");
  setWindowTitle(QStringLiteral("Corvale Alerts"));
  setAttribute(Qt::WA_DeleteOnClose);
  setAttribute(Qt::WA_ShowWithoutActivating);

  auto* title = new QLabel(QStringLiteral("Host Online:"), this);
  QFont bold = title->font();
  bold.setBold(true);
  title->setFont(bold);
  lbAlert = new QLabel(hostDescription, this);
  lbAlert->setObjectName("lbAlert");
  lbAlert->setTextFormat(Qt::PlainText);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(10, 8, 10, 8);
  layout->addWidget(title);
  layout->addWidget(lbAlert);
  setMinimumWidth(240);

  tmrAlert.setInterval(5000);
  tmrAlert.setSingleShot(true);
  connect(&tmrAlert, &QTimer::timeout, this, &TfrmCVToaster::tmrAlertTimer);
  // Paced by a timer rather than a loop that lets events run, so nothing re-enters the
  // program while a notice fades.
  tmrFade.setInterval(10);
  connect(&tmrFade, &QTimer::timeout, this, &TfrmCVToaster::tmrFadeTimer);
}

TfrmCVToaster::~TfrmCVToaster() = default;

void TfrmCVToaster::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  PaintAlertBackground(*this);
  PlaceAtBottomRight(*this);
  if (FAlpha == 255 && !tmrFade.isActive()) tmrAlert.start();
}

void TfrmCVToaster::tmrAlertTimer() {
  tmrAlert.stop();
  if (!tmrFade.isActive()) tmrFade.start();
}

void TfrmCVToaster::tmrFadeTimer() {
  if (FAlpha < 0) return;
  setWindowOpacity(FAlpha / 255.0);
  FAlpha -= FadeStep;
  if (FAlpha >= 0) return;
  tmrFade.stop();
  close();
}
