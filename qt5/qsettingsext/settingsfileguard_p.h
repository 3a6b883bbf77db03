#ifndef ORVELEXTLIB_SETTINGSFILEGUARD_P_H
#define ORVELEXTLIB_SETTINGSFILEGUARD_P_H

class QIODevice;

// Keeps a settings file that its format could not read from being replaced.
// QSettings starts from an empty store when the read function fails and, on
// the next sync(), writes whatever was set since over the file: one damaged
// character would cost every setting (and the keys and certificates of the
// encrypted store). The format functions of each file format note every read
// of a file and ask before writing one; a refused write leaves the file as it
// is and QSettings reports AccessError. Once the file reads again (repaired,
// or removed by the host to start afresh) it is written as usual.
namespace SettingsFileGuard {

// Records whether the file behind `device` (a QFile; other devices are not
// tracked) could be read.
void noteRead(const QIODevice &device, bool readOk);

// Whether the file behind `device` (QSettings hands its writers a QSaveFile)
// may be replaced: not while it is there, not empty, and its last read in
// this process failed. A refusal is logged.
bool mayReplace(const QIODevice &device);

} // namespace SettingsFileGuard

#endif // ORVELEXTLIB_SETTINGSFILEGUARD_P_H
