#pragma once

#include "app/flashloader.h"
#include "device.h"

#include <QByteArray>
#include <QFont>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QTimer>

#include <functional>

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
    // Looks every `intervalMs`; each look wakes the event loop, which a CPU measure counts.
    explicit ModalAnswerer(int intervalMs = 10, QObject *parent = nullptr);

    QList<ShownBox> boxes;
    bool pressStart = true;
    std::function<void(QDialog *)> onDetector;
    bool lastDetectorHadIcon = false;

    int count(const QString &text) const;

private:
    void poll();

    QTimer m_timer;
    QPointer<QDialog> m_lastDetector;
};

// Puts `port` alone into the window's port list (ptys are never enumerated) and shows it.
void showOnPort(FlashLoader &window, const QString &port);

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

inline const QByteArray wakeUpCommand("Quenlark boot!\r");
inline const QByteArray startCommand("\x14\xAA\xEE\x44", 4);

// What the host must send for `image` from the start command on: start, size word, and each
// padded block followed by its checksum, computed here independently of the updater.
QByteArray expectedDownload(const QByteArray &image);
// The host's bytes with the leading whole wake-up commands of the detection taken off.
QByteArray afterDetection(const QByteArray &received);
double msBetween(qint64 fromNs, qint64 toNs);

// 0xFF-padded to whole blocks, as the device must receive it.
QByteArray paddedImage(const QByteArray &image);
QByteArray patternImage(int size, quint32 seed = 1);
QString writeFile(const QString &dir, const QString &name, const QByteArray &bytes);
