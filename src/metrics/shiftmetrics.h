#pragma once

#include "records/boardrecord.h"
#include "records/shifttally.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>
#include <functional>

// A shift's figures in Prometheus' text format, for the line's monitoring: counters since the
// program started, a histogram of a board's time and of its reply latency, the boards in
// progress and the image. Labels are of low cardinality only: a result, never a port or a
// serial number.
class ShiftMetrics
{
public:
    ShiftMetrics();

    void boardStarted();
    void boardFinished(const BoardRecord &board);
    void setImage(const ImageRecord &image);
    void setJob(const JobStamp &job);
    // What the job's count has left, asked as the text is made; -1 for no count.
    void setJobRemaining(std::function<int()> remaining);
    // The records waiting for the line's store, asked as the text is made.
    void setUnsent(std::function<int()> unsent);
    QByteArray text() const;

private:
    struct Histogram
    {
        QList<double> bounds; // upper bounds, rising; +Inf is implied
        QList<quint64> counts;
        quint64 count = 0;
        double sum = 0;

        void observe(double value);
    };

    ShiftTally m_boards; // since the program started
    quint64 m_bytesSent = 0;
    quint64 m_resends = 0;
    int m_inProgress = 0;
    double m_lastSuccess = 0; // seconds since the epoch; 0: none yet
    Histogram m_duration;
    Histogram m_latency;
    QString m_imageSha256;
    JobStamp m_job;
    std::function<int()> m_jobRemaining;
    std::function<int()> m_unsent;
};
