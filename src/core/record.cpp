#include "core/record.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <type_traits>

namespace mr {

namespace {

template <typename T>
void appendLittleEndian(QByteArray& out, T value) {
    static_assert(std::is_trivially_copyable_v<T>);
    unsigned char raw[sizeof(T)];
    std::memcpy(raw, &value, sizeof(T));
    if constexpr (std::endian::native == std::endian::big) {
        std::reverse(std::begin(raw), std::end(raw));
    }
    out.append(reinterpret_cast<const char*>(raw), sizeof(T));
}

template <typename T>
T readLittleEndian(const char* p) {
    unsigned char raw[sizeof(T)];
    std::memcpy(raw, p, sizeof(T));
    if constexpr (std::endian::native == std::endian::big) {
        std::reverse(std::begin(raw), std::end(raw));
    }
    T value;
    std::memcpy(&value, raw, sizeof(T));
    return value;
}

const std::int64_t* asInteger(const PackValue& v) {
    return std::get_if<std::int64_t>(&v.value());
}

bool asNumber(const PackValue& v, double& out) {
    if (const auto* d = std::get_if<double>(&v.value())) {
        out = *d;
        return true;
    }
    if (const auto* i = asInteger(v)) {
        out = static_cast<double>(*i);
        return true;
    }
    return false;
}

}  // namespace

PackResult PackRecord(std::string_view format, std::initializer_list<PackValue> values) {
    PackResult result;
    auto next = values.begin();
    for (std::size_t pos = 0; pos < format.size(); ++pos) {
        const char letter = format[pos];
        if (std::string_view("ABCDFIW").find(letter) == std::string_view::npos) {
            ++result.formatErrors;
            continue;
        }
        if (next == values.end()) {
            ++result.formatErrors;
            continue;
        }
        const PackValue& value = *next++;
        double number = 0;
        switch (letter) {
            case 'A':
                if (const auto* text = std::get_if<QByteArray>(&value.value())) {
                    result.bytes.append(*text);
                    result.bytes.append('\0');
                } else if (std::holds_alternative<PackValue::Absent>(value.value())) {
                    result.bytes.append('\0');
                } else {
                    ++result.formatErrors;
                }
                break;
            case 'B':
            case 'W':
            case 'I':
                if (const auto* i = asInteger(value)) {
                    if (letter == 'B') {
                        appendLittleEndian(result.bytes, static_cast<std::uint8_t>(*i));
                    } else if (letter == 'W') {
                        appendLittleEndian(result.bytes, static_cast<std::uint16_t>(*i));
                    } else {
                        appendLittleEndian(result.bytes, static_cast<std::uint32_t>(*i));
                    }
                } else {
                    ++result.formatErrors;
                }
                break;
            case 'C':
                if (const auto* c = std::get_if<PackValue::Counted>(&value.value())) {
                    result.bytes.append(c->bytes);
                } else {
                    ++result.formatErrors;
                }
                // The letter after C names the length the bytes carry with them.
                ++pos;
                break;
            case 'D':
                if (asNumber(value, number)) {
                    appendLittleEndian(result.bytes, number);
                } else {
                    ++result.formatErrors;
                }
                break;
            case 'F':
                if (asNumber(value, number)) {
                    appendLittleEndian(result.bytes, static_cast<float>(number));
                } else {
                    ++result.formatErrors;
                }
                break;
        }
    }
    if (next != values.end()) {
        result.formatErrors += static_cast<int>(values.end() - next);
    }
    return result;
}

namespace {

// Stores a fixed-size field into a destination of the matching kind; null skips the field.
template <typename T>
bool storeFixed(const UnpackTarget& target, const char* p) {
    if (const auto* dest = std::get_if<T*>(&target)) {
        if (*dest) {
            **dest = readLittleEndian<T>(p);
        }
        return true;
    }
    return false;
}

}  // namespace

UnpackResult UnpackRecord(QByteArrayView record, std::string_view format,
                          std::initializer_list<UnpackTarget> targets) {
    UnpackResult result;
    auto next = targets.begin();
    const char* data = record.data();
    const qsizetype size = record.size();
    qsizetype offset = 0;
    for (char letter : format) {
        int width = 0;
        switch (letter) {
            case 'A':
                break;
            case 'B':
                width = 1;
                break;
            case 'W':
                width = 2;
                break;
            case 'F':
            case 'I':
                width = 4;
                break;
            case 'D':
            case 'T':
                width = 8;
                break;
            default:
                ++result.formatErrors;
                continue;
        }
        if (next == targets.end()) {
            ++result.formatErrors;
            break;
        }
        const UnpackTarget& target = *next;
        bool stored = false;
        if (letter == 'A') {
            // An empty record may have no storage at all, and memchr must not see a null.
            const void* zero =
                offset < size ? std::memchr(data + offset, 0, static_cast<size_t>(size - offset))
                              : nullptr;
            if (!zero) {
                result.truncated = true;
                break;
            }
            const qsizetype length = static_cast<const char*>(zero) - (data + offset);
            if (const auto* dest = std::get_if<QByteArray*>(&target)) {
                if (*dest) {
                    **dest = QByteArray(data + offset, length);
                }
                stored = true;
            } else if (const auto* text = std::get_if<QString*>(&target)) {
                if (*text) {
                    **text = QString::fromUtf8(data + offset, length);
                }
                stored = true;
            }
            width = static_cast<int>(length + 1);
        } else {
            if (size - offset < width) {
                result.truncated = true;
                break;
            }
            const char* p = data + offset;
            switch (letter) {
                case 'B':
                    stored = storeFixed<std::uint8_t>(target, p);
                    break;
                case 'W':
                    stored = storeFixed<std::uint16_t>(target, p);
                    break;
                case 'F':
                    stored = storeFixed<float>(target, p);
                    break;
                case 'I':
                    stored = storeFixed<std::int32_t>(target, p);
                    break;
                case 'D':
                    stored = storeFixed<double>(target, p);
                    break;
                case 'T':
                    stored = storeFixed<double>(target, p);
                    if (const auto* raw = std::get_if<QByteArray*>(&target)) {
                        if (*raw) {
                            **raw = QByteArray(p, 8);
                        }
                        stored = true;
                    }
                    break;
            }
        }
        ++next;
        offset += width;
        if (stored) {
            ++result.fieldsRead;
        } else {
            ++result.formatErrors;
        }
    }
    result.consumed = static_cast<int>(offset);
    return result;
}

}  // namespace mr
