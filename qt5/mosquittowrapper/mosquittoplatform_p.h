#ifndef ORVELEXTLIB_MOSQUITTOPLATFORM_P_H
#define ORVELEXTLIB_MOSQUITTOPLATFORM_P_H

#include <QString>

// What the libmosquitto binding needs from the operating system. Exactly one
// implementation is built: qtmosquittoclient_unix.cpp or qtmosquittoclient_win.cpp.
namespace MosquittoPlatform {

// The system's text for an error number, without strerror()'s shared buffer.
QString systemErrorText(int error);

// Held while a callback runs in libmosquitto's thread, which a forced loop
// stop cancels: cancellation must not strike inside Qt while a signal is
// being queued. Where threads are not cancelled it does nothing.
class NoCancellation
{
public:
    NoCancellation();
    ~NoCancellation();
    NoCancellation(const NoCancellation &) = delete;
    NoCancellation &operator=(const NoCancellation &) = delete;

private:
    [[maybe_unused]] int m_oldState = 0; // used where threads are cancelled
};

} // namespace MosquittoPlatform

#endif // ORVELEXTLIB_MOSQUITTOPLATFORM_P_H
