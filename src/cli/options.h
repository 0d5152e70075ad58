#pragma once

#include <QString>
#include <QStringList>

#include <filesystem>

// What vantyx-flash was asked to do.
struct FlashOptions
{
    enum class Action { Flash, List, Help, Version };
    Action action = Action::Flash;
    QStringList ports;
    bool all = false;
    bool watch = false;
    QString json;                    // "" none, "-" standard output
    QString log;                     // "" none: one line per finished board
    int detectTimeoutMs = 0;         // 0: for ever
    QString image;                   // as text, for messages and records
    std::filesystem::path imageFile; // as the system gave it, to open
    QString helpText;
};

// Reads the command line (program name first). False on bad usage, with one line saying why.
bool parseFlashOptions(const QStringList &arguments, FlashOptions *options, QString *error);
