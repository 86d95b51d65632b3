#pragma once

#include "core/datetime.h"

#include <QString>

#include <cstdint>
#include <memory>

namespace mr {

// "Path" made ready for a name to be appended: "/" added unless present; empty becomes "/".
QString withTrailingSlash(const QString& path);

// The credit ratio of an entry, as the share-properties dialog sets it.
struct TFileRatio {
    TFileRatio() = default;
    TFileRatio(qint32 upload, qint32 download, char style, bool enabled = true)
        : enabled(enabled), upload(upload), download(download), style(style) {}

    bool enabled = false;
    qint32 upload = 0;
    qint32 download = 0;
    char style = 'b';  // 'b' for the style box's first entry, 'f' otherwise
};

// One entry of a catalog: its name and the virtual path of its folder, kept apart.
class TFileItem {
public:
    TFileItem(const QString& name, const QString& path);
    TFileItem(const TFileItem& other);
    TFileItem& operator=(const TFileItem& other);
    virtual ~TFileItem();

    // A copy of the same dynamic type.
    virtual std::unique_ptr<TFileItem> clone() const;

    // Path followed by Name.
    QString fullPath() const { return Path + Name; }
    bool isFolder() const { return size == -1; }

    QString Name;
    QString Path;
    qint32 size = -1;  // -1 marks a folder
    DateTime date = 0;
    QString media;
    std::unique_ptr<TFileRatio> ratio;
    QString description;
    QString password;
    bool passwordFlag = false;
    bool friendsOnly = false;
};

// An entry of the user's own catalog, with the local file or folder it publishes.
class TLocalFileItem : public TFileItem {
public:
    using TFileItem::TFileItem;
    std::unique_ptr<TFileItem> clone() const override;

    QString fileName;  // the FileName column; empty for virtual folders
};

// An entry of another user's catalog, from a listing or a search.
class TRemoteFileItem : public TFileItem {
public:
    TRemoteFileItem(const QString& name, const QString& path, const QString& userName);
    std::unique_ptr<TFileItem> clone() const override;

    QString userName;
    qint32 userId = 0;
    // Filled by the file search for its results.
    QString address;
    std::uint16_t infoPort = 0;
    std::uint16_t fileServerPort = 0;
    std::uint8_t lineSpeed = 0;
    bool online = false;
};

}  // namespace mr
