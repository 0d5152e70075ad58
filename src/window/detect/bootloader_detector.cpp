#include "window/detect/bootloader_detector.h"

#include "core/protocol/quenlark.h"
#include "ui_bootloader_detector.h"
#include "window/images/appicon.h"

#include <QIcon>
#include <QMessageBox>
#include <QSerialPort>
#include <QThread>
#include <QTimer>

Bootloader_detector::Bootloader_detector(QWidget *parent) : QDialog(parent)
{
    setUp();
    setWindowIcon(QIcon(QString::fromLatin1(appIconPath)));
}

Bootloader_detector::Bootloader_detector(const QString &portName, QWidget *parent)
    : QDialog(parent), portName(portName)
{
    setUp();
    open_connection();
}

void Bootloader_detector::setUp()
{
    timer = new QTimer(this);
    timer->setTimerType(Qt::PreciseTimer);
    ui = new Ui_Bootloader_detector;
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Detection"));
    connect(timer, &QTimer::timeout, this, &Bootloader_detector::detect_bootloader);
    connection.onLost([this](const QString &message) {
        timer->stop();
        endWithWarning(message);
    });
}

void Bootloader_detector::endWithWarning(const QString &message)
{
    // Queued: out of the port's own signal, and after exec() has begun when the open failed.
    QMetaObject::invokeMethod(
        this,
        [this, message] {
            QMessageBox::warning(this, QStringLiteral(" "), message, QMessageBox::Ok,
                                 QMessageBox::NoButton);
            hide();
        },
        Qt::QueuedConnection);
}

Bootloader_detector::~Bootloader_detector()
{
    closeSerialPort();
    delete ui;
}

void Bootloader_detector::closeSerialPort()
{
    connection.close();
}

void Bootloader_detector::on_pushButton_BootLoad_clicked()
{
    detected = false;
    if (clickCount != 0) {
        ++clickCount;
        // Gives a wake-up already on the line time to finish before the port goes.
        QThread::msleep(200);
        hide();
        return;
    }
    clickCount = 1;
    setWindowTitle(QStringLiteral("Waiting"));
    ui->pushButton_BootLoad->setText(QStringLiteral("Stop"));
    timer->setInterval(quenlark::wakeUpIntervalMs);
    timer->start();
}

void Bootloader_detector::serialRecieve()
{
    QSerialPort *port = connection.port();
    if (!port)
        return;
    if (!quenlark::isOkReply(port->readAll()))
        return;
    detected = true;
    timer->stop();
    closeSerialPort();
    hide();
}

void Bootloader_detector::open_connection()
{
    if (connection.open(portName, this, SLOT(serialRecieve())))
        return;
    // Said before any wake-up command: otherwise the dialog would wait for ever.
    const QString why = connection.openFailure();
    closeSerialPort();
    endWithWarning(why);
}

void Bootloader_detector::detect_bootloader()
{
    if (QSerialPort *port = connection.port())
        port->write(quenlark::wakeUpCommand, quenlark::wakeUpCommandSize);
}
