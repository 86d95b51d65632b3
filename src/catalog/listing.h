#pragma once

#include "catalog/fileitem.h"

#include <QByteArrayView>
#include <QString>

#include <memory>
#include <vector>

namespace mr {

// A folder listing reply ("F"): entries, each a tag byte and, for the tag 'F', one record of
// layout "IITWBAAA": owner id, size (-1 folder), date (8 raw bytes of a date-time), reserved,
// password flag, folder path, name, description. Other tags are one byte each and skipped;
// a record cut short ends the listing; an entry without a usable name is dropped.
std::vector<std::unique_ptr<TRemoteFileItem>> parseListing(QByteArrayView reply,
                                                           const QString& userName);

// "/" + the folder path of a listing record as it stands, ending in "/".
QString listingFolderPath(const QString& folder);

}  // namespace mr
