#pragma once

#include "app/flashloader.h"
#include "device.h"

#include <QByteArray>
#include <QFont>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>

class QPushButton;
class QWidget;

// What a modal box showed before the answerer dismissed it.
struct ShownBox
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QWidget *parent = nullptr;
    QFont font;
    bool hasWindowIcon = false;
    QMessageBox::StandardButtons buttons;
};

// Plays the operator for every modal window: records and dismisses each message box, and
// presses Start in each detection dialog (or hands the dialog to `onDetector`).
class ModalAnswerer : public QObject
{
    Q_OBJECT

public:
    explicit ModalAnswerer(QObject *parent = nullptr);

    QList<ShownBox> boxes;
    bool pressStart = true;
    std::function<void(QDialog *)> onDetector;
    int detectorsSeen = 0;
    bool lastDetectorHadIcon = false;

    int count(const QString &text) const;

private:
    void poll();

    QTimer m_timer;
    QPointer<QDialog> m_lastDetector;
};

// The real window wired to a simulated device on a fresh pseudo-terminal.
class Rig
{
public:
    explicit Rig(const devicesim::Script &script = devicesim::Script());
    ~Rig();

    QPushButton *button(const char *name) const;
    bool detect();                        // true when Flash ends up enabled
    void flash(const QString &imagePath); // returns once the start command is out
    bool waitForBox(const QString &text, int timeoutMs);
    // The idle state every ending must leave: port closed, four controls on, Flash off.
    bool isIdle() const;
    QString idleReport() const;

    devicesim::Device device;
    FlashLoader window;
    ModalAnswerer answerer;
};

// 0xFF-padded to whole blocks, as the device must receive it.
QByteArray paddedImage(const QByteArray &image);
QByteArray patternImage(int size, quint32 seed = 1);
QString writeFile(const QString &dir, const QString &name, const QByteArray &bytes);
