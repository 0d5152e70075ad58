#pragma once

#include "serial/serialconnection.h"
#include "serial/stopwatch.h"

#include <QElapsedTimer>
#include <QList>
#include <QMainWindow>
#include <QSerialPortInfo>
#include <QString>
#include <QTimer>

#include <memory>

QT_BEGIN_NAMESPACE
class QCloseEvent;
class Ui_FlashLoader;
QT_END_NAMESPACE

// The updater's only window: picks the port, catches the bootloader and downloads the image.
class FlashLoader : public QMainWindow
{
    Q_OBJECT

public:
    enum class DownloadState { Idle, Settling, StartSent, SizeSent, Blocks };

    explicit FlashLoader(QWidget *parent = nullptr);
    ~FlashLoader() override;

    const SerialConnection &serialConnection() const { return connection; }
    DownloadState downloadState() const { return state; }
    bool holdsFirmwareBuffer() const { return firmwareBuffer != nullptr; }

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
    void openSerialPort();
    void closeSerialPort();
    void refreshPortList();
    void selectFirmwareFile();

    void waitForSettling();
    void handleReply(const QByteArray &data);
    void loadFirmwareImage();
    void sizeWordTimedOut();
    enum class BlockOutcome { Sent, Failed, Aborted };
    void sendFirmwareBlocks();
    BlockOutcome transferBlocks();
    bool awaitBlockReply(const Stopwatch &watch);
    void processEventsDuringBlocks(bool wait);
    void finishDownload();
    void abortDownload();

    Ui_FlashLoader *ui = nullptr;
    SerialConnection connection;
    QList<QSerialPortInfo> ports;

    bool okSeen = false;
    qint32 okCount = 0;
    QString blockReply;
    qint32 blockOffset = 0;
    qint32 imageSize = 0;
    std::unique_ptr<char[]> firmwareBuffer;
    Stopwatch detectWatch;

    DownloadState state = DownloadState::Idle;
    bool abortRequested = false;
    // One of each per window, so that a timer armed for one download never acts on the next.
    QTimer startWatchdog;
    QTimer sizeWatchdog;
    QTimer replyWake;
    QElapsedTimer eventClock; // since the block wait last processed events
    QElapsedTimer paintClock; // since the bar was last allowed to paint
    int paintedProgress = 0;  // its value then
    double lastReplyMs = 0;   // how long the device took to answer the previous block
};
