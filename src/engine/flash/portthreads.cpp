#include "engine/flash/portthreads.h"

#include <QCoreApplication>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QThread>

#include <memory>
#include <vector>

namespace {

// Owned by the application, so that its threads end before it does.
class Pool : public QObject
{
public:
    explicit Pool(QObject *parent) : QObject(parent), m_reaper(new QObject(this))
    {
        // Polling a few hundred ports costs a loop more than its replies do: a share each,
        // and more loops than cores, since a write to a port may wait on the system.
        const int count = qBound(2, QThread::idealThreadCount() * 4, 8);
        for (int i = 0; i < count; ++i) {
            auto thread = std::make_unique<QThread>();
            thread->setObjectName(QStringLiteral("ports %1").arg(i + 1));
            auto *anchor = new QObject;
            anchor->moveToThread(thread.get());
            connect(thread.get(), &QThread::finished, anchor, &QObject::deleteLater);
            thread->start();
            m_anchors << anchor;
            m_threads.push_back(std::move(thread));
        }
    }
    ~Pool() override { stop(); }
    // Before the application is taken down: what the threads still do (a port let go) may ask
    // for it.
    void stop()
    {
        // Nothing left undeleted: the jobs let go, then the ports they let go in turn, each
        // deleted on its thread before the thread ends.
        if (m_stopped)
            return; // the anchors went with the threads
        m_stopped = true;
        QCoreApplication::sendPostedEvents(m_reaper, QEvent::MetaCall);
        for (int round = 0; round < 2; ++round)
            for (QObject *anchor : std::as_const(m_anchors))
                QMetaObject::invokeMethod(
                    anchor, [] {}, Qt::BlockingQueuedConnection);
        for (const auto &thread : m_threads)
            thread->quit();
        for (const auto &thread : m_threads)
            thread->wait();
    }
    QObject *next()
    {
        m_turn = (m_turn + 1) % m_anchors.size();
        return m_anchors.at(m_turn);
    }
    void letGo(QObject *object)
    {
        QMetaObject::invokeMethod(
            m_reaper, [object] { object->deleteLater(); }, Qt::QueuedConnection);
    }

private:
    std::vector<std::unique_ptr<QThread>> m_threads;
    QList<QObject *> m_anchors;
    QObject *m_reaper; // here: its queue comes after what was queued before
    bool m_stopped = false;
    qsizetype m_turn = -1;
};

QPointer<Pool> pool;

void stopPool()
{
    if (pool)
        pool->stop();
}

} // namespace

QObject *portthreads::next()
{
    if (!pool) {
        pool = new Pool(QCoreApplication::instance());
        qAddPostRoutine(stopPool); // run first as the application ends
    }
    return pool->next();
}

void portthreads::letGo(QObject *object)
{
    if (pool)
        pool->letGo(object);
    else
        object->deleteLater(); // made before the application's end, on no port thread
}
