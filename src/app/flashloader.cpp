#include "app/flashloader.h"

#include "app/blockchecksum.h"
#include "app/firmwareimage.h"
#include "app/notice.h"
#include "detect/bootloader_detector.h"
#include "serial/replytext.h"
#include "ui_flashloader.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QIcon>
#include <QScopeGuard>
#include <QSerialPort>
#include <QThread>
#include <QtEndian>

namespace {

const char startCommand[] = {'\x14', '\xAA', '\xEE', '\x44'};

constexpr int startReplyLimitMs = 5000;
constexpr int sizeReplyLimitMs = 5000;
constexpr double settlingSeconds = 5.0;
constexpr double blockReplySeconds = 2.0;
constexpr int eventStepMs = 16;
constexpr int quickReplyMs = 1;
constexpr int paintStepMs = 40;

} // namespace

FlashLoader::FlashLoader(QWidget *parent) : QMainWindow(parent), ui(new Ui_FlashLoader)
{
    ui->setupUi(this);
    setFixedSize(558, 280);
    setWindowTitle(QStringLiteral("Brivox Vantyx Firmware updater"));
    setWindowIcon(QIcon(QString::fromLatin1(appIconPath)));
    setFocusPolicy(Qt::StrongFocus);
    ui->pushButton_Flash->setEnabled(false);
    refreshPortList();

    // Protocol limits: a coarse timer may fire up to 5 % early.
    startWatchdog.setSingleShot(true);
    startWatchdog.setTimerType(Qt::PreciseTimer);
    startWatchdog.setInterval(startReplyLimitMs);
    connect(&startWatchdog, SIGNAL(timeout()), this, SLOT(OK_recieved()));

    sizeWatchdog.setSingleShot(true);
    sizeWatchdog.setTimerType(Qt::PreciseTimer);
    sizeWatchdog.setInterval(sizeReplyLimitMs);
    connect(&sizeWatchdog, &QTimer::timeout, this, &FlashLoader::sizeWordTimedOut);

    // Only wakes the block wait at its limit; nothing is connected to it.
    replyWake.setSingleShot(true);
    replyWake.setTimerType(Qt::PreciseTimer);
}

FlashLoader::~FlashLoader()
{
    delete ui;
}

void FlashLoader::disableControls()
{
    ui->pushButton_Browse->setEnabled(false);
    ui->pushButton_Detect->setEnabled(false);
    ui->pushButton_Flash->setEnabled(false);
    ui->pushButton_Rescan->setEnabled(false);
    ui->comboBox_select_device->setEnabled(false);
}

void FlashLoader::enableControls()
{
    ui->pushButton_Browse->setEnabled(true);
    ui->pushButton_Detect->setEnabled(true);
    ui->pushButton_Flash->setEnabled(true);
    ui->pushButton_Rescan->setEnabled(true);
    ui->comboBox_select_device->setEnabled(true);
}

void FlashLoader::openSerialPort()
{
    connection.open(ui->comboBox_select_device->currentText(), this, SLOT(serialRecieve()));
}

void FlashLoader::closeSerialPort()
{
    connection.close();
}

void FlashLoader::refreshPortList()
{
    ui->comboBox_select_device->clear();
    ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : std::as_const(ports))
        ui->comboBox_select_device->insertItem(ui->comboBox_select_device->count(),
                                               info.portName());
}

void FlashLoader::on_pushButton_Rescan_clicked()
{
    refreshPortList();
}

void FlashLoader::on_pushButton_Detect_clicked()
{
    Bootloader_detector detector(ui->comboBox_select_device->currentText(), nullptr);
    detector.exec();
    if (detector.isDetected()) {
        ui->pushButton_Flash->setEnabled(true);
        detectWatch.start();
    }
}

void FlashLoader::on_pushButton_Browse_clicked()
{
    selectFirmwareFile();
}

void FlashLoader::selectFirmwareFile()
{
    QFileDialog dialog(nullptr, QString(), QString(), QString());
    dialog.setWindowTitle(QStringLiteral("Select file"));
    dialog.setNameFilter(QStringLiteral("Text files (*.bin)"));
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QStringList files = dialog.selectedFiles();
    if (!files.isEmpty())
        ui->lineEdit_Selected_file->setText(files.first());
}

void FlashLoader::on_pushButton_Flash_clicked()
{
    if (ui->lineEdit_Selected_file->text().isEmpty()) {
        showNotice(QStringLiteral("Select file"), QMessageBox::Warning);
        return;
    }
    disableControls();
    openSerialPort();
    okSeen = false;
    okCount = 0;
    abortRequested = false;

    state = DownloadState::Settling;
    waitForSettling();
    if (QSerialPort *port = connection.port())
        port->write(startCommand, sizeof startCommand);
    detectWatch.stop();
    state = DownloadState::StartSent;
    startWatchdog.start();
}

void FlashLoader::waitForSettling()
{
    // The bootloader needs its time after detection; events stay unprocessed meanwhile, so
    // nothing can start in between. Sleeps in short steps instead of spinning.
    while (!(detectWatch.elapsedSeconds() > settlingSeconds)) {
        disableControls();
        const double left = settlingSeconds * 1000 + 1 - detectWatch.elapsedMilliseconds();
        QThread::msleep(qBound<unsigned long>(1, static_cast<unsigned long>(left), 20));
    }
}

void FlashLoader::OK_recieved()
{
    if (okSeen)
        return;
    showNotice(QStringLiteral("Failed to flash!"), QMessageBox::Warning);
    closeSerialPort();
    finishDownload();
}

void FlashLoader::serialRecieve()
{
    if (QSerialPort *port = connection.port())
        handleReply(port->readAll());
}

void FlashLoader::handleReply(const QByteArray &data)
{
    if (isOkReply(data)) {
        okSeen = true;
        const qint32 before = okCount++;
        if (before == 0) {
            loadFirmwareImage();
        } else if (before == 1) {
            sendFirmwareBlocks();
            return;
        } else {
            return;
        }
    }
    // Anything else before the blocks (an echo, noise, half an "OK") has no effect.
    if (okCount == 2)
        blockReply = QString::fromLatin1(data.toHex());
}

void FlashLoader::loadFirmwareImage()
{
    std::optional<PaddedImage> image = readPaddedImage(ui->lineEdit_Selected_file->text());
    if (!image) {
        closeSerialPort();
        showWarningBox(this, QStringLiteral("Error opening the file."));
        finishDownload();
        return;
    }
    firmwareBuffer = std::move(image->data);
    imageSize = image->size;

    if (QSerialPort *port = connection.port()) {
        char sizeWord[4];
        qToLittleEndian<qint32>(imageSize, sizeWord);
        port->write(sizeWord, sizeof sizeWord);
    }
    ui->progressBar->setMaximum(imageSize - 1);
    state = DownloadState::SizeSent;
    sizeWatchdog.start();
}

void FlashLoader::sizeWordTimedOut()
{
    if (state != DownloadState::SizeSent)
        return;
    // Closed before the box opens, so a late "OK" cannot start the blocks underneath it.
    closeSerialPort();
    showWarningBox(this, QStringLiteral("Failed to flash!"));
    finishDownload();
}

void FlashLoader::sendFirmwareBlocks()
{
    sizeWatchdog.stop();
    state = DownloadState::Blocks;
    switch (transferBlocks()) {
    case BlockOutcome::Sent:
        ui->progressBar->setValue(imageSize - 1);
        showNotice(QStringLiteral("Firmware sent"), QMessageBox::Information);
        closeSerialPort();
        ui->progressBar->setValue(0);
        break;
    case BlockOutcome::Failed: // a bad reply, or none in time
        showWarningBox(this, QStringLiteral("Failed to flash!"));
        ui->progressBar->setValue(0);
        closeSerialPort();
        break;
    case BlockOutcome::Aborted:
        break; // the port is already closed
    }
    finishDownload();
}

FlashLoader::BlockOutcome FlashLoader::transferBlocks()
{
    // The bar is painted at the event pace of the wait, not at every block it moves.
    ui->progressBar->setUpdatesEnabled(false);
    paintedProgress = ui->progressBar->value();
    const auto paintAgain = qScopeGuard([this] { ui->progressBar->setUpdatesEnabled(true); });
    eventClock.invalidate();
    lastReplyMs = 0;

    blockOffset = 0;
    while (blockOffset < imageSize) {
        const char *block = firmwareBuffer.get() + blockOffset;
        if (QSerialPort *port = connection.port())
            port->write(block, blockSize);
        const char checksum = char(blockChecksum(block));
        blockReply.clear();
        if (QSerialPort *port = connection.port()) {
            port->write(&checksum, 1);
            port->flush();
        }

        Stopwatch watch;
        watch.reset();
        watch.start();
        if (!awaitBlockReply(watch))
            return abortRequested ? BlockOutcome::Aborted : BlockOutcome::Failed;
        ui->progressBar->setValue(blockOffset);
        if (blockReply == QLatin1String("28"))
            continue;
        if (blockReply != QLatin1String("14"))
            return BlockOutcome::Failed;
        blockOffset += blockSize;
    }
    return BlockOutcome::Sent;
}

bool FlashLoader::awaitBlockReply(const Stopwatch &watch)
{
    bool waitedOnPort = false;
    for (;;) {
        // Events at least every few milliseconds, however fast the device, but not a pass of
        // the event loop per block.
        if (!eventClock.isValid() || eventClock.elapsed() >= eventStepMs)
            processEventsDuringBlocks(false);
        if (abortRequested)
            return false;
        // readyRead() is not emitted again while the slot running this loop is active, so
        // the reply waits in the port's buffer.
        QSerialPort *port = connection.port();
        if (port && port->bytesAvailable() > 0)
            handleReply(port->readAll());
        if (watch.elapsedSeconds() > blockReplySeconds)
            return false;
        if (!blockReply.isEmpty()) {
            lastReplyMs = watch.elapsedMilliseconds();
            return true;
        }

        const double left = blockReplySeconds * 1000 + 1 - watch.elapsedMilliseconds();
        const int leftMs = static_cast<int>(qBound(1.0, left, blockReplySeconds * 1000 + 1));
        if (port && port->isOpen() && !waitedOnPort && lastReplyMs <= quickReplyMs) {
            // A quick device answers within a millisecond: wait on the port alone.
            waitedOnPort = true;
            port->waitForReadyRead(qMin(leftMs, quickReplyMs));
            continue;
        }
        // A slower one: sleep in the dispatcher until the reply, an event or the limit.
        replyWake.start(leftMs);
        processEventsDuringBlocks(true);
        replyWake.stop();
    }
}

void FlashLoader::processEventsDuringBlocks(bool wait)
{
    // The bar is painted here, when it moved, at most every paintStepMs: painting it at every
    // block would cost more than the rest of the transfer.
    const bool moved = ui->progressBar->value() != paintedProgress &&
                       (!paintClock.isValid() || paintClock.elapsed() >= paintStepMs);
    if (moved) {
        ui->progressBar->setUpdatesEnabled(true); // schedules the paint
        paintedProgress = ui->progressBar->value();
        paintClock.start();
    }
    QCoreApplication::processEvents(wait ? QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents
                                         : QEventLoop::AllEvents);
    if (moved)
        ui->progressBar->setUpdatesEnabled(false);
    eventClock.start();
}

void FlashLoader::finishDownload()
{
    startWatchdog.stop();
    sizeWatchdog.stop();
    enableControls();
    ui->pushButton_Flash->setEnabled(false);
    firmwareBuffer.reset();
    state = DownloadState::Idle;
}

void FlashLoader::abortDownload()
{
    // Nothing more reaches the device once the operator closes the window.
    abortRequested = true;
    closeSerialPort();
    if (state != DownloadState::Blocks)
        finishDownload(); // the block loop sees the flag and finishes itself
}

void FlashLoader::closeEvent(QCloseEvent *event)
{
    if (state != DownloadState::Idle)
        abortDownload();
    QMainWindow::closeEvent(event);
}
