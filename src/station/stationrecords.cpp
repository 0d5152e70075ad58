#include "station/stationrecords.h"

#include "engine/flash/flashrun.h"
#include "store/lineforwarder.h"
#include "store/stationstore.h"

#include <QCoreApplication>
#include <QMutexLocker>

// Lives on the records' thread, with the store it opens, writes and closes there.
class StoreKeeper : public QObject
{
    Q_OBJECT

public:
    explicit StoreKeeper(StationRecords *records) : m_records(records) {}

    bool open(const QString &path, const QStringList &files, bool forward, QString *why)
    {
        m_forward = forward;
        m_store = std::make_unique<StationStore>();
        if (!m_store->open(path, why) || m_store->catchUp(files, forward, why) < 0) {
            m_store.reset();
            return false;
        }
        count(0);
        return true;
    }
    void add(const QByteArray &line)
    {
        QString why;
        if (!m_store->add(line, m_forward, &why))
            emit addFailed(why);
        count(1);
        if (m_forward)
            emit added();
    }
    // What waits in the outbox now; `done` records given are in the store (or failed).
    void count(int done = 0)
    {
        const int counted = m_forward ? m_store->unsent() : 0;
        QMutexLocker locked(&m_records->m_waitingLock);
        m_records->m_waiting.counted = counted;
        m_records->m_waiting.given -= done;
    }

signals:
    void addFailed(const QString &why);
    void added();

private:
    StationRecords *m_records;
    std::unique_ptr<StationStore> m_store;
    bool m_forward = false;
};

StationRecords::StationRecords(QObject *parent) : QObject(parent) {}

StationRecords::~StationRecords()
{
    if (!m_keeper)
        return;
    drain(); // a quit loop drops what is still queued
    m_thread.quit();
    m_thread.wait();
}

bool StationRecords::open(const StationOptions &options, const QStringList &files, QString *why)
{
    if (!m_keeper) { // a window tries again at its next shift
        m_keeper = new StoreKeeper(this);
        m_keeper->moveToThread(&m_thread);
        connect(&m_thread, &QThread::finished, m_keeper, &QObject::deleteLater);
        m_thread.setObjectName(QStringLiteral("station store"));
        m_thread.start();
    }
    const bool forward = !options.lineStore.isEmpty();
    const QString path = StationStore::defaultPath();
    bool opened = false;
    QMetaObject::invokeMethod(
        m_keeper, [&] { opened = m_keeper->open(path, files, forward, why); },
        Qt::BlockingQueuedConnection);
    if (!opened)
        return false;
    connect(m_keeper, &StoreKeeper::addFailed, this, [this](const QString &why) {
        if (!m_failureSaid) {
            m_failureSaid = true;
            emit storeWriteFailed(why);
        }
    });
    if (!forward)
        return true;
    const std::optional<LineStoreUrl> url = LineStoreUrl::parse(options.lineStore, why);
    if (!url)
        return false;
    m_forwarder = std::make_unique<LineForwarder>(path, *url);
    connect(m_forwarder.get(), &LineForwarder::unsentChanged, this, &StationRecords::unsentChanged);
    connect(m_forwarder.get(), &LineForwarder::serverChanged, this, &StationRecords::serverChanged);
    // The forwarder's count is of a moment ago: the keeper counts again.
    connect(m_forwarder.get(), &LineForwarder::unsentChanged, m_keeper,
            [this] { m_keeper->count(); });
    connect(m_keeper, &StoreKeeper::added, m_forwarder.get(), &LineForwarder::nudge,
            Qt::DirectConnection); // nudge() posts to the forwarder's own thread
    m_forwarder->start();
    return true;
}

void StationRecords::follow(const FlashRun &run)
{
    connect(&run, &FlashRun::recordWritten, this, [this](const QByteArray &line) {
        {
            QMutexLocker locked(&m_waitingLock);
            ++m_waiting.given;
        }
        QMetaObject::invokeMethod(
            m_keeper, [keeper = m_keeper, line] { keeper->add(line); }, Qt::QueuedConnection);
    });
}

int StationRecords::unsent() const
{
    if (!m_forwarder)
        return 0;
    // A record just written is waiting, whatever the forwarder last saw.
    QMutexLocker locked(&m_waitingLock);
    return m_waiting.counted + m_waiting.given;
}

void StationRecords::drain()
{
    if (m_keeper)
        QMetaObject::invokeMethod(
            m_keeper, [] {}, Qt::BlockingQueuedConnection);
}

int StationRecords::sendWaiting()
{
    drain();
    if (!m_forwarder)
        return 0;
    const int waiting = m_forwarder->sendNow();
    // What the forwarder said meanwhile is said before the program ends.
    QCoreApplication::sendPostedEvents(m_forwarder.get(), QEvent::MetaCall);
    return waiting;
}

#include "stationrecords.moc"
