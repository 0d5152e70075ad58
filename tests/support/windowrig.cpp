#include "windowrig.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <cstdio>

QString warningBoxFault(const ShownBox &box, const QWidget *window)
{
    QStringList faults;
    if (box.title != QStringLiteral(" "))
        faults << QStringLiteral("title \"%1\"").arg(box.title);
    if (box.parent != window)
        faults << QStringLiteral("not over the window");
    if (box.icon != QMessageBox::Warning)
        faults << QStringLiteral("icon %1").arg(int(box.icon));
    return faults.join(QStringLiteral(", "));
}

ModalAnswerer::ModalAnswerer(int intervalMs, QObject *parent) : QObject(parent)
{
    quietPlatformNotes();
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
        if (box != m_open) {
            m_open = box;
            QWidget *parent = box->parentWidget();
            boxes.append(
                {box->windowTitle(), box->text(), box->icon(), parent,
                 parent ? QString::fromLatin1(parent->metaObject()->className()) : QString(),
                 box->font(), !box->windowIcon().isNull(), box->standardButtons(),
                 devicesim::nowNs()});
            m_cpuAtSight = cpuSeconds(CpuOf::Thread);
        }
        const qint64 openNs = devicesim::nowNs() - boxes.last().seenAt;
        if (openNs < holdMs * 1000000LL)
            return;
        if (openNs > 0)
            boxes.last().cpuWhileOpen = (cpuSeconds(CpuOf::Thread) - m_cpuAtSight) / (openNs / 1e9);
        m_open = nullptr;
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

ReenteringReadyRead::ReenteringReadyRead(FlashLoader &window)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, &window,
                     [&window] { QMetaObject::invokeMethod(&window, "serialRecieve"); });
    m_timer.start(1);
}

Operator::Operator(int answerEveryMs) : answerer(answerEveryMs) {}

void Operator::usePort(const QString &port)
{
    showOnPort(window, port);
    if (!QTest::qWaitForWindowExposed(&window))
        qWarning("window not exposed");
}

QPushButton *Operator::button(const char *name) const
{
    return window.findChild<QPushButton *>(QString::fromLatin1(name));
}

bool Operator::detect()
{
    QTest::mouseClick(button("pushButton_Detect"), Qt::LeftButton);
    return button("pushButton_Flash")->isEnabled();
}

void Operator::flash(const QString &imagePath)
{
    window.findChild<QLineEdit *>(QStringLiteral("lineEdit_Selected_file"))->setText(imagePath);
    QTest::mouseClick(button("pushButton_Flash"), Qt::LeftButton);
}

bool Operator::waitForBox(const QString &text, int timeoutMs)
{
    const int before = answerer.count(text);
    QDeadlineTimer deadline(timeoutMs);
    while (answerer.count(text) == before && !deadline.hasExpired())
        QTest::qWait(10);
    return answerer.count(text) > before;
}

bool Operator::isIdle() const
{
    return idleReport().isEmpty();
}

QString Operator::idleReport() const
{
    QStringList faults;
    if (window.serialConnection().port())
        faults << QStringLiteral("port still held");
    if (window.isDownloading())
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

#ifdef Q_OS_UNIX
std::unique_ptr<devicesim::Device> plugIn(Operator &updater, const devicesim::Script &script)
{
    auto device = ptyDevice(script);
    updater.usePort(device->portName());
    return device;
}

Rig::Rig(const devicesim::Script &script) : device(script)
{
    QString error;
    if (!device.openPty(&error))
        qFatal("%s", qPrintable(error));
    usePort(device.portName());
}
#endif
