#include "metrics/shiftmetrics.h"

#include <QCoreApplication>
#include <QLocale>

namespace {

constexpr BoardResult results[] = {BoardResult::Ok, BoardResult::Failed, BoardResult::NotDetected,
                                   BoardResult::PortError, BoardResult::Cancelled};

QByteArray number(double value)
{
    return QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
}

QByteArray header(const char *name, const char *type, const char *help)
{
    return QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
}

// A label's value as the text format quotes it.
QByteArray escaped(const QString &value)
{
    QByteArray out = value.toUtf8();
    out.replace('\\', "\\\\").replace('"', "\\\"").replace('\n', "\\n");
    return out;
}

} // namespace

void ShiftMetrics::Histogram::observe(double value)
{
    for (int i = 0; i < bounds.size(); ++i)
        if (value <= bounds.at(i))
            ++counts[i];
    ++count;
    sum += value;
}

ShiftMetrics::ShiftMetrics()
{
    // A board takes seconds to minutes: a small image at the wire's pace, up to a large one
    // behind a slow adapter.
    m_duration.bounds = {1, 2, 5, 10, 20, 30, 60, 120, 300, 600};
    // Beyond the wire, a block's reply: a fast adapter's millisecond to a stalled board's second.
    m_latency.bounds = {0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1};
    for (Histogram *histogram : {&m_duration, &m_latency})
        histogram->counts.fill(0, histogram->bounds.size());
}

void ShiftMetrics::boardStarted()
{
    ++m_inProgress;
}

void ShiftMetrics::boardFinished(const BoardRecord &board)
{
    m_inProgress = qMax(0, m_inProgress - 1);
    m_boards.add(board);
    m_bytesSent += quint64(qMax<qint64>(0, board.bytesSent));
    m_resends += quint64(qMax(0, board.resends));
    if (board.result == BoardResult::Cancelled)
        return; // an operator's stop says nothing of how long a board takes
    m_duration.observe(board.seconds);
    if (board.blocks > 0)
        m_latency.observe(board.replyLatencyMs / 1000);
    if (board.result == BoardResult::Ok)
        m_lastSuccess = double((board.ended.isValid() ? board.ended : QDateTime::currentDateTime())
                                   .toMSecsSinceEpoch()) /
                        1000;
}

void ShiftMetrics::setImage(const ImageRecord &image)
{
    m_imageSha256 = image.sha256;
}

void ShiftMetrics::setJob(const JobStamp &job)
{
    m_job = job;
}

void ShiftMetrics::setJobRemaining(std::function<int()> remaining)
{
    m_jobRemaining = std::move(remaining);
}

void ShiftMetrics::setUnsent(std::function<int()> unsent)
{
    m_unsent = std::move(unsent);
}

QByteArray ShiftMetrics::text() const
{
    QByteArray out;
    out += header("vantyx_boards_total", "counter", "Boards finished, by result.");
    // Each result is there from the start, so that rate() sees 0 -> 1.
    for (BoardResult result : results)
        out += "vantyx_boards_total{result=\"" + resultName(result).toLatin1() + "\"} " +
               QByteArray::number(m_boards.count(result)) + '\n';
    out += header("vantyx_boards_in_progress", "gauge", "Boards being flashed now.");
    out += "vantyx_boards_in_progress " + QByteArray::number(m_inProgress) + '\n';
    out += header("vantyx_sent_bytes_total", "counter", "Image bytes sent to boards.");
    out += "vantyx_sent_bytes_total " + QByteArray::number(m_bytesSent) + '\n';
    out += header("vantyx_resent_blocks_total", "counter", "Blocks sent again after a bad reply.");
    out += "vantyx_resent_blocks_total " + QByteArray::number(m_resends) + '\n';
    out += header("vantyx_last_success_timestamp_seconds", "gauge",
                  "When the last board flashed well, in seconds since the epoch; 0 before.");
    out += "vantyx_last_success_timestamp_seconds " + number(m_lastSuccess) + '\n';
    const struct
    {
        const char *name;
        const char *help;
        const Histogram &histogram;
    } histograms[] = {
        {"vantyx_board_duration_seconds",
         "A board's time from its port's opening to its end, cancelled boards aside.", m_duration},
        {"vantyx_reply_latency_seconds",
         "A board's mean wait for a block's reply beyond the wire's own time.", m_latency},
    };
    for (const auto &[name, help, histogram] : histograms) {
        out += header(name, "histogram", help);
        for (int i = 0; i < histogram.bounds.size(); ++i)
            out += QByteArray(name) + "_bucket{le=\"" + number(histogram.bounds.at(i)) + "\"} " +
                   QByteArray::number(histogram.counts.at(i)) + '\n';
        out +=
            QByteArray(name) + "_bucket{le=\"+Inf\"} " + QByteArray::number(histogram.count) + '\n';
        out += QByteArray(name) + "_sum " + number(histogram.sum) + '\n';
        out += QByteArray(name) + "_count " + QByteArray::number(histogram.count) + '\n';
    }
    if (m_unsent) {
        out += header("vantyx_records_unsent", "gauge",
                      "Records kept on this station, not yet in the line's store.");
        out += "vantyx_records_unsent " + QByteArray::number(m_unsent()) + '\n';
    }
    const int remaining = m_jobRemaining ? m_jobRemaining() : -1;
    if (remaining >= 0) {
        out += header("vantyx_job_remaining", "gauge",
                      "Boards the approved job's count still allows on this station.");
        out += "vantyx_job_remaining " + QByteArray::number(remaining) + '\n';
    }
    out += header("vantyx_flash_info", "gauge",
                  "The program, its version, the image it sends and the job approving it.");
    out += "vantyx_flash_info{program=\"" + escaped(QCoreApplication::applicationName()) +
           "\",version=\"" FLASHLOADER_VERSION "\",image_sha256=\"" + escaped(m_imageSha256) +
           "\",job=\"" + escaped(m_job.name) + "\",job_version=\"" +
           (m_job.name.isEmpty() ? QByteArray() : QByteArray::number(m_job.version)) + "\"} 1\n";
    return out;
}
