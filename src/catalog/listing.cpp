#include "catalog/listing.h"

#include "core/record.h"

namespace mr {

std::vector<std::unique_ptr<TRemoteFileItem>> parseListing(QByteArrayView reply,
                                                           const QString& userName,
                                                           const QString& asked) {
    std::vector<std::unique_ptr<TRemoteFileItem>> items;
    const QString askedTrimmed = withTrailingSlash(u'/' + asked.trimmed());
    const QString askedPath = withTrailingSlash(u'/' + asked);
    qsizetype pos = 0;
    while (pos < reply.size()) {
        const char tag = reply[pos++];
        if (tag != 'F')
            continue;
        std::int32_t owner = 0;
        std::int32_t size = 0;
        double date = 0;
        std::uint16_t reserved = 0;
        std::uint8_t passwordFlag = 0;
        QString folder;
        QString name;
        QString description;
        const UnpackResult r = UnpackRecord(
            reply.sliced(pos), "IITWBAAA",
            {&owner, &size, &date, &reserved, &passwordFlag, &folder, &name, &description});
        if (!r.ok())
            break;
        pos += r.consumed;
        if (name.isEmpty() || name.contains(u'/'))
            continue;
        QString path = withTrailingSlash(u'/' + folder.trimmed());
        if (path == askedTrimmed)
            path = askedPath;
        auto item = std::make_unique<TRemoteFileItem>(name, path, userName);
        item->userId = owner;
        item->size = size;
        item->date = date;
        item->passwordFlag = passwordFlag != 0;
        item->description = description;
        items.push_back(std::move(item));
    }
    return items;
}

}  // namespace mr
