#include "window/app/flashloader.h"

#include "core/files/filenames.h"
#include "core/image/firmwareimage.h"
#include "core/image/imagefile.h"
#include "core/protocol/failures.h"
#include "core/protocol/hostrules.h"
#include "core/protocol/quenlark.h"
#include "core/serial/portlist.h"
#include "ui_flashloader.h"
#include "window/app/blockloopevents.h"
#include "window/app/notice.h"
#include "window/detect/bootloader_detector.h"
#include "window/images/appicon.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QIcon>
#include <QProgressBar>
#include <QSerialPort>
#include <QSignalBlocker>
#include <QThread>

// How a download moves through this file. on_pushButton_Flash_clicked() waits out the settling
// (waitForSettling), writes the start command and arms the start watchdog, whose slot is
// OK_recieved(). Every read then goes through serialRecieve() to handleReply(), which follows
// quenlark::takeRead() (protocol/hostrules.h) on okCount:
//   okCount 0  start command out    "OK": loadFirmwareImage() writes the size word and arms
//                                   sizeWatchdog (sizeWordTimedOut); none in 5 s: OK_recieved()
//   okCount 1  size word out        "OK": sendFirmwareBlocks() runs the block loop
//                                   (transferBlocks, writeBlock, awaitBlockReply), 2 s a block
//   okCount 2  blocks flowing       each read lands in blockReply for the loop
//   okCount 3  deaf                 the block in flight times out in awaitBlockReply()
// Every ending goes through finishDownload(); a port that goes away through portWentAway().
namespace {

// A device that answered the last block within this long likely answers the next as fast.
constexpr double quickReplyMs = 1;
// How long the block wait then blocks on the port alone before it sleeps in the dispatcher.
constexpr int portWaitMs = 1;
// That wait is worth it where Qt's serial back end waits on the descriptor (Unix). Qt 6.4's
// Windows back end mixes waitForReadyRead() with its queued completions and can then take a
// completion that is not there, an access violation seen under Wine: there the block wait
// sleeps in the dispatcher only.
// Qt's Windows back end also hands out its completions in batches, from a slot that goes on
// delivering the rest of the batch only once readyRead() returns: a block loop nested there
// would wait for ever on the size word's write completion held in that batch. There the loop
// starts from the event loop instead, right after the slot.
#ifdef Q_OS_WIN
constexpr bool waitOnPortFirst = false;
constexpr bool blocksAfterTheSlot = true;
#else
constexpr bool waitOnPortFirst = true;
constexpr bool blocksAfterTheSlot = false;
#endif

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
    connect(ui->comboBox_select_device, &QComboBox::currentTextChanged, this,
            &FlashLoader::keepFlashToDetectedPort);
    connection.onLost([this](const QString &) { portWentAway(); });

    connect(&startWatchdog, &LimitTimer::passed, this, &FlashLoader::OK_recieved);
    connect(&sizeWatchdog, &LimitTimer::passed, this, &FlashLoader::sizeWordTimedOut);
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

bool FlashLoader::openSerialPort()
{
    return connection.open(ui->comboBox_select_device->currentText(), this, SLOT(serialRecieve()));
}

void FlashLoader::closeSerialPort()
{
    connection.close();
}

void FlashLoader::refreshPortList()
{
    QComboBox *list = ui->comboBox_select_device;
    const QString chosen = list->currentText();
    {
        const QSignalBlocker quiet(list);
        list->clear();
        for (const QString &name : std::as_const(unlistedPorts))
            list->insertItem(list->count(), name);
        ports = listedPorts();
        for (const QSerialPortInfo &info : std::as_const(ports))
            list->insertItem(list->count(), info.portName());
        // The choice stays while its port is still there.
        const int kept = list->findText(chosen);
        if (kept >= 0)
            list->setCurrentIndex(kept);
    }
    keepFlashToDetectedPort();
}

void FlashLoader::setUnlistedPorts(const QStringList &names)
{
    unlistedPorts = names;
    refreshPortList();
    ui->comboBox_select_device->setCurrentIndex(0);
}

void FlashLoader::keepFlashToDetectedPort()
{
    // Flash would open whatever is chosen: only the port the bootloader was caught on will do.
    if (ui->comboBox_select_device->currentText() == detectedPort)
        return;
    detectedPort.clear();
    ui->pushButton_Flash->setEnabled(false);
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
        detectedPort = ui->comboBox_select_device->currentText();
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
    blockOffset = 0;
    record.begin(ui->comboBox_select_device->currentText(), ports);
    const bool opened = openSerialPort();
    okSeen = false;
    okCount = 0;
    abortRequested = false;
    portGone = false;
    downloading = true;
    if (!opened) {
        // Said at once: without it the operator would wait out the settling and the watchdog.
        const QString why = connection.openFailure();
        closeSerialPort();
        endRecord(BoardResult::PortError, why);
        showWarningBox(this, why);
        finishDownload(BoardResult::PortError, why);
        return;
    }

    waitForSettling();
    blockOffset = 0;
    quenlark::sendStartCommand(connection);
    detectWatch.stop();
    startWatchdog.restart(quenlark::startReplyLimitMs);
}

void FlashLoader::waitForSettling()
{
    // The bootloader needs its time after detection; events stay unprocessed meanwhile, so
    // nothing can start in between. Sleeps in short steps instead of spinning.
    while (!quenlark::isPast(detectWatch.elapsedMilliseconds(), quenlark::settlingMs)) {
        const int left =
            quenlark::msUntilPast(detectWatch.elapsedMilliseconds(), quenlark::settlingMs);
        QThread::msleep(static_cast<unsigned long>(qMin(left, 20)));
    }
}

void FlashLoader::OK_recieved()
{
    if (okSeen)
        return;
    closeSerialPort(); // before the box: nothing taken from the device under it
    endRecord(BoardResult::Failed, quenlark::failure::noStartReply());
    showNotice(QStringLiteral("Failed to flash!"), QMessageBox::Warning);
    finishDownload(BoardResult::Failed);
}

void FlashLoader::portWentAway()
{
    // The connection has closed the port already.
    portGone = true;
    if (!downloading || okCount >= 2)
        return; // the block loop sees the flag and fails the download itself
    startWatchdog.stop();
    sizeWatchdog.stop();
    // Out of the port's own signal before a modal box runs.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!downloading)
                return;
            endRecord(BoardResult::PortError, quenlark::failure::portLost(connection.lossReason()));
            showWarningBox(this, QStringLiteral("Failed to flash!"));
            finishDownload(BoardResult::PortError);
        },
        Qt::QueuedConnection);
}

void FlashLoader::serialRecieve()
{
    if (QSerialPort *port = connection.port())
        handleReply(port->readAll());
}

void FlashLoader::handleReply(const QByteArray &data)
{
    switch (quenlark::takeRead(data, okCount)) {
    case quenlark::Read::SendSizeWord:
        okSeen = true;
        loadFirmwareImage();
        return;
    case quenlark::Read::StartBlocks:
        okSeen = true;
        sizeWatchdog.stop();
        if (!blocksAfterTheSlot) {
            sendFirmwareBlocks();
            return;
        }
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (downloading) // a window closed meanwhile still ends in the loop
                    sendFirmwareBlocks();
            },
            Qt::QueuedConnection);
        return;
    case quenlark::Read::Deafened:
        okSeen = true; // the block in flight ends as a time-out
        return;
    case quenlark::Read::BlockReply:
        blockReply = data;
        return;
    case quenlark::Read::Ignored:
        return;
    }
}

void FlashLoader::loadFirmwareImage()
{
    // Half a file being written is no image: the same rule as every program's.
    const QString path = ui->lineEdit_Selected_file->text();
    QString why;
    std::optional<PaddedImage> image;
    if (ImageSettling(files::pathOf(path)).look(&why) == ImageSettling::State::Changing)
        why = QStringLiteral("still being written (%1)").arg(why);
    else
        image = readPaddedImage(path, &why);
    if (!image) {
        closeSerialPort();
        endRecord(BoardResult::Failed, quenlark::failure::imageUnreadable(why));
        showWarningBox(this, QStringLiteral("Error opening the file."));
        finishDownload(BoardResult::Failed);
        return;
    }
    record.imageRead(ui->lineEdit_Selected_file->text(), *image);
    firmwareBuffer = std::move(image->data);
    imageSize = image->size;

    if (QSerialPort *port = connection.port())
        port->write(quenlark::sizeWord(quint32(imageSize)));
    ui->progressBar->setMaximum(imageSize - 1);
    sizeWatchdog.restart(quenlark::sizeReplyLimitMs);
}

void FlashLoader::sizeWordTimedOut()
{
    // Closed before the box opens, so a late "OK" cannot start the blocks underneath it.
    closeSerialPort();
    endRecord(BoardResult::Failed, quenlark::failure::noSizeReply());
    showWarningBox(this, QStringLiteral("Failed to flash!"));
    finishDownload(BoardResult::Failed);
}

void FlashLoader::sendFirmwareBlocks()
{
    switch (transferBlocks()) {
    case BlockOutcome::Sent:
        ui->progressBar->setValue(imageSize - 1);
        endRecord(BoardResult::Ok);
        showNotice(QStringLiteral("Firmware sent"), QMessageBox::Information);
        closeSerialPort();
        ui->progressBar->setValue(0);
        finishDownload(BoardResult::Ok);
        break;
    case BlockOutcome::Failed: // a bad reply, none in time, endless resends, a port gone
        closeSerialPort();
        endRecord(portGone ? BoardResult::PortError : BoardResult::Failed,
                  portGone ? quenlark::failure::portLost(connection.lossReason()) : blockFailure);
        showWarningBox(this, QStringLiteral("Failed to flash!"));
        ui->progressBar->setValue(0);
        finishDownload(BoardResult::Failed);
        break;
    case BlockOutcome::Aborted: // the port is already closed
        finishDownload(BoardResult::Cancelled, QStringLiteral("the window was closed"));
        break;
    }
}

FlashLoader::BlockOutcome FlashLoader::transferBlocks()
{
    BlockLoopEvents events(ui->progressBar);
    lastReplyWasQuick = true;
    blockOffset = 0;
    quenlark::Resends resends;
    while (blockOffset < imageSize) {
        const int block = blockOffset / quenlark::blockSize;
        writeBlock();
        if (!awaitBlockReply(events)) {
            blockFailure = quenlark::failure::noBlockReply(block);
            return abortRequested ? BlockOutcome::Aborted : BlockOutcome::Failed;
        }
        ui->progressBar->setValue(blockOffset);
        switch (quenlark::blockReplyKind(blockReply)) {
        case quenlark::BlockReply::Accepted:
            blockOffset += quenlark::blockSize;
            resends.accepted();
            break;
        case quenlark::BlockReply::Resend:
            // A device (or a line at the wrong speed) that never takes the block.
            if (!resends.sendAgain()) {
                blockFailure = quenlark::failure::endlessResends(block);
                return BlockOutcome::Failed;
            }
            record.resent();
            break;
        case quenlark::BlockReply::Bad:
            blockFailure = quenlark::failure::badBlockReply(block, blockReply);
            return BlockOutcome::Failed;
        }
    }
    return BlockOutcome::Sent;
}

void FlashLoader::writeBlock()
{
    // The block in one write, then its checksum in a write of its own, flushed.
    const quenlark::BlockFrame frame = quenlark::blockFrame(firmwareBuffer.get() + blockOffset);
    connection.write(frame.data(), quenlark::blockSize);
    blockReply.clear();
    if (QSerialPort *port = connection.port()) {
        port->write(&frame[quenlark::blockSize], 1);
        port->flush();
    }
}

bool FlashLoader::awaitBlockReply(BlockLoopEvents &events)
{
    Stopwatch watch;
    watch.reset();
    watch.start();
    bool waitedOnPort = false;
    for (;;) {
        events.letThrough();
        if (abortRequested || portGone)
            return false;
        // On Unix readyRead() is not emitted again while the slot running this loop is
        // active, so the reply waits in the port's buffer and is taken here. On Windows it is
        // emitted again: serialRecieve() re-enters from the pass above and stores the reply
        // itself. Either way one read is one reply, and an "OK" only moves okCount on.
        QSerialPort *port = connection.port();
        if (port && port->bytesAvailable() > 0)
            handleReply(port->readAll());
        const double elapsedMs = watch.elapsedMilliseconds();
        if (quenlark::isPast(elapsedMs, quenlark::blockReplyLimitMs))
            return false;
        if (!blockReply.isEmpty()) {
            lastReplyWasQuick = elapsedMs <= quickReplyMs;
            return true;
        }
        if (waitOnPortFirst && port && port->isOpen() && lastReplyWasQuick && !waitedOnPort) {
            // Waiting on the port alone costs less than a pass of the event loop.
            waitedOnPort = true;
            port->waitForReadyRead(portWaitMs);
            continue;
        }
        // A slower device: sleep in the dispatcher until the reply, an event or the limit.
        events.sleep(quenlark::msUntilPast(elapsedMs, quenlark::blockReplyLimitMs));
    }
}

void FlashLoader::setRecordsFolder(const QString &folder)
{
    recordsFolder = folder;
}

void FlashLoader::endRecord(BoardResult result, const QString &message)
{
    // Kept quietly: the window says what it always said, and a record that cannot be written
    // costs the operator no box. Its time is the download's, not the box's.
    QString why;
    record.end(result, result == BoardResult::Ok ? imageSize : blockOffset, message, recordsFolder,
               &why);
}

void FlashLoader::finishDownload(BoardResult result, const QString &message)
{
    endRecord(result, message); // where no box came first
    startWatchdog.stop();
    sizeWatchdog.stop();
    enableControls();
    ui->pushButton_Flash->setEnabled(false);
    firmwareBuffer.reset();
    downloading = false;
}

void FlashLoader::abortDownload()
{
    // Nothing more reaches the device once the operator closes the window.
    abortRequested = true;
    closeSerialPort();
    if (okCount < 2)
        finishDownload(BoardResult::Cancelled, QStringLiteral("the window was closed"));
    // else the block loop sees the flag and finishes itself
}

void FlashLoader::closeEvent(QCloseEvent *event)
{
    if (downloading)
        abortDownload();
    QMainWindow::closeEvent(event);
}
