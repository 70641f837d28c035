#pragma once

// The progress bar as the worker drives it. Each front end implements it; calls arrive on
// the worker thread and must reach the display synchronously.
class CProgressCtrl {
  public:
    virtual ~CProgressCtrl() = default;
    virtual void SetPos(int position) = 0;
    // 32-bit bounds: a backup of more than 32767 files must not turn the range negative.
    virtual void SetRange32(int lower, int upper) = 0;
    virtual void SetStep(int step) = 0;
    virtual void StepIt() = 0;
};
