#include "portsettings.h"

#include <utility>

bool PortSettings::operator==(const PortSettings &other) const
{
    return m_portName == other.m_portName && m_baudRate == other.m_baudRate
           && m_dataBits == other.m_dataBits && m_parity == other.m_parity
           && m_stopBits == other.m_stopBits && m_flowControl == other.m_flowControl;
}

void PortSettings::swap(PortSettings &other) noexcept
{
    m_portName.swap(other.m_portName);
    std::swap(m_baudRate, other.m_baudRate);
    std::swap(m_dataBits, other.m_dataBits);
    std::swap(m_parity, other.m_parity);
    std::swap(m_stopBits, other.m_stopBits);
    std::swap(m_flowControl, other.m_flowControl);
}
