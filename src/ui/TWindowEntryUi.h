#pragma once
// The program entry's waits and messages as windows: the wait window and a message box.
#include <memory>

#include "core/TProgramEntry.h"

class TfrmCVLWait;

class TWindowEntryUi : public TEntryUi {
public:
  TWindowEntryUi();
  ~TWindowEntryUi() override;
  void ShowWait(const std::string& text) override;
  void HideWait() override;
  void Pause(int ms) override;
  void ShowPrematureClose(const std::string& text) override;

private:
  std::unique_ptr<TfrmCVLWait> FWait;
};
