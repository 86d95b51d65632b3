// The folder listing reader over an arbitrary reply: every entry it keeps has a plain name,
// a folder path and the listed member.
#include "catalog/listing.h"
#include "fuzz.h"

using namespace mr;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView reply(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString user = QStringLiteral("bob");
    const auto items = parseListing(reply, user);
    // Each entry takes a tag byte, 19 bytes of numbers and three ends of text.
    FUZZ_CHECK(items.size() <= size / 23);
    for (const auto& item : items) {
        FUZZ_CHECK(item && item->userName == user);
        FUZZ_CHECK(!item->Name.isEmpty() && !item->Name.contains(u'/'));
        FUZZ_CHECK(item->Path.startsWith(u'/') && item->Path.endsWith(u'/'));
    }
    return 0;
}
