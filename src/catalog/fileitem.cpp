#include "catalog/fileitem.h"

namespace mr {

QString withTrailingSlash(const QString& path) {
    if (path.endsWith(u'/'))
        return path;
    return path + u'/';
}

TFileItem::TFileItem(const QString& name, const QString& path) : Name(name), Path(path) {}

TFileItem::TFileItem(const TFileItem& other)
    : Name(other.Name),
      Path(other.Path),
      size(other.size),
      date(other.date),
      media(other.media),
      ratio(other.ratio ? std::make_unique<TFileRatio>(*other.ratio) : nullptr),
      description(other.description),
      password(other.password),
      passwordFlag(other.passwordFlag),
      friendsOnly(other.friendsOnly) {}

TFileItem& TFileItem::operator=(const TFileItem& other) {
    if (this != &other) {
        Name = other.Name;
        Path = other.Path;
        size = other.size;
        date = other.date;
        media = other.media;
        ratio = other.ratio ? std::make_unique<TFileRatio>(*other.ratio) : nullptr;
        description = other.description;
        password = other.password;
        passwordFlag = other.passwordFlag;
        friendsOnly = other.friendsOnly;
    }
    return *this;
}

TFileItem::~TFileItem() = default;

std::unique_ptr<TFileItem> TFileItem::clone() const {
    return std::make_unique<TFileItem>(*this);
}

std::unique_ptr<TFileItem> TLocalFileItem::clone() const {
    return std::make_unique<TLocalFileItem>(*this);
}

TRemoteFileItem::TRemoteFileItem(const QString& name, const QString& path, const QString& user)
    : TFileItem(name, path), userName(user) {}

std::unique_ptr<TFileItem> TRemoteFileItem::clone() const {
    return std::make_unique<TRemoteFileItem>(*this);
}

}  // namespace mr
