#pragma once

#include "engine/flash/station.h"

#include <QDialog>
#include <QSet>

QT_BEGIN_NAMESPACE
class Ui_SlotEditor;
QT_END_NAMESPACE

// Names a bench's slots: each port that appears while it is open becomes a slot, under its
// stable name, for the operator to name; saved as the slot file.
class SlotEditor : public QDialog
{
    Q_OBJECT

public:
    // `file` is where it is saved; "" asks where.
    SlotEditor(const Station &station, const QString &file, QWidget *parent = nullptr);
    ~SlotEditor() override;

    // The ports there now (the window's rows): those that arrived since the last call, and no
    // slot names yet, are added.
    void portsNow(const QStringList &ports);
    // The station as the table says it; none, with the reason, when a name is missing or
    // given twice, or an adapter is not VID:PID.
    std::optional<Station> station(QString *why) const;
    QString file() const { return m_file; }
    // Adds the port typed in the dialog as a slot; false (and said) when it is no port, or a
    // slot's already.
    bool addTypedPort();

    void accept() override;

private:
    void addSlot(const QString &name, const QString &port);

    Ui_SlotEditor *ui;
    Station m_given; // what the table does not show is kept as it was
    QString m_file;
    QSet<QString> m_seen; // ports there at the last look
    bool m_looked = false;
};
