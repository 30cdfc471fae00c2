#pragma once
// The notice of a host back online: a small tool window captioned "Corvale Alerts" at
// the bottom-right corner of the work area that stays five seconds, fades out and frees
// itself.
#include <QTimer>
#include <QWidget>

class QLabel;

class TfrmCVToaster : public QWidget {
  Q_OBJECT
public:
  explicit TfrmCVToaster(const QString& hostDescription, QWidget* parent = nullptr);
  ~TfrmCVToaster() override;

  // The end of the five seconds: the fade begins.
  void tmrAlertTimer();
  // One step of the fade, 3 of 255 less opaque each; the step that reaches 0 closes the
  // window.
  void tmrFadeTimer();
  int Alpha() const { return FAlpha; }

  QLabel* lbAlert = nullptr;
  QTimer tmrAlert;
  QTimer tmrFade;

protected:
  void showEvent(QShowEvent* event) override;

private:
  int FAlpha = 255;
};
