#pragma once

#include "engine/flash/station.h"

#include <QString>

#include <optional>

// The slot file: a small INI file a person edits, or the bench window's slot editor writes.
//
//   [station]
//   usb = 0403:6001, 10c4:ea60
//
//   [slots]
//   A1 = /dev/serial/by-path/pci-0000:00:14.0-usb-0:1.1:1.0-port0
//   A2 = rfc2217://10.0.4.20:4001
//
// Slots keep the file's order. A # or ; at a line's start, or after a blank outside quotes,
// starts a comment.
namespace slotfile {

// The station the text says; none, with "LINE: why", when it is malformed.
std::optional<Station> parse(const QString &text, QString *error);
// The file read and parsed; none, with "FILE:LINE: why" (or "FILE: why"), when it cannot be.
std::optional<Station> read(const QString &path, QString *error);
QString format(const Station &station);
// Written whole or not at all; false with the reason.
bool write(const QString &path, const Station &station, QString *error);
// "vvvv:pppp" in hex, as the system's listing says a USB adapter; false for anything else.
bool isUsbId(const QString &text);

} // namespace slotfile
