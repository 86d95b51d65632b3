#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <variant>

namespace mr {

// One value handed to PackRecord. A default-constructed value is an absent text.
class PackValue {
public:
    struct Absent {};
    struct Counted {
        QByteArray bytes;
    };

    PackValue() : m_value(Absent{}) {}
    PackValue(std::nullptr_t) : m_value(Absent{}) {}
    PackValue(const char* text) : m_value(text ? QByteArray(text) : QByteArray()) {}
    PackValue(const QByteArray& text) : m_value(text) {}
    PackValue(const QString& text) : m_value(text.toUtf8()) {}
    PackValue(int v) : m_value(static_cast<std::int64_t>(v)) {}
    PackValue(unsigned v) : m_value(static_cast<std::int64_t>(v)) {}
    PackValue(long v) : m_value(static_cast<std::int64_t>(v)) {}
    PackValue(long long v) : m_value(static_cast<std::int64_t>(v)) {}
    PackValue(unsigned long v) : m_value(static_cast<std::int64_t>(v)) {}
    PackValue(unsigned long long v) : m_value(static_cast<std::int64_t>(v)) {}
    PackValue(double v) : m_value(v) {}
    PackValue(float v) : m_value(static_cast<double>(v)) {}
    // The counted bytes of a "C" field.
    static PackValue counted(const QByteArray& bytes) {
        PackValue v;
        v.m_value = Counted{bytes};
        return v;
    }

    const auto& value() const { return m_value; }

private:
    std::variant<Absent, QByteArray, std::int64_t, double, Counted> m_value;
};

struct PackResult {
    QByteArray bytes;
    int formatErrors = 0;  // wrong letters, values of the wrong kind, or values missing
    bool ok() const { return formatErrors == 0; }
};

// Builds a record from format letters, little-endian and unpadded:
// A text + NUL, B low byte, C counted bytes (the next letter is skipped), D 8-byte double,
// F 4-byte float, I 32-bit integer, W low 16 bits. Any other letter appends nothing.
PackResult PackRecord(std::string_view format, std::initializer_list<PackValue> values);

// Where UnpackRecord stores one field. The raw 8 bytes of a "T" field go to a double or a
// QByteArray; an "A" field goes to a QByteArray (raw) or a QString (UTF-8).
using UnpackTarget = std::variant<QByteArray*, QString*, std::uint8_t*, double*, float*,
                                  std::int32_t*, std::uint16_t*>;

struct UnpackResult {
    int consumed = 0;        // bytes read from the record
    int fieldsRead = 0;      // destinations filled
    int formatErrors = 0;    // wrong letters or destinations of the wrong kind
    bool truncated = false;  // the record ended before the format did
    bool ok() const { return formatErrors == 0 && !truncated; }
};

// Reads a record by format letters (A B D F I T W). Never reads past the end of the record:
// at the first field that does not fit it stops, leaving the remaining destinations unchanged.
UnpackResult UnpackRecord(QByteArrayView record, std::string_view format,
                          std::initializer_list<UnpackTarget> targets);

}  // namespace mr
