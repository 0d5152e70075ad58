#pragma once

#include "testrig.h"
#include "window/app/flashloader.h"

#include <QFont>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class QDialog;
class QWidget;

// The operator's side of the window's tests: modal boxes answered, the window driven on a port.

// What a modal box showed before the answerer dismissed it.
struct ShownBox
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QWidget *parent = nullptr; // only to compare: it may be gone
    QString parentClass;
    QFont font;
    bool hasWindowIcon = false;
    QMessageBox::StandardButtons buttons;
    qint64 seenAt = 0; // devicesim::nowNs() when the answerer first saw it
    // The answering thread's CPU per second while the box stayed open (see holdMs).
    double cpuWhileOpen = 0;
};

// Empty when `box` is Qt's standard warning box over `window` (a blank title, the warning
// icon), else what differs.
QString warningBoxFault(const ShownBox &box, const QWidget *window);

// Plays the operator for every modal window: records and dismisses each message box, and
// presses Start in each detection dialog (or hands the dialog to `onDetector`).
class ModalAnswerer : public QObject
{
    Q_OBJECT

public:
    // Looks every `intervalMs`; each look wakes the event loop, which a CPU measure counts.
    explicit ModalAnswerer(int intervalMs = 10, QObject *parent = nullptr);

    QList<ShownBox> boxes;
    int holdMs = 0; // how long each box stays open before it is dismissed
    bool pressStart = true;
    std::function<void(QDialog *)> onDetector;
    bool lastDetectorHadIcon = false;

    int count(const QString &text) const;

private:
    void poll();

    QTimer m_timer;
    QPointer<QDialog> m_lastDetector;
    QPointer<QMessageBox> m_open; // seen, and held open for holdMs
    double m_cpuAtSight = 0;
};

// Puts `port` alone into the window's port list (ptys are never enumerated) and shows it.
void showOnPort(FlashLoader &window, const QString &port);

// Calls the window's serialRecieve() every millisecond from wherever its events are processed,
// the block loop's passes included: readyRead() re-entering as Qt's Windows back end emits it,
// on a system whose back end does not.
class ReenteringReadyRead
{
public:
    explicit ReenteringReadyRead(FlashLoader &window);

private:
    QTimer m_timer;
};

// The operator at the real window, on a port given to it.
class Operator
{
public:
    explicit Operator(int answerEveryMs = 10);

    void usePort(const QString &port);
    QPushButton *button(const char *name) const;
    bool detect();                        // true when Flash ends up enabled
    void flash(const QString &imagePath); // returns once the start command is out
    bool waitForBox(const QString &text, int timeoutMs);
    // The idle state every ending must leave: port closed, four controls on, Flash off.
    bool isIdle() const;
    QString idleReport() const;

    FlashLoader window;
    ModalAnswerer answerer;
};

#ifdef Q_OS_UNIX

// A simulated device on a fresh pseudo-terminal, alone in the operator's port list.
std::unique_ptr<devicesim::Device> plugIn(Operator &updater,
                                          const devicesim::Script &script = devicesim::Script());

// The operator wired to a simulated device on a fresh pseudo-terminal, in this process.
class Rig : public Operator
{
public:
    explicit Rig(const devicesim::Script &script = devicesim::Script());

    devicesim::Device device;
};
#endif
