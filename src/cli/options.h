#pragma once

#include "station/stationoptions.h"

#include <QString>
#include <QStringList>

#include <filesystem>

// What vantyx-flash was asked to do: a station's options, read as the bench reads them, and
// the command line's own.
struct FlashOptions
{
    enum class Action { Flash, List, Help, Version };
    Action action = Action::Flash;
    StationOptions station;
    QStringList ports; // --port's, else the slots'
    bool all = false;
    bool watch = false;
    QString json;                    // "" none, "-" standard output
    std::filesystem::path imageFile; // as the system gave it, to open
    QString helpText;
};

// Reads the command line (program name first). False on bad usage, with one line saying why.
bool parseFlashOptions(const QStringList &arguments, FlashOptions *options, QString *error);
