#include "benchwindow/sloteditor.h"

#include "core/serial/portname.h"
#include "core/serial/remoteport.h"
#include "engine/flash/slotfile.h"
#include "ui_sloteditor.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

SlotEditor::SlotEditor(const Station &station, const QString &file, QWidget *parent)
    : QDialog(parent), ui(new Ui_SlotEditor), m_given(station), m_file(file)
{
    ui->setupUi(this);
    for (const Station::Slot &slot : station.benchSlots)
        addSlot(slot.name, slot.port);
    ui->lineEdit_adapters->setText(station.adapters.join(QStringLiteral(", ")));
    connect(ui->pushButton_remove, &QPushButton::clicked, this, [this] {
        const QModelIndexList rows = ui->tableWidget_slots->selectionModel()->selectedRows();
        for (auto it = rows.crbegin(); it != rows.crend(); ++it)
            ui->tableWidget_slots->removeRow(it->row());
    });
    connect(ui->pushButton_add, &QPushButton::clicked, this, &SlotEditor::addTypedPort);
    // Enter in the port's field adds it, rather than saving the dialog.
    connect(ui->lineEdit_port, &QLineEdit::textChanged, this,
            [this](const QString &text) { ui->pushButton_add->setDefault(!text.isEmpty()); });
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &SlotEditor::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &SlotEditor::reject);
}

SlotEditor::~SlotEditor()
{
    delete ui;
}

void SlotEditor::addSlot(const QString &name, const QString &port)
{
    const int row = ui->tableWidget_slots->rowCount();
    ui->tableWidget_slots->insertRow(row);
    ui->tableWidget_slots->setItem(row, 0, new QTableWidgetItem(name));
    auto *portItem = new QTableWidgetItem(port);
    portItem->setFlags(portItem->flags() & ~Qt::ItemIsEditable);
    ui->tableWidget_slots->setItem(row, 1, portItem);
}

bool SlotEditor::addTypedPort()
{
    // A port no board's arrival shows: one on another machine, or one the system does not list.
    const QString port = ui->lineEdit_port->text().trimmed();
    if (port.isEmpty())
        return false;
    QString why;
    if (RemotePort::isRemote(port) && !RemotePort::parse(port, &why)) {
        QMessageBox::warning(this, windowTitle(), tr("%1: %2").arg(port, why));
        return false;
    }
    const QString key = portKey(port);
    for (int row = 0; row < ui->tableWidget_slots->rowCount(); ++row)
        if (portKey(ui->tableWidget_slots->item(row, 1)->text()) == key) {
            QMessageBox::warning(this, windowTitle(),
                                 tr("%1 is the port of slot %2 already.")
                                     .arg(port, ui->tableWidget_slots->item(row, 0)->text()));
            return false;
        }
    addSlot(tr("Slot %1").arg(ui->tableWidget_slots->rowCount() + 1), port);
    ui->lineEdit_port->clear();
    ui->tableWidget_slots->editItem(
        ui->tableWidget_slots->item(ui->tableWidget_slots->rowCount() - 1, 0));
    return true;
}

void SlotEditor::portsNow(const QStringList &ports)
{
    const QSet<QString> now(ports.cbegin(), ports.cend());
    if (!m_looked) { // what is plugged in already was not plugged in order
        m_looked = true;
        m_seen = now;
        return;
    }
    for (const QString &port : ports) {
        if (m_seen.contains(port))
            continue;
        const QString key = portKey(port);
        bool named = false;
        for (int row = 0; row < ui->tableWidget_slots->rowCount() && !named; ++row)
            named = portKey(ui->tableWidget_slots->item(row, 1)->text()) == key;
        if (named)
            continue;
        addSlot(tr("Slot %1").arg(ui->tableWidget_slots->rowCount() + 1), stablePortName(port));
        if (isVisible()) // the operator types the name written on the bench
            ui->tableWidget_slots->editItem(
                ui->tableWidget_slots->item(ui->tableWidget_slots->rowCount() - 1, 0));
    }
    m_seen = now;
}

std::optional<Station> SlotEditor::station(QString *why) const
{
    // Through the file's own reader: what is saved is what vantyx-flash --slots reads.
    Station station;
    station.trustedKeys = m_given.trustedKeys;
    station.requireJob = m_given.requireJob;
    for (int row = 0; row < ui->tableWidget_slots->rowCount(); ++row)
        station.benchSlots << Station::Slot{ui->tableWidget_slots->item(row, 0)->text().trimmed(),
                                            ui->tableWidget_slots->item(row, 1)->text()};
    station.adapters = ui->lineEdit_adapters->text().split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (QString &adapter : station.adapters)
        adapter = adapter.trimmed();
    for (const Station::Slot &slot : std::as_const(station.benchSlots))
        if (slot.name.isEmpty() || slot.name.contains(QLatin1Char('=')) ||
            slot.name.startsWith(QLatin1Char('[')) || slot.name.startsWith(QLatin1Char('#')) ||
            slot.name.startsWith(QLatin1Char(';'))) {
            *why = tr("Each slot needs a name without =, and not starting with [, # or ;.");
            return std::nullopt;
        }
    QString line;
    std::optional<Station> read = slotfile::parse(slotfile::format(station), &line);
    if (!read)
        *why = line.section(QStringLiteral(": "), 1); // the line is the file's, not the table's
    return read;
}

void SlotEditor::accept()
{
    QString why;
    const std::optional<Station> edited = station(&why);
    if (!edited) {
        QMessageBox::warning(this, windowTitle(), why);
        return;
    }
    if (m_file.isEmpty())
        m_file =
            QFileDialog::getSaveFileName(this, tr("Save the slots"), QStringLiteral("bench.ini"),
                                         tr("Slot files (*.ini);;All files (*)"));
    if (m_file.isEmpty())
        return;
    if (!slotfile::write(m_file, *edited, &why)) {
        QMessageBox::warning(this, windowTitle(),
                             tr("The slots cannot be saved to %1.\n%2").arg(m_file, why));
        return;
    }
    QDialog::accept();
}
