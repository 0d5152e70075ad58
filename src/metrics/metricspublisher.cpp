#include "metrics/metricspublisher.h"

#include "core/files/replacedfile.h"
#include "engine/flash/flashjob.h"
#include "engine/flash/flashrun.h"

bool parseMetricsAddress(const QString &text, QString *host, quint16 *port, QString *why)
{
    if (!MetricsEndpoint::available()) {
        *why = QStringLiteral("this build has no metrics endpoint");
        return false;
    }
    QString hostText = QStringLiteral("127.0.0.1");
    QString portText = text;
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0) {
        hostText = text.left(colon);
        portText = text.mid(colon + 1);
        if (hostText.startsWith(QLatin1Char('[')) && hostText.endsWith(QLatin1Char(']')))
            hostText = hostText.mid(1, hostText.size() - 2);
    }
    bool ok = false;
    const uint number = portText.toUInt(&ok);
    if (!ok || number == 0 || number > 65535) {
        *why = QStringLiteral("%1: the port is a number from 1 to 65535").arg(text);
        return false;
    }
    if (hostText == QStringLiteral("localhost"))
        hostText = QStringLiteral("127.0.0.1");
    if (!MetricsEndpoint::isAddress(hostText)) {
        *why = QStringLiteral("%1: %2 is not an address of this machine's (as 127.0.0.1 or "
                              "0.0.0.0)")
                   .arg(text, hostText);
        return false;
    }
    *host = hostText;
    *port = quint16(number);
    return true;
}

MetricsPublisher::MetricsPublisher(const MetricsTargets &targets, QObject *parent)
    : QObject(parent), m_targets(targets), m_endpoint([this] { return m_metrics.text(); })
{
}

void MetricsPublisher::setJob(const JobStamp &job, std::function<int()> remaining)
{
    m_metrics.setJob(job);
    m_metrics.setJobRemaining(std::move(remaining));
}

void MetricsPublisher::follow(const FlashRun &run)
{
    m_metrics.setImage(run.image());
    // The image a board is given now, also after the bench took a changed one.
    connect(&run, &FlashRun::jobStarted, this, [this, &run] {
        m_metrics.setImage(run.image());
        m_metrics.boardStarted();
    });
    connect(&run, &FlashRun::jobFinished, this, [this](FlashJob *, const BoardRecord &board) {
        m_metrics.boardFinished(board);
        QString why;
        if (!m_targets.file.isEmpty() && !writeFile(&why) && !m_fileFailed) {
            m_fileFailed = true;
            emit fileWriteFailed(why);
        }
    });
}

bool MetricsPublisher::start(QString *why)
{
    if (!m_targets.listen.isEmpty()) {
        QString host;
        quint16 port = 0;
        if (!parseMetricsAddress(m_targets.listen, &host, &port, why))
            return false;
        QString failure;
        if (!m_endpoint.listen(host, port, &failure)) {
            *why = QStringLiteral("cannot serve metrics on %1: %2").arg(m_targets.listen, failure);
            return false;
        }
    }
    if (!m_targets.file.isEmpty() && !writeFile(why)) {
        *why = QStringLiteral("cannot write the metrics file %1: %2").arg(m_targets.file, *why);
        return false;
    }
    return true;
}

bool MetricsPublisher::writeFile(QString *why)
{
    // Replaced whole: a collector never reads half of it, and a full disk leaves the last one.
    if (!files::replaceWhole(m_targets.file, m_metrics.text(), why))
        return false;
    m_fileFailed = false;
    return true;
}
