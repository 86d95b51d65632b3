// SplitFields over arbitrary lines, as bytes and as text; the fields, encoded and joined by
// blanks, must split into the same fields again.
#include "core/fields.h"
#include "fuzz.h"

using namespace mr;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray line(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QList<QByteArray> fields = SplitFields(line);
    QList<QByteArray> encoded;
    for (const QByteArray& f : fields) {
        encoded.append(EncodeField(f));
    }
    FUZZ_CHECK(SplitFields(encoded.join(' ')) == fields);

    const QStringList texts = SplitFields(QString::fromUtf8(line));
    QStringList encodedTexts;
    for (const QString& t : texts) {
        encodedTexts.append(EncodeField(t));
    }
    FUZZ_CHECK(SplitFields(encodedTexts.join(QLatin1Char(' '))) == texts);
    ParseDecimal(line, -1000000, 1000000, size % 2 == 0);
    return 0;
}
