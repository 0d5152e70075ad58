#pragma once

#include "core/protocol/limittimer.h"
#include "window/app/downloadrecord.h"
#include "window/serial/serialconnection.h"
#include "window/serial/stopwatch.h"

#include <QByteArray>
#include <QList>
#include <QMainWindow>
#include <QSerialPortInfo>

#include <memory>

class BlockLoopEvents;

QT_BEGIN_NAMESPACE
class QCloseEvent;
class Ui_FlashLoader;
QT_END_NAMESPACE

// The updater's only window: picks the port, catches the bootloader and downloads the image.
class FlashLoader : public QMainWindow
{
    Q_OBJECT

public:
    explicit FlashLoader(QWidget *parent = nullptr);
    ~FlashLoader() override;

    // Ports the system does not enumerate: first in the list, through every Rescan.
    void setUnlistedPorts(const QStringList &names);

    // For the tests, which check what every ending leaves behind.
    const SerialConnection &serialConnection() const { return connection; }
    bool isDownloading() const { return downloading; }
    bool holdsFirmwareBuffer() const { return firmwareBuffer != nullptr; }
    // Where each download's record goes, a file a day; "" (the default) the user's records
    // folder, the bench's.
    void setRecordsFolder(const QString &folder);

private slots:
    void on_pushButton_Detect_clicked();
    void serialRecieve();
    void on_pushButton_Rescan_clicked();
    void on_pushButton_Browse_clicked();
    void on_pushButton_Flash_clicked();
    void OK_recieved();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void disableControls();
    void enableControls();
    bool openSerialPort();
    void closeSerialPort();
    void refreshPortList();
    void keepFlashToDetectedPort();
    void selectFirmwareFile();

    void waitForSettling();
    void handleReply(const QByteArray &data);
    void loadFirmwareImage();
    void sizeWordTimedOut();
    void portWentAway();
    void sendFirmwareBlocks();
    enum class BlockOutcome { Sent, Failed, Aborted };
    BlockOutcome transferBlocks();
    void writeBlock();
    bool awaitBlockReply(BlockLoopEvents &events);
    // The download's record, on the disk as it ends, before any box about it opens; once.
    void endRecord(BoardResult result, const QString &message = {});
    void finishDownload(BoardResult result, const QString &message = {});
    void abortDownload();

    Ui_FlashLoader *ui = nullptr;
    SerialConnection connection;
    QList<QSerialPortInfo> ports;
    QStringList unlistedPorts;

    // Where a download stands: the "OK" replies since its start command (1: size word sent,
    // 2: blocks flowing).
    bool okSeen = false;
    qint32 okCount = 0;
    QByteArray blockReply; // the latest read while a block waits; empty until one comes
    qint32 blockOffset = 0;
    qint32 imageSize = 0;
    std::unique_ptr<char[]> firmwareBuffer;
    Stopwatch detectWatch;
    QString detectedPort; // Flash stays enabled only while this port is chosen

    bool downloading = false; // from Flash to the end of the download's ending
    bool abortRequested = false;
    bool portGone = false;
    // One of each per window, so that a timer armed for one download never acts on the next.
    LimitTimer startWatchdog;
    LimitTimer sizeWatchdog;
    bool lastReplyWasQuick = false;
    QString blockFailure; // why the block loop failed, for the record
    DownloadRecord record;
    QString recordsFolder;
};
