#ifndef ORVELEXTLIB_SETTINGSFILEGUARD_P_H
#define ORVELEXTLIB_SETTINGSFILEGUARD_P_H

#include <QByteArray>
#include <QIODevice>

// Keeps what a settings file held when its format could not read it.
// QSettings then starts from an empty store and, on the next sync(), writes
// whatever was set since over the file: one damaged character would cost
// every setting (and the encrypted store's keys and certificates).
//
// The bytes are copied beside the file as "<file>.unreadable"
// (".unreadable.1" to ".unreadable.9" when that name holds other bytes),
// where they can be repaired; nothing is copied when the same bytes are kept
// already, or when they are blank. When no copy can be written (a directory
// the process may not write to, every name taken), the file itself is kept:
// writes to it are refused until it reads again or is removed.
namespace SettingsFileGuard {

// After a format's read function read `content` from `device` (a QFile;
// other devices are not settings files and are left alone).
void noteRead(const QIODevice &device, const QByteArray &content, bool readOk);

// A format's read function: `read` parses all of `device`, and the outcome
// is noted.
template<typename Read> bool readFile(QIODevice &device, Read read)
{
    const QByteArray content = device.readAll();
    const bool ok = read(content);
    noteRead(device, content, ok);
    return ok;
}

// Whether a format's write function may replace the file behind `device`.
// When not (logged), the bytes the file held are written to `device`, for a
// save that writes the file in place has emptied it already.
bool mayReplace(QIODevice &device);

} // namespace SettingsFileGuard

#endif // ORVELEXTLIB_SETTINGSFILEGUARD_P_H
