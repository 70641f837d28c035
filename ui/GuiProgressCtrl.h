#pragma once

#include <functional>

#include "common/ProgressCtrl.h"

class QProgressBar;

// The worker's progress bar on screen. Every call runs on the GUI thread: a call from another
// thread waits until the GUI thread has carried it out. That cannot deadlock as long as the
// GUI thread never waits for the worker, which the progress dialog guarantees by polling.
class GuiProgressCtrl : public CProgressCtrl {
  public:
    explicit GuiProgressCtrl(QProgressBar& bar);

    void SetPos(int position) override;
    void SetRange32(int lower, int upper) override;
    void SetStep(int step) override;
    void StepIt() override;

    // On the GUI thread only.
    int position() const { return m_position; }

  private:
    void onGuiThread(const std::function<void()>& action);
    void show();

    QProgressBar& m_bar;
    // Kept here rather than in the bar: QProgressBar ignores values outside its range and
    // animates an empty range, where the worker expects clamping and an empty bar.
    int m_lower = 0;
    int m_upper = 100;
    int m_position = 0;
    int m_step = 10;
};
