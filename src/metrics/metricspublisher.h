#pragma once

#include "metrics/metricsendpoint.h"
#include "metrics/shiftmetrics.h"

#include <QObject>
#include <QString>

#include <functional>

class FlashRun;

// Where the metrics go: served at [HOST:]PORT, written to a file for a textfile collector, or
// both.
struct MetricsTargets
{
    QString listen; // "" none, else [HOST:]PORT
    QString file;   // "" none
};

// "[HOST:]PORT" (HOST an address, [v6] or localhost; 127.0.0.1 when left out); false with the
// reason when it is not one. Says so where this build has no endpoint.
bool parseMetricsAddress(const QString &text, QString *host, quint16 *port, QString *why);

// Keeps the runs' metrics, counted since the program started: served, and the file replaced
// after each board, whole.
class MetricsPublisher : public QObject
{
    Q_OBJECT

public:
    explicit MetricsPublisher(const MetricsTargets &targets, QObject *parent = nullptr);

    // Counts `run`'s boards (a bench's shifts, one after another).
    void follow(const FlashRun &run);
    // The shift's approved job, and what its count has left (-1: no count), read at each board.
    void setJob(const JobStamp &job, std::function<int()> remaining);
    // The records waiting for the line's store, read at each board and each scrape.
    void setUnsent(std::function<int()> unsent) { m_metrics.setUnsent(std::move(unsent)); }

    // Starts serving and writes the file once; false with the reason.
    bool start(QString *why);
    quint16 port() const { return m_endpoint.port(); }
    QByteArray text() const { return m_metrics.text(); }

signals:
    // Said once: a later board's write says nothing more until one succeeds.
    void fileWriteFailed(const QString &why);

private:
    bool writeFile(QString *why);

    MetricsTargets m_targets;
    ShiftMetrics m_metrics;
    MetricsEndpoint m_endpoint;
    bool m_fileFailed = false;
};
