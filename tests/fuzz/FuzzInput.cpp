#include "FuzzInput.h"

#include <algorithm>

FuzzInput::FuzzInput(const uint8_t *data, size_t size)
    : data(data), size(size)
{
}

unsigned FuzzInput::byte()
{
    return position < size ? data[position++] : 0u;
}

unsigned FuzzInput::pair()
{
    const unsigned high = byte();
    return (high << 8) | byte();
}

std::vector<unsigned char> FuzzInput::bytes(size_t length)
{
    const size_t taken = std::min(length, left());
    std::vector<unsigned char> out(data + position, data + position + taken);
    position += taken;
    return out;
}

size_t FuzzInput::left() const
{
    return size - position;
}
