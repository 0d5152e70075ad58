#include "store/lineforwarder.h"

#include "store/recordrow.h"
#include "store/storeschema.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>
#include <QUuid>

namespace {

constexpr int roundEveryMs = 2000;
// Boards end in bursts on a bench: their records go in one round, not a round each, whose
// writes to the station's store would hold up the next board's record.
constexpr int gatherMs = 1000;
constexpr int batch = 500;

} // namespace

int sendBatch(QSqlDatabase station, QSqlDatabase line, QString *why, bool *lineFailed)
{
    *lineFailed = false;
    QStringList ids;
    QList<QVariantList> rows;
    {
        QSqlQuery next(station);
        next.setForwardOnly(true);
        next.prepare(QStringLiteral("SELECT outbox.id, boards.record FROM outbox JOIN boards ON "
                                    "boards.id = outbox.id LIMIT ?"));
        next.addBindValue(batch);
        if (!next.exec()) {
            *why = next.lastError().text();
            return -1;
        }
        while (next.next()) {
            ids << next.value(0).toString();
            const std::optional<QVariantList> row = recordrow::of(next.value(1).toByteArray());
            if (row)
                rows << *row;
        }
    }
    if (ids.isEmpty())
        return 0;
    bool sent = line.transaction();
    for (const QVariantList &row : std::as_const(rows)) {
        if (!sent)
            break;
        QSqlQuery insert(line);
        insert.prepare(storeschema::insertStatement());
        for (const QVariant &value : row)
            insert.addBindValue(value);
        sent = insert.exec();
        if (!sent)
            *why = insert.lastError().text();
    }
    if (!sent || !line.commit()) {
        if (why->isEmpty())
            *why = line.lastError().text();
        line.rollback();
        *lineFailed = true;
        return -1;
    }
    // In the line's store now: off the outbox. A crash before this sends them again, and the
    // line's store keeps one of each. An outbox that cannot be written now is tried again
    // later, never in a loop.
    if (!storeschema::beginWrite(station, why))
        return -1;
    for (const QString &id : std::as_const(ids)) {
        QSqlQuery taken(station);
        taken.prepare(QStringLiteral("DELETE FROM outbox WHERE id = ?"));
        taken.addBindValue(id);
        if (!taken.exec()) {
            *why = taken.lastError().text();
            storeschema::rollback(station);
            return -1;
        }
    }
    if (!storeschema::commit(station, why)) {
        storeschema::rollback(station);
        return -1;
    }
    return int(ids.size());
}

// Lives on the forwarder's thread, with its own connections to both stores.
class ForwardingWorker : public QObject
{
    Q_OBJECT

public:
    ForwardingWorker(const QString &stationStore, const LineStoreUrl &url, std::atomic<int> *unsent)
        : m_stationPath(stationStore), m_url(url), m_unsent(unsent)
    {
        const QString id = QUuid::createUuid().toString(QUuid::Id128);
        m_station = QStringLiteral("forward-station-") + id;
        m_line = QStringLiteral("forward-line-") + id;
    }
    ~ForwardingWorker() override
    {
        for (const QString &name : {m_station, m_line}) {
            QSqlDatabase::database(name, false).close();
            QSqlDatabase::removeDatabase(name);
        }
    }

    void start()
    {
        m_timer = new QTimer(this);
        m_timer->setInterval(roundEveryMs);
        connect(m_timer, &QTimer::timeout, this, &ForwardingWorker::round);
        m_timer->start();
        m_soon = new QTimer(this);
        m_soon->setSingleShot(true);
        m_soon->setInterval(gatherMs);
        connect(m_soon, &QTimer::timeout, this, &ForwardingWorker::round);
        round();
    }
    void round();
    void soon()
    {
        if (!m_soon)
            round();
        else if (!m_soon->isActive())
            m_soon->start();
    }

signals:
    void unsentChanged(int count);
    void serverChanged(const QString &why);

private:
    bool openStation();
    void lineAway(const QString &why);

    QString m_stationPath;
    LineStoreUrl m_url;
    std::atomic<int> *m_unsent;
    QString m_station, m_line;
    QTimer *m_timer = nullptr;
    QTimer *m_soon = nullptr;
    bool m_lineOpen = false;
    QString m_lastProblem;
    bool m_said = false;
};

bool ForwardingWorker::openStation()
{
    QSqlDatabase station = QSqlDatabase::contains(m_station)
                               ? QSqlDatabase::database(m_station, false)
                               : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_station);
    if (station.isOpen())
        return true;
    station.setDatabaseName(m_stationPath);
    station.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    return station.open();
}

void ForwardingWorker::lineAway(const QString &why)
{
    QSqlDatabase::database(m_line, false).close();
    m_lineOpen = false;
    if (!m_said || why != m_lastProblem) {
        m_said = true;
        m_lastProblem = why;
        emit serverChanged(why);
    }
}

void ForwardingWorker::round()
{
    if (!openStation())
        return;
    QSqlDatabase station = QSqlDatabase::database(m_station, false);
    for (;;) {
        int unsent = 0;
        {
            QSqlQuery waiting(station);
            if (!waiting.exec(QStringLiteral("SELECT COUNT(*) FROM outbox")) || !waiting.next())
                return;
            unsent = waiting.value(0).toInt();
        }
        if (unsent != *m_unsent) {
            *m_unsent = unsent;
            emit unsentChanged(unsent);
        }
        // The first round reaches the server even with nothing to send: a server away is said
        // when the station starts, not at its first board.
        if (unsent == 0 && m_said)
            return;
        QString why;
        if (!m_lineOpen) {
            if (!openLineStore(m_url, m_line, &why)) {
                lineAway(why);
                return;
            }
            m_lineOpen = true;
            if (m_said && !m_lastProblem.isEmpty()) {
                m_lastProblem.clear();
                emit serverChanged(QString());
            }
            m_said = true;
        }
        if (unsent == 0)
            return;
        bool lineFailed = false;
        if (sendBatch(station, QSqlDatabase::database(m_line, false), &why, &lineFailed) <= 0) {
            if (lineFailed)
                lineAway(why);
            return;
        }
    }
}

LineForwarder::LineForwarder(const QString &stationStore, const LineStoreUrl &url, QObject *parent)
    : QObject(parent), m_worker(new ForwardingWorker(stationStore, url, &m_unsent))
{
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_worker, &ForwardingWorker::unsentChanged, this, &LineForwarder::unsentChanged);
    connect(m_worker, &ForwardingWorker::serverChanged, this, &LineForwarder::serverChanged);
}

LineForwarder::~LineForwarder()
{
    m_thread.quit();
    m_thread.wait();
}

void LineForwarder::start()
{
    m_thread.setObjectName(QStringLiteral("line store"));
    m_thread.start();
    QMetaObject::invokeMethod(m_worker, &ForwardingWorker::start, Qt::QueuedConnection);
}

int LineForwarder::sendNow()
{
    QMetaObject::invokeMethod(m_worker, &ForwardingWorker::round, Qt::BlockingQueuedConnection);
    return m_unsent;
}

void LineForwarder::nudge()
{
    QMetaObject::invokeMethod(m_worker, &ForwardingWorker::soon, Qt::QueuedConnection);
}

#include "lineforwarder.moc"
