#include "mosquittoplatform_p.h"

#include <string.h>

namespace MosquittoPlatform {

QString systemErrorText(int error)
{
    char buffer[256] = {};
    strerror_s(buffer, sizeof buffer, error);
    return QString::fromUtf8(buffer);
}

// libmosquitto's thread is not cancelled here: nothing to hold off.
NoCancellation::NoCancellation() = default;
NoCancellation::~NoCancellation() = default;

} // namespace MosquittoPlatform
