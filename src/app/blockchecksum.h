#pragma once

#include <QtGlobal>

inline constexpr int blockSize = 256;

// The device checks each block against the complement of its byte sum.
inline quint8 blockChecksum(const char *block)
{
    quint8 sum = 0;
    for (int i = 0; i < blockSize; ++i)
        sum = quint8(sum + quint8(block[i]));
    return quint8(~sum);
}
