#ifndef ORVEL_FUZZ_FUZZINPUT_H
#define ORVEL_FUZZ_FUZZINPUT_H

// Takes fixed-size fields off the front of a fuzz input; what is left is the
// free-form part (a text, a frame). Missing bytes read as zero.
#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fuzz {

class Input
{
public:
    Input(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}

    template<typename T>
    T take()
    {
        T value{};
        const size_t n = m_size < sizeof(T) ? m_size : sizeof(T);
        std::memcpy(&value, m_data, n);
        m_data += n;
        m_size -= n;
        return value;
    }

    QByteArray rest() const { return QByteArray(reinterpret_cast<const char *>(m_data), int(m_size)); }

private:
    const uint8_t *m_data;
    size_t m_size;
};

} // namespace fuzz

#endif // ORVEL_FUZZ_FUZZINPUT_H
