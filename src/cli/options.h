#pragma once

#include "engine/flash/station.h"
#include "metrics/metricspublisher.h"

#include <QString>
#include <QStringList>

#include <filesystem>

// What vantyx-flash was asked to do.
struct FlashOptions
{
    enum class Action { Flash, List, Help, Version };
    Action action = Action::Flash;
    QStringList ports;       // --port's, else the slots'
    bool portsNamed = false; // by --port
    bool all = false;
    bool watch = false;
    QString json;                    // "" none, "-" standard output
    QString log;                     // "" none: one line per finished board
    int detectTimeoutMs = 0;         // 0: for ever
    QString image;                   // as text, for messages and records
    std::filesystem::path imageFile; // as the system gave it, to open
    QString slotsFile;               // "" none
    Station station;                 // the slot file's, and --usb's adapters
    QString tag;                     // "" none: into every record
    MetricsTargets metrics;
    QString helpText;
};

// Reads the command line (program name first). False on bad usage, with one line saying why.
bool parseFlashOptions(const QStringList &arguments, FlashOptions *options, QString *error);
