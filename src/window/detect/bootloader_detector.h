#pragma once

#include "window/serial/serialconnection.h"

#include <QDialog>
#include <QString>

QT_BEGIN_NAMESPACE
class QTimer;
class Ui_Bootloader_detector;
QT_END_NAMESPACE

// Repeats the wake-up command on its own port until the bootloader answers "OK".
class Bootloader_detector : public QDialog
{
    Q_OBJECT

public:
    explicit Bootloader_detector(QWidget *parent = nullptr);
    Bootloader_detector(const QString &portName, QWidget *parent);
    ~Bootloader_detector() override;

    bool isDetected() const { return detected; }
    const SerialConnection &serialConnection() const { return connection; }

private slots:
    void on_pushButton_BootLoad_clicked();
    void serialRecieve();
    void open_connection();
    void detect_bootloader();

private:
    void setUp();
    void closeSerialPort();
    void endWithWarning(const QString &message);

    QString portName;
    SerialConnection connection;
    bool detected = false;
    qint32 clickCount = 0;
    QTimer *timer = nullptr;
    Ui_Bootloader_detector *ui = nullptr;
};
