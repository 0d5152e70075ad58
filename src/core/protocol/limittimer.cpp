#include "core/protocol/limittimer.h"

#include "core/protocol/quenlark.h"

LimitTimer::LimitTimer(QObject *parent) : QObject(parent)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer); // a coarse timer may fire up to 5 % early
    connect(&m_timer, &QTimer::timeout, this, &LimitTimer::onTimeout);
    m_clock.start();
}

void LimitTimer::restart(int limitMs)
{
    m_since.start();
    m_limitMs = limitMs;
    const int untilPast = quenlark::msUntilPast(0, limitMs);
    if (m_timer.isActive() && m_dueAtMs <= m_clock.elapsed() + untilPast)
        return;
    arm(untilPast);
}

void LimitTimer::stop()
{
    m_timer.stop();
}

void LimitTimer::arm(int ms)
{
    m_dueAtMs = m_clock.elapsed() + ms;
    m_timer.start(ms);
}

void LimitTimer::onTimeout()
{
    const qint64 elapsed = m_since.elapsed();
    if (!quenlark::isPast(double(elapsed), m_limitMs)) {
        arm(quenlark::msUntilPast(double(elapsed), m_limitMs));
        return;
    }
    emit passed();
}
