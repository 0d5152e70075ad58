#include "window/app/blockloopevents.h"

#include <QCoreApplication>
#include <QProgressBar>

namespace {

// Often enough that the window stays responsive however fast the device answers, rarely enough
// that a pass of the event loop per block does not halve the rate.
constexpr int eventPassEveryMs = 16;
constexpr int paintEveryMs = 40;

} // namespace

BlockLoopEvents::BlockLoopEvents(QProgressBar *bar) : m_bar(bar), m_paintedValue(bar->value())
{
    m_wake.setSingleShot(true);
    m_wake.setTimerType(Qt::PreciseTimer);
    m_bar->setUpdatesEnabled(false);
}

BlockLoopEvents::~BlockLoopEvents()
{
    m_bar->setUpdatesEnabled(true);
}

void BlockLoopEvents::letThrough()
{
    if (!m_sincePass.isValid() || m_sincePass.elapsed() >= eventPassEveryMs)
        pass(QEventLoop::AllEvents);
}

void BlockLoopEvents::sleep(int ms)
{
    m_wake.start(ms);
    pass(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    m_wake.stop();
}

void BlockLoopEvents::pass(QEventLoop::ProcessEventsFlags flags)
{
    const bool paint = m_bar->value() != m_paintedValue &&
                       (!m_sincePaint.isValid() || m_sincePaint.elapsed() >= paintEveryMs);
    if (paint) {
        m_bar->setUpdatesEnabled(true); // schedules the paint for this pass
        m_paintedValue = m_bar->value();
        m_sincePaint.start();
    }
    QCoreApplication::processEvents(flags);
    if (paint)
        m_bar->setUpdatesEnabled(false);
    m_sincePass.start();
}
