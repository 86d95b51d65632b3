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
// a record cut short ends the listing; an entry without a usable name is dropped. asked is the
// folder the listing was asked for, without its leading "/". A folder path is read without
// the blanks around it, which a service may pad its texts with; one that is the folder asked
// for but for those blanks is that folder as asked, so a name that begins or ends with a
// blank still receives its entries.
std::vector<std::unique_ptr<TRemoteFileItem>> parseListing(QByteArrayView reply,
                                                           const QString& userName,
                                                           const QString& asked = QString());

}  // namespace mr
