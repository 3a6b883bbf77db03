#include "mosquittoplatform_p.h"

#include <pthread.h>
#include <string.h>

namespace {

// strerror_r comes in two kinds: GNU's returns the text, the XSI one fills
// the buffer and returns 0. Overloading picks whichever the C library has.
[[maybe_unused]] const char *errorText(const char *text, const char *)
{
    return text;
}

[[maybe_unused]] const char *errorText(int result, const char *buffer)
{
    return result == 0 ? buffer : nullptr;
}

} // namespace

namespace MosquittoPlatform {

QString systemErrorText(int error)
{
    char buffer[256] = {};
    const char *text = errorText(strerror_r(error, buffer, sizeof buffer), buffer);
    return text ? QString::fromUtf8(text) : QStringLiteral("Unknown error %1").arg(error);
}

NoCancellation::NoCancellation()
{
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &m_oldState);
}

NoCancellation::~NoCancellation()
{
    pthread_setcancelstate(m_oldState, nullptr);
}

} // namespace MosquittoPlatform
