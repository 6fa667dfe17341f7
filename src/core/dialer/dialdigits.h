#pragma once

#include <QByteArray>
#include <QString>

namespace korvana {

// Index of the first exchange in the `ATC` list ("DaziVIRe"); every other
// index is dialed by the rule of the second exchange ("УкрТелеком").
inline constexpr int DaziVireExchange = 0;

// The part of `Commy`'s text that is dialed: blanks trimmed at both ends,
// then at most the first five characters (the name after the number is
// cut off).
QString dialNumber(const QString &commyText);

// The digits and pauses (each "," is one pause of the modem) that the
// exchange needs for `number`. On the first exchange a number beginning
// with 9 is dialed as its last four characters, any other after ",,9,";
// on the second every number is dialed whole.
QString dialDigits(const QString &number, int exchangeIndex);

// "ATDP" + digits + ";" + CR: pulse dialing, then back to command mode so
// that the modem answers OK and the handset takes the line. Only printable
// ASCII of `digits` reaches the line: a CR or other control character in a
// directory number would end the command early and leave the modem dialing
// in data mode, and other characters mean nothing to a modem.
QByteArray dialCommand(const QString &digits);

// "ATH" + CR.
QByteArray hangUpCommand();

} // namespace korvana
