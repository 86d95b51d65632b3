#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// A property that must hold for every input; a failure is a crash libFuzzer keeps.
#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

namespace fuzz {

// The input after its first byte, which the target spends on a choice of its own.
struct Input {
    std::uint8_t choice = 0;
    QByteArray rest;
};

inline Input split(const std::uint8_t* data, std::size_t size) {
    Input in;
    if (size > 0) {
        in.choice = data[0];
        in.rest =
            QByteArray(reinterpret_cast<const char*>(data) + 1, static_cast<qsizetype>(size - 1));
    }
    return in;
}

// Pieces of 1 to 64 bytes, their sizes drawn from the bytes themselves, as a socket may
// deliver them.
template <typename Feed>
void inPieces(QByteArrayView bytes, std::uint8_t seed, Feed feed) {
    qsizetype pos = 0;
    unsigned step = seed;
    while (pos < bytes.size()) {
        step = step * 33u + static_cast<unsigned char>(bytes[pos]) + 1u;
        const qsizetype n = std::min<qsizetype>(1 + step % 64, bytes.size() - pos);
        if (!feed(bytes.sliced(pos, n))) {
            return;
        }
        pos += n;
    }
}

}  // namespace fuzz
