#include "app/flashloader.h"

#include "app/notice.h"
#include "detect/bootloader_detector.h"
#include "images/appicon.h"
#include "protocol/firmwareimage.h"
#include "protocol/quenlark.h"
#include "ui_flashloader.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QIcon>
#include <QProgressBar>
#include <QSerialPort>
#include <QSignalBlocker>
#include <QThread>

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
// Often enough that the window stays responsive however fast the device answers, rarely enough
// that a pass of the event loop per block does not halve the rate.
constexpr int eventPassEveryMs = 16;
constexpr int paintEveryMs = 40;

} // namespace

// Lets the window's events through while the block loop waits inside a slot, and paints the
// bar at most every paintEveryMs meanwhile: QProgressBar::setValue() repaints at once, and a
// repaint per block costs more than the transfer. The bar paints freely again after it.
class FlashLoader::BlockLoopEvents
{
public:
    explicit BlockLoopEvents(QProgressBar *bar) : m_bar(bar), m_paintedValue(bar->value())
    {
        m_wake.setSingleShot(true);
        m_wake.setTimerType(Qt::PreciseTimer);
        m_bar->setUpdatesEnabled(false);
    }
    ~BlockLoopEvents() { m_bar->setUpdatesEnabled(true); }

    // Processes pending events, unless the last pass was only a moment ago.
    void letThrough()
    {
        if (!m_sincePass.isValid() || m_sincePass.elapsed() >= eventPassEveryMs)
            pass(QEventLoop::AllEvents);
    }

    // Sleeps in the event dispatcher until an event arrives or `ms` pass.
    void sleep(int ms)
    {
        m_wake.start(ms);
        pass(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        m_wake.stop();
    }

private:
    void pass(QEventLoop::ProcessEventsFlags flags)
    {
        const bool paint = m_bar->value() != m_paintedValue &&
                           (!m_sincePaint.isValid() || m_sincePaint.elapsed() >= paintEveryMs);
        if (paint) {
            m_bar->setUpdatesEnabled(true); // schedules the paint for this pass
            m_paintedValue = m_bar->value();
            m_sincePaint.start();
        }
        QCoreApplication::processEvents(flags);
        if (paint)
            m_bar->setUpdatesEnabled(false);
        m_sincePass.start();
    }

    QProgressBar *m_bar;
    QTimer m_wake; // only ends a sleep; nothing is connected to it
    QElapsedTimer m_sincePass;
    QElapsedTimer m_sincePaint;
    int m_paintedValue;
};

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

    // Protocol limits: a coarse timer may fire up to 5 % early.
    startWatchdog.setSingleShot(true);
    startWatchdog.setTimerType(Qt::PreciseTimer);
    startWatchdog.setInterval(quenlark::startReplyLimitMs);
    connect(&startWatchdog, &QTimer::timeout, this, &FlashLoader::OK_recieved);

    sizeWatchdog.setSingleShot(true);
    sizeWatchdog.setTimerType(Qt::PreciseTimer);
    sizeWatchdog.setInterval(quenlark::sizeReplyLimitMs);
    connect(&sizeWatchdog, &QTimer::timeout, this, &FlashLoader::sizeWordTimedOut);
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
        ports = QSerialPortInfo::availablePorts();
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
        showWarningBox(this, why);
        finishDownload();
        return;
    }

    waitForSettling();
    if (QSerialPort *port = connection.port()) {
        // Whatever came before (a late second "OK" to the wake-up) is no answer to this.
        port->clear(QSerialPort::Input);
        port->write(quenlark::startCommand, sizeof quenlark::startCommand);
    }
    detectWatch.stop();
    startWatchdog.start();
}

void FlashLoader::waitForSettling()
{
    // The bootloader needs its time after detection; events stay unprocessed meanwhile, so
    // nothing can start in between. Sleeps in short steps instead of spinning.
    while (!quenlark::isPast(detectWatch.elapsedMilliseconds(), quenlark::settlingMs)) {
        disableControls();
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
    showNotice(QStringLiteral("Failed to flash!"), QMessageBox::Warning);
    finishDownload();
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
            showWarningBox(this, QStringLiteral("Failed to flash!"));
            finishDownload();
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
    if (quenlark::isOkReply(data)) {
        okSeen = true;
        switch (okCount++) {
        case 0:
            loadFirmwareImage();
            return;
        case 1:
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
        default:
            // An "OK" while the blocks flow is no block reply, and none is taken after it:
            // the block in flight ends as a time-out.
            return;
        }
    }
    // Anything else before the blocks (an echo, noise, half an "OK") has no effect.
    if (okCount == 2)
        blockReply = data;
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

    if (QSerialPort *port = connection.port())
        port->write(quenlark::sizeWord(quint32(imageSize)));
    ui->progressBar->setMaximum(imageSize - 1);
    sizeWatchdog.start();
}

void FlashLoader::sizeWordTimedOut()
{
    // Closed before the box opens, so a late "OK" cannot start the blocks underneath it.
    closeSerialPort();
    showWarningBox(this, QStringLiteral("Failed to flash!"));
    finishDownload();
}

void FlashLoader::sendFirmwareBlocks()
{
    sizeWatchdog.stop();
    switch (transferBlocks()) {
    case BlockOutcome::Sent:
        ui->progressBar->setValue(imageSize - 1);
        showNotice(QStringLiteral("Firmware sent"), QMessageBox::Information);
        closeSerialPort();
        ui->progressBar->setValue(0);
        break;
    case BlockOutcome::Failed: // a bad reply, none in time, endless resends, a port gone
        closeSerialPort();
        showWarningBox(this, QStringLiteral("Failed to flash!"));
        ui->progressBar->setValue(0);
        break;
    case BlockOutcome::Aborted:
        break; // the port is already closed
    }
    finishDownload();
}

FlashLoader::BlockOutcome FlashLoader::transferBlocks()
{
    BlockLoopEvents events(ui->progressBar);
    lastReplyWasQuick = true;
    blockOffset = 0;
    int resendsInARow = 0;
    while (blockOffset < imageSize) {
        writeBlock();
        if (!awaitBlockReply(events))
            return abortRequested ? BlockOutcome::Aborted : BlockOutcome::Failed;
        ui->progressBar->setValue(blockOffset);
        switch (quenlark::blockReply(blockReply)) {
        case quenlark::BlockReply::Accepted:
            blockOffset += quenlark::blockSize;
            resendsInARow = 0;
            break;
        case quenlark::BlockReply::Resend:
            // A device (or a line at the wrong speed) that never takes the block.
            if (++resendsInARow == quenlark::maxResendsInARow)
                return BlockOutcome::Failed;
            break;
        case quenlark::BlockReply::Bad:
            return BlockOutcome::Failed;
        }
    }
    return BlockOutcome::Sent;
}

void FlashLoader::writeBlock()
{
    const char *block = firmwareBuffer.get() + blockOffset;
    if (QSerialPort *port = connection.port())
        port->write(block, quenlark::blockSize);
    const char checksum = char(quenlark::blockChecksum(block));
    blockReply.clear();
    if (QSerialPort *port = connection.port()) {
        port->write(&checksum, 1);
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

void FlashLoader::finishDownload()
{
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
        finishDownload(); // the block loop sees the flag and finishes itself
}

void FlashLoader::closeEvent(QCloseEvent *event)
{
    if (downloading)
        abortDownload();
    QMainWindow::closeEvent(event);
}
