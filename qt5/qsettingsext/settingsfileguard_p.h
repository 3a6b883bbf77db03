#ifndef ORVELEXTLIB_SETTINGSFILEGUARD_P_H
#define ORVELEXTLIB_SETTINGSFILEGUARD_P_H

class QByteArray;
class QIODevice;

// Keeps a copy of a settings file that its format could not read. QSettings
// then starts from an empty store and, on the next sync(), writes whatever
// was set since over the file: one damaged character would cost every
// setting (and the encrypted store's keys and certificates). The format's
// read function hands over what it read when it fails; it is copied beside
// the file as "<file>.unreadable" (".unreadable.1" to ".unreadable.9" when
// that name holds other bytes), where it can be repaired. Nothing is copied
// when the same bytes are kept already, or when they are blank.
namespace SettingsFileGuard {

// `device` is the file the read function was given (other devices are not
// settings files and are left alone); `content` what it read from it.
void keepUnreadable(const QIODevice &device, const QByteArray &content);

} // namespace SettingsFileGuard

#endif // ORVELEXTLIB_SETTINGSFILEGUARD_P_H
