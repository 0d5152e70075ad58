#include "cli/report.h"

#include "protocol/quenlark.h"
#include "serial/portlist.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPortInfo>
#include <QSysInfo>

#include <cmath>
#include <iterator>

QString bytesPerSecondText(double bytesPerSecond)
{
    return bytesPerSecond >= 1000 ? QStringLiteral("%1 kB/s").arg(bytesPerSecond / 1000, 0, 'f', 1)
                                  : QStringLiteral("%1 B/s").arg(bytesPerSecond, 0, 'f', 0);
}

namespace {

// The report's field names, in their order; jsonReport() and jsonLayout() both use them.
const char *const imageFields[] = {"path", "bytes", "padded", "sha256"};
const char *const boardFields[] = {
    "port",    "result",  "bytes_sent", "blocks",        "resends", "seconds", "reply_latency_ms",
    "message", "started", "ended",      "serial_number", "usb",     "location"};
const char *const totalFields[] = {"succeeded", "failed"};

QString key(const char *name)
{
    return QString::fromLatin1(name);
}

// The fields `names` with their `values`, in one place for every object of the report.
template <std::size_t N>
QJsonObject objectOf(const char *const (&names)[N], const QJsonValue (&values)[N])
{
    QJsonObject object;
    for (std::size_t i = 0; i < N; ++i)
        object.insert(key(names[i]), values[i]);
    return object;
}

// ISO 8601 with the local offset, to the millisecond: two boards on one port stay apart.
QString timestamp(const QDateTime &time)
{
    return time.isValid() ? time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs)
                          : QString();
}

QJsonObject boardObject(const BoardReport &board)
{
    const QJsonValue values[] = {board.port,
                                 resultName(board.result),
                                 board.bytesSent,
                                 board.blocks,
                                 board.resends,
                                 board.seconds,
                                 std::round(board.replyLatencyMs * 10) / 10,
                                 board.message,
                                 timestamp(board.started),
                                 timestamp(board.ended),
                                 board.serialNumber,
                                 board.usb,
                                 board.location};
    return objectOf(boardFields, values);
}

QJsonObject imageObject(const ImageReport &image)
{
    const QJsonValue values[] = {image.path, image.bytes, image.padded, image.sha256};
    return objectOf(imageFields, values);
}

QString quoted(const char *const *names, int count)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list << QLatin1Char('"') + key(names[i]) + QLatin1Char('"');
    return list.join(QStringLiteral(", "));
}

} // namespace

QString resultName(FlashJob::Result result)
{
    switch (result) {
    case FlashJob::Result::Ok:
        return QStringLiteral("ok");
    case FlashJob::Result::Failed:
        return QStringLiteral("failed");
    case FlashJob::Result::NotDetected:
        return QStringLiteral("not-detected");
    case FlashJob::Result::PortError:
        return QStringLiteral("port-error");
    case FlashJob::Result::Cancelled:
        return QStringLiteral("cancelled");
    case FlashJob::Result::Pending:
        break;
    }
    return QStringLiteral("pending");
}

BoardReport BoardReport::of(const FlashJob &job, const QSerialPortInfo &info)
{
    BoardReport board;
    board.port = job.port();
    board.result = job.result();
    board.bytesSent = job.bytesSent();
    board.blocks = job.blocks();
    board.resends = job.resends();
    board.seconds = job.seconds();
    board.transferSeconds = job.transferSeconds();
    board.replyLatencyMs = job.replyLatencyMs();
    board.remote = job.isRemote();
    board.message = job.message();
    board.started = job.startedAt();
    board.ended = job.endedAt();
    if (!info.isNull()) {
        board.serialNumber = info.serialNumber();
        board.usb = usbId(info);
        board.location = info.systemLocation();
    }
    return board;
}

ImageReport ImageReport::of(const QString &path, const PaddedImage &image)
{
    const QByteArray bytes = QByteArray::fromRawData(image.data.get(), image.length);
    return {
        path, image.length, image.size,
        QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex())};
}

QString phaseName(FlashJob::Phase phase)
{
    switch (phase) {
    case FlashJob::Phase::Opening:
        return QStringLiteral("opening");
    case FlashJob::Phase::Waking:
        return QStringLiteral("waking");
    case FlashJob::Phase::Settling:
        return QStringLiteral("settling");
    case FlashJob::Phase::Starting:
        return QStringLiteral("starting");
    case FlashJob::Phase::Sending:
        return QStringLiteral("sending");
    case FlashJob::Phase::Done:
        return QStringLiteral("done");
    case FlashJob::Phase::Failed:
        return QStringLiteral("failed");
    }
    return QString();
}

QString latencyAdvice(const BoardReport &board)
{
    // Below this, scheduling and the line's own jitter; above it, something holds the replies.
    constexpr double noticedMs = 4;
    constexpr int enoughBlocks = 4;
    if (board.replyLatencyMs < noticedMs || board.blocks < enoughBlocks)
        return QString();
    const double wireMs = quenlark::blockExchangeWireMs;
    const QString late =
        QStringLiteral("%1: replies come %2 ms late on every block (%3 of the wire's pace)")
            .arg(board.port)
            .arg(qRound(board.replyLatencyMs))
            .arg(wireMs / (wireMs + board.replyLatencyMs), 0, 'f', 2);
    if (board.remote)
        return late + QStringLiteral("; on the server, set its adapter's latency timer to 1 ms "
                                     "and ser2net's chardelay to false");
#ifdef Q_OS_WIN
    return late + QStringLiteral("; the adapter holds them: set Latency Timer to 1 ms in the "
                                 "port's Properties, Port Settings, Advanced");
#else
    const QString node = QFileInfo(deviceNode(board.port)).canonicalFilePath();
    const QString name = QFileInfo(node.isEmpty() ? board.port : node).fileName();
    return late + (name.startsWith(QStringLiteral("ttyUSB"))
                       ? QStringLiteral("; the adapter holds them: echo 1 > "
                                        "/sys/bus/usb-serial/devices/%1/latency_timer")
                             .arg(name)
                       : QStringLiteral("; the adapter holds them: set its driver's "
                                        "latency_timer to 1 ms"));
#endif
}

QString finishedLine(const BoardReport &board)
{
    QString line = QStringLiteral("%1: %2, %3 bytes in %4 blocks, %5 resends, %6 s")
                       .arg(board.port, resultName(board.result))
                       .arg(board.bytesSent)
                       .arg(board.blocks)
                       .arg(board.resends)
                       .arg(board.seconds, 0, 'f', 1);
    if (!board.message.isEmpty())
        line += QStringLiteral(": ") + board.message;
    return line;
}

void Tally::add(const BoardReport &board)
{
    constexpr int namedFailures = 20;
    if (board.result == FlashJob::Result::Ok) {
        ++succeeded;
        longestTransfer = qMax(longestTransfer, board.transferSeconds);
        return;
    }
    if (++failed <= namedFailures)
        failedNames << QStringLiteral("%1 (%2)").arg(board.port, resultName(board.result));
    cut = cut || board.result == FlashJob::Result::Cancelled;
}

QString summaryLine(const Tally &tally, const ImageReport &image)
{
    QString line =
        QStringLiteral("summary: %1 succeeded, %2 failed").arg(tally.succeeded).arg(tally.failed);
    if (!tally.failedNames.isEmpty())
        line += QStringLiteral(": ") + tally.failedNames.join(QStringLiteral(", "));
    if (tally.failed > tally.failedNames.size())
        line += QStringLiteral(" and %1 more").arg(tally.failed - tally.failedNames.size());
    line += QStringLiteral("; image %1 bytes").arg(image.bytes);
    if (image.padded != image.bytes)
        line += QStringLiteral(", sent as %1").arg(image.padded);
    if (tally.succeeded > 0)
        line += QStringLiteral("; transfer %1%2 s, after %3 s of settling")
                    .arg(tally.succeeded > 1 ? QStringLiteral("up to ") : QString())
                    .arg(tally.longestTransfer, 0, 'f', 1)
                    .arg(quenlark::settlingMs / 1000);
    return line;
}

QByteArray jsonReport(const ImageReport &image, const QList<BoardReport> &boards)
{
    QJsonArray devices;
    int succeeded = 0;
    for (const BoardReport &board : boards) {
        succeeded += board.result == FlashJob::Result::Ok;
        devices.append(boardObject(board));
    }
    const QJsonValue totals[] = {succeeded, int(boards.size()) - succeeded};
    QJsonObject document = objectOf(totalFields, totals);
    document.insert(QStringLiteral("image"), imageObject(image));
    document.insert(QStringLiteral("devices"), devices);
    return QJsonDocument(document).toJson(QJsonDocument::Indented);
}

QByteArray logLine(const BoardReport &board, const ImageReport &image)
{
    QJsonObject line = boardObject(board);
    line.insert(QStringLiteral("image"), imageObject(image));
    line.insert(QStringLiteral("version"), QStringLiteral(FLASHLOADER_VERSION));
    line.insert(QStringLiteral("host"), QSysInfo::machineHostName());
    return QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
}

QString jsonLayout()
{
    QStringList results;
    for (FlashJob::Result result :
         {FlashJob::Result::Ok, FlashJob::Result::Failed, FlashJob::Result::NotDetected,
          FlashJob::Result::PortError, FlashJob::Result::Cancelled})
        results << resultName(result);
    QString boards = quoted(boardFields, int(std::size(boardFields)));
    boards.replace(QStringLiteral("\"result\""),
                   QStringLiteral("\"result\" (%1)").arg(results.join(QStringLiteral(", "))));
    return QStringLiteral("JSON (--json): {\"image\": {%1}, \"devices\": [{%2}], %3}.")
        .arg(quoted(imageFields, int(std::size(imageFields))), boards,
             quoted(totalFields, int(std::size(totalFields))));
}
