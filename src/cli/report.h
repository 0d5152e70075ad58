#pragma once

#include "flash/flashjob.h"
#include "protocol/firmwareimage.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QSerialPortInfo>
#include <QString>
#include <QStringList>

// How vantyx-flash tells what happened on each port: plain lines, the summary and
// the JSON document.

// One finished port, as the summary and the JSON document give it.
struct BoardReport
{
    QString port;
    FlashJob::Result result = FlashJob::Result::Pending;
    qint64 bytesSent = 0;
    int blocks = 0;
    int resends = 0;
    double seconds = 0;
    double transferSeconds = 0; // from the first block on
    double replyLatencyMs = 0;  // beyond the wire, a block's mean
    bool remote = false;        // on a port on another machine
    QString message;
    QDateTime started, ended;
    // What the system says of the port, where it lists it.
    QString serialNumber, usb, location;

    // `port` is what the system lists of the job's port; a null one when it lists nothing.
    static BoardReport of(const FlashJob &job, const QSerialPortInfo &port);
};

// The image every board was sent, as the records give it.
struct ImageReport
{
    QString path;
    qint64 bytes = 0;
    qint64 padded = 0;
    QString sha256; // of the file's bytes, before padding

    static ImageReport of(const QString &path, const PaddedImage &image);
};

// ok, failed, not-detected, port-error, cancelled: as the lines and the report say them.
QString resultName(FlashJob::Result result);
QString phaseName(FlashJob::Phase phase);
// "12.3 kB/s", "800 B/s".
QString bytesPerSecondText(double bytesPerSecond);
// One line when the board's replies came late enough to slow it, saying by how much and what
// fixes it; empty otherwise.
QString latencyAdvice(const BoardReport &board);
// The line for a port that has just finished.
QString finishedLine(const BoardReport &board);
// The run's totals, without keeping every board (a --watch shift may see thousands).
struct Tally
{
    int succeeded = 0;
    int failed = 0;
    bool cut = false;           // a board was cancelled in the middle
    double longestTransfer = 0; // of the boards that succeeded, in seconds
    QStringList failedNames;    // "PORT (result)", the first few

    void add(const BoardReport &board);
};
// The totals, the image as it went out (its padding said) and how long the transfer took apart
// from the settling.
QString summaryLine(const Tally &tally, const ImageReport &image);
QByteArray jsonReport(const ImageReport &image, const QList<BoardReport> &boards);
// One finished board as a line of its own for --log: the board, the image, this program's
// version and the host's name.
QByteArray logLine(const BoardReport &board, const ImageReport &image);
// The report's layout in one paragraph, for --help: from the same names jsonReport() uses.
QString jsonLayout();
