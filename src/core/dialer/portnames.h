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

} // namespace korvana
