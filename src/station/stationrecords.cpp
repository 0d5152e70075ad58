#include "station/stationrecords.h"

#include "engine/flash/flashrun.h"
#include "store/lineforwarder.h"
#include "store/stationstore.h"

#include <QCoreApplication>

StationRecords::StationRecords(QObject *parent) : QObject(parent) {}

StationRecords::~StationRecords() = default;

bool StationRecords::open(const StationOptions &options, const QStringList &files, QString *why)
{
    m_store = std::make_unique<StationStore>();
    if (!m_store->open(StationStore::defaultPath(), why))
        return false;
    const bool forward = !options.lineStore.isEmpty();
    if (m_store->catchUp(files, forward, why) < 0)
        return false;
    if (!forward)
        return true;
    const std::optional<LineStoreUrl> url = LineStoreUrl::parse(options.lineStore, why);
    if (!url)
        return false;
    m_forwarder = std::make_unique<LineForwarder>(m_store->path(), *url);
    connect(m_forwarder.get(), &LineForwarder::unsentChanged, this, &StationRecords::unsentChanged);
    connect(m_forwarder.get(), &LineForwarder::serverChanged, this, &StationRecords::serverChanged);
    m_forwarder->start();
    return true;
}

void StationRecords::follow(const FlashRun &run)
{
    connect(&run, &FlashRun::recordWritten, this, [this](const QByteArray &line) {
        QString why;
        if (!m_store->add(line, m_forwarder != nullptr, &why) && !m_failureSaid) {
            m_failureSaid = true;
            emit storeWriteFailed(why);
        }
        if (m_forwarder)
            m_forwarder->nudge();
    });
}

int StationRecords::unsent() const
{
    // Counted in the store: a record just added is waiting, whatever the forwarder last saw.
    return m_forwarder ? m_store->unsent() : 0;
}

int StationRecords::sendWaiting()
{
    if (!m_forwarder)
        return 0;
    const int waiting = m_forwarder->sendNow();
    // What the forwarder said meanwhile is said before the program ends.
    QCoreApplication::sendPostedEvents(m_forwarder.get(), QEvent::MetaCall);
    return waiting;
}
