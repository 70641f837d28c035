#include "ui/GuiProgressCtrl.h"

#include <QMetaObject>
#include <QProgressBar>
#include <QThread>
#include <algorithm>

GuiProgressCtrl::GuiProgressCtrl(QProgressBar& bar) : m_bar(bar) {
    show();
}

void GuiProgressCtrl::SetPos(int position) {
    onGuiThread([this, position] {
        m_position = std::clamp(position, m_lower, std::max(m_lower, m_upper));
        show();
    });
}

void GuiProgressCtrl::SetRange32(int lower, int upper) {
    onGuiThread([this, lower, upper] {
        m_lower = lower;
        m_upper = upper;
        m_position = std::clamp(m_position, m_lower, std::max(m_lower, m_upper));
        show();
    });
}

void GuiProgressCtrl::SetStep(int step) {
    onGuiThread([this, step] { m_step = step; });
}

void GuiProgressCtrl::StepIt() {
    onGuiThread([this] {
        // Past the end the bar starts over, as the worker's bar control does.
        const long long next = static_cast<long long>(m_position) + m_step;
        m_position = next > m_upper || next < m_lower ? m_lower : static_cast<int>(next);
        show();
    });
}

void GuiProgressCtrl::onGuiThread(const std::function<void()>& action) {
    if (QThread::currentThread() == m_bar.thread())
        action();
    else
        QMetaObject::invokeMethod(&m_bar, action, Qt::BlockingQueuedConnection);
}

void GuiProgressCtrl::show() {
    if (m_upper > m_lower) {
        m_bar.setRange(m_lower, m_upper);
        m_bar.setValue(m_position);
    } else {
        m_bar.setRange(0, 1);
        m_bar.setValue(0);
    }
}
