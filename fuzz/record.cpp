// UnpackRecord over arbitrary bytes: the record layouts the service sends, then a format of up to
// eight letters taken from the input, read a field at a time; each field read is packed again
// and must read back as the same value.
#include "core/record.h"
#include "fuzz.h"

#include <cmath>
#include <cstring>

using namespace mr;

namespace {

template <typename T>
void roundTrip(char letter, T value) {
    const char packLetter = letter == 'T' ? 'D' : letter;
    const PackResult packed = PackRecord(std::string_view(&packLetter, 1), {value});
    FUZZ_CHECK(packed.ok());
    T again{};
    const UnpackResult r = UnpackRecord(packed.bytes, std::string_view(&letter, 1), {&again});
    FUZZ_CHECK(r.ok() && r.consumed == packed.bytes.size());
    if constexpr (std::is_floating_point_v<T>) {
        // A float travels through a double on the way in, which may quiet a NaN.
        FUZZ_CHECK(std::memcmp(&again, &value, sizeof(T)) == 0 ||
                   (std::isnan(again) && std::isnan(value)));
    } else {
        FUZZ_CHECK(again == value);
    }
}

void layouts(const QByteArray& rest) {
    std::int32_t i = 0;
    std::uint16_t w = 0;
    std::uint8_t b = 0;
    double d = 0;
    float f = 0;
    QByteArray raw;
    QString text;
    UnpackRecord(rest, "IITWBAAAAAWWBB",
                 {&i, &i, &raw, &w, &b, &text, &text, &raw, &raw, &text, &w, &w, &b, &b});
    UnpackRecord(rest, "AAAAABTBAAAI",
                 {&text, &text, &text, &text, &text, &b, &d, &b, &text, &text, &text, &i});
    UnpackRecord(rest, "BIDWBAAAF", {&b, &i, &d, &w, &b, &raw, &raw, &raw, &f});
    // Letters beyond the destinations, and destinations of the wrong kind.
    UnpackRecord(rest, "IAXB", {&raw, &i});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::Input in = fuzz::split(data, size);
    if (in.choice & 0x80) {
        layouts(in.rest);
        return 0;
    }
    static constexpr char kLetters[] = "ABDFITWx";
    const int count = 1 + (in.choice & 7);
    QByteArrayView rest(in.rest);
    for (int n = 0; n < count && !rest.isEmpty(); ++n) {
        const char letter = kLetters[static_cast<unsigned char>(rest[0]) % 8];
        const bool asText = static_cast<unsigned char>(rest[0]) & 0x40;
        rest = rest.sliced(1);
        const std::string_view format(&letter, 1);
        UnpackResult r;
        switch (letter) {
            case 'A':
                if (asText) {
                    QString s;
                    r = UnpackRecord(rest, format, {&s});
                } else {
                    QByteArray s;
                    if ((r = UnpackRecord(rest, format, {&s})).ok()) {
                        roundTrip(letter, s);
                    }
                }
                break;
            case 'B': {
                std::uint8_t v = 0;
                if ((r = UnpackRecord(rest, format, {&v})).ok()) {
                    roundTrip(letter, v);
                }
                break;
            }
            case 'D':
            case 'T': {
                double v = 0;
                QByteArray bytes;
                if (asText && letter == 'T') {
                    r = UnpackRecord(rest, format, {&bytes});
                    FUZZ_CHECK(!r.ok() || bytes.size() == 8);
                } else if ((r = UnpackRecord(rest, format, {&v})).ok()) {
                    roundTrip(letter, v);
                }
                break;
            }
            case 'F': {
                float v = 0;
                if ((r = UnpackRecord(rest, format, {&v})).ok()) {
                    roundTrip(letter, v);
                }
                break;
            }
            case 'I': {
                std::int32_t v = 0;
                if ((r = UnpackRecord(rest, format, {&v})).ok()) {
                    roundTrip(letter, v);
                }
                break;
            }
            case 'W': {
                std::uint16_t v = 0;
                if ((r = UnpackRecord(rest, format, {&v})).ok()) {
                    roundTrip(letter, v);
                }
                break;
            }
            default: {
                std::int32_t v = 0;
                r = UnpackRecord(rest, format, {&v});
                FUZZ_CHECK(r.formatErrors == 1 && r.consumed == 0);
                break;
            }
        }
        FUZZ_CHECK(r.consumed >= 0 && r.consumed <= rest.size());
        if (!r.ok()) {
            break;
        }
        rest = rest.sliced(r.consumed);
    }
    return 0;
}
