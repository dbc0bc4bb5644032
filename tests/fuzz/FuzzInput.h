#ifndef FUZZINPUT_H
#define FUZZINPUT_H

#include <cstddef>
#include <cstdint>
#include <vector>

// The fuzz input read front to back as fields; past its end every field reads 0.
class FuzzInput
{
public:
    FuzzInput(const uint8_t *data, size_t size);

    unsigned byte();
    unsigned pair();
    // Up to length bytes, fewer when the input runs out.
    std::vector<unsigned char> bytes(size_t length);
    size_t left() const;

private:
    const uint8_t *data;
    size_t size;
    size_t position = 0;
};

#endif // FUZZINPUT_H
