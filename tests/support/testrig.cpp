#include "testrig.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QTest>

#include <random>

ModalAnswerer::ModalAnswerer(int intervalMs, QObject *parent) : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::poll);
    m_timer.start(intervalMs);
}

int ModalAnswerer::count(const QString &text) const
{
    return int(std::count_if(boxes.cbegin(), boxes.cend(),
                             [&](const ShownBox &box) { return box.text == text; }));
}

void ModalAnswerer::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        if (!box->isVisible())
            return;
        boxes.append({box->windowTitle(), box->text(), box->icon(), box->parentWidget(),
                      box->font(), !box->windowIcon().isNull(), box->standardButtons()});
        if (QAbstractButton *ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
        return;
    }
    auto *dialog = qobject_cast<QDialog *>(modal);
    if (!dialog || !dialog->inherits("Bootloader_detector") || dialog == m_lastDetector)
        return;
    m_lastDetector = dialog;
    lastDetectorHadIcon = !dialog->windowIcon().isNull();
    if (onDetector)
        onDetector(dialog);
    else if (pressStart)
        dialog->findChild<QPushButton *>(QStringLiteral("pushButton_BootLoad"))->click();
}

void showOnPort(FlashLoader &window, const QString &port)
{
    auto *ports = window.findChild<QComboBox *>(QStringLiteral("comboBox_select_device"));
    ports->clear();
    ports->addItem(port);
    window.show();
}

Rig::Rig(const devicesim::Script &script) : device(script)
{
    QString error;
    if (!device.openPty(&error))
        qFatal("%s", qPrintable(error));
    showOnPort(window, device.portName());
    if (!QTest::qWaitForWindowExposed(&window))
        qWarning("window not exposed");
}

Rig::~Rig()
{
    device.stop();
}

QPushButton *Rig::button(const char *name) const
{
    return window.findChild<QPushButton *>(QString::fromLatin1(name));
}

bool Rig::detect()
{
    QTest::mouseClick(button("pushButton_Detect"), Qt::LeftButton);
    return button("pushButton_Flash")->isEnabled();
}

void Rig::flash(const QString &imagePath)
{
    window.findChild<QLineEdit *>(QStringLiteral("lineEdit_Selected_file"))->setText(imagePath);
    QTest::mouseClick(button("pushButton_Flash"), Qt::LeftButton);
}

bool Rig::waitForBox(const QString &text, int timeoutMs)
{
    const int before = answerer.count(text);
    QDeadlineTimer deadline(timeoutMs);
    while (answerer.count(text) == before && !deadline.hasExpired())
        QTest::qWait(10);
    return answerer.count(text) > before;
}

bool Rig::isIdle() const
{
    return idleReport().isEmpty();
}

QString Rig::idleReport() const
{
    QStringList faults;
    if (window.serialConnection().port())
        faults << QStringLiteral("port still held");
    if (window.downloadState() != FlashLoader::DownloadState::Idle)
        faults << QStringLiteral("download not idle");
    if (window.holdsFirmwareBuffer())
        faults << QStringLiteral("buffer not released");
    for (const char *name : {"pushButton_Browse", "pushButton_Detect", "pushButton_Rescan"})
        if (!button(name)->isEnabled())
            faults << QString::fromLatin1(name) + QStringLiteral(" disabled");
    if (!window.findChild<QComboBox *>(QStringLiteral("comboBox_select_device"))->isEnabled())
        faults << QStringLiteral("port list disabled");
    if (button("pushButton_Flash")->isEnabled())
        faults << QStringLiteral("Flash enabled");
    return faults.join(QStringLiteral(", "));
}

QByteArray paddedImage(const QByteArray &image)
{
    QByteArray padded = image;
    const qsizetype rest = image.size() % 256;
    if (rest)
        padded.append(256 - rest, char(0xFF));
    return padded;
}

QByteArray patternImage(int size, quint32 seed)
{
    std::mt19937 random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(random() & 0xFF);
    return bytes;
}

QString writeFile(const QString &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QByteArray expectedDownload(const QByteArray &image)
{
    const QByteArray padded = paddedImage(image);
    QByteArray bytes = startCommand;
    const quint32 size = quint32(padded.size());
    for (int shift = 0; shift < 32; shift += 8)
        bytes.append(char((size >> shift) & 0xFF));
    for (qsizetype at = 0; at < padded.size(); at += 256) {
        const QByteArray block = padded.mid(at, 256);
        unsigned sum = 0;
        for (char byte : block)
            sum += quint8(byte);
        bytes.append(block).append(char(~sum & 0xFF));
    }
    return bytes;
}

QByteArray afterDetection(const QByteArray &received)
{
    qsizetype at = 0;
    while (received.mid(at, wakeUpCommand.size()) == wakeUpCommand)
        at += wakeUpCommand.size();
    return received.mid(at);
}

double msBetween(qint64 fromNs, qint64 toNs)
{
    return double(toNs - fromNs) / 1e6;
}
