#pragma once
// A slot of a TSlotCounter taken for one piece of work. It goes back when the work really
// ends, however it ends: also when abandoned work finishes long after, or when its queued
// pool task is dropped unrun (the task's copy of the shared pointer goes with it).
#include "hosttests/TSlotCounter.h"

class TTakenSlot {
public:
  // counter may be null: work that bypasses the limit holds no slot.
  explicit TTakenSlot(TSlotCounter* counter) : FCounter(counter) {}
  ~TTakenSlot() { Release(); }
  TTakenSlot(const TTakenSlot&) = delete;
  TTakenSlot& operator=(const TTakenSlot&) = delete;
  void Release() {
    if (FCounter) FCounter->Release();
    FCounter = nullptr;
  }

private:
  TSlotCounter* FCounter;
};
