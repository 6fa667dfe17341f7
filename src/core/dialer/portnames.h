#pragma once

#include <QString>

class QSettings;

namespace korvana {

// The device behind the port list's "Com" n (n from 1): "COMn" on Windows,
// /dev/ttyS{n-1} elsewhere. A modem on USB shows up under another name
// (/dev/ttyACM0, /dev/ttyUSB0), so the per-user settings may name the
// device for a port: group "Ports", key "Com" n.
QString defaultPortDevice(int portNumber);
QString portDevice(int portNumber, const QSettings &settings);
// The same, read from the application's default settings store.
QString portDevice(int portNumber);

// Few desks still have a modem: a port may instead stand for the desktop's
// telephone ("tel:", the number is handed to whatever program opens tel:
// links) or for a QR code of the number on screen ("qr:").
enum class PortRoad { Modem, Telephone, QrCode };
PortRoad portRoad(int portNumber, const QSettings &settings);

// The number to put before an entry's digits when it is handed on as a
// link: group "Dial", key "Prefix", e.g. "+38044". Digits, at most 15 (the
// longest international number), with an optional leading "+"; empty is
// allowed and means none.
QString dialPrefix(const QSettings &settings);
bool isValidDialPrefix(const QString &prefix);

// The number of a `Commy` text as a telephone link carries it: the prefix,
// then the characters the modem would dial (the first five after trimming)
// with blanks and dashes dropped.
struct LinkNumber {
    enum class Problem { None, NoDigits, NotDigits, BadPrefix };
    Problem problem = Problem::None;
    QString number; // prefix + digits; empty unless problem is None
};
LinkNumber linkNumber(const QString &commyText, const QString &prefix);

// "tel:" + number.
QString telLink(const QString &number);

// The name part of a `Commy` text ("20911 Spravka" gives "Spravka"): what
// follows the dialed characters and the rest of the number.
QString entryName(const QString &commyText);

} // namespace korvana
