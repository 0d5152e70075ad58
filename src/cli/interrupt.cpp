#include "cli/interrupt.h"

#include <QMetaObject>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

// Shared with the threads requests come from (Windows runs its console handler on a thread
// of its own).
std::mutex lock;
std::condition_variable releasedChanged;
Interrupt *instance = nullptr;
bool released = false;

} // namespace

bool Interrupt::requestFromAnyThread(bool waitForTheEnd, int graceMs)
{
    std::unique_lock<std::mutex> guard(lock);
    if (!instance)
        return false;
    QMetaObject::invokeMethod(instance, &Interrupt::requested, Qt::QueuedConnection);
    if (waitForTheEnd)
        releasedChanged.wait_for(guard, std::chrono::milliseconds(graceMs),
                                 [] { return released; });
    return true;
}

void Interrupt::release()
{
    const std::lock_guard<std::mutex> guard(lock);
    released = true;
    releasedChanged.notify_all();
}

Interrupt::Interrupt(QObject *parent) : QObject(parent)
{
    {
        const std::lock_guard<std::mutex> guard(lock);
        instance = this;
        released = false;
    }
    installHandlers();
}

Interrupt::~Interrupt()
{
    {
        // A request waiting now returns: nothing more will be said.
        const std::lock_guard<std::mutex> guard(lock);
        instance = nullptr;
        released = true;
        releasedChanged.notify_all();
    }
    removeHandlers();
}
