#pragma once

#include "catalog/fileitem.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace mr {

class TMRWantedList;
class TPasswordCache;

// The criteria of a file search ("S"), in the order they are packed.
struct FileSearchCriteria {
    QString namePattern;
    QString descriptionPattern;
    qint32 minSize = -2;
    qint32 maxSize = -2;
    QString extensions;
    std::uint8_t onlineOnly = 0;
    std::uint8_t maxResults = 100;
    std::uint8_t minLineSpeed = 0;
};

// The request body, layout "AAIIABBB".
QByteArray FileSearchBody(const FileSearchCriteria& criteria);

// The media entries of the search window ("MP3" ... "All") and the extension list each sends.
const QStringList& MediaTypeNames();
inline constexpr int kMediaAll = 6;
// Colon-separated extensions, "%" for "All" and for an index past the list.
QString MediaTypeExtensions(int index);
// The minimum-speed entries, "Never Mind " first.
const QStringList& MinLineNames();

// What the search window's controls hold when a search starts.
struct FileSearchForm {
    QString name;
    int mediaType = kMediaAll;
    bool showOffline = false;
    bool advanced = false;
    QString description;
    QString minKb;
    QString maxKb;
    int minLine = 0;
    QString filter;
};

// The criteria a form asks for, or why there are none.
struct FileSearchRequest {
    std::optional<FileSearchCriteria> criteria;
    QString error;  // a size that is not a whole number
};
// Patterns get "%" around the name and after the description, and "*" becomes "%"; sizes are
// kilobytes of 1000 bytes and count only with the advanced panel and a minimum.
FileSearchRequest BuildFileSearch(const FileSearchForm& form);

// Reads the reply's records, "IITWBAAAAAWWBB" each, until the data is used up. A record that
// is cut short ends the reading; the records before it are kept.
std::vector<TRemoteFileItem> ParseFileSearchReply(QByteArrayView data);

// "Dir" for a folder, else whole kilobytes of 1000 bytes and "KB" (999 bytes give "0KB").
QString ResultSizeText(qint32 size);
// "Online" or "Offline".
QString ResultStatusText(bool online);
// The owner's path of a found file, its folder and name joined by one "/" ("Music/a.mp3"); the
// download asks for it with a "/" in front.
QString ResultRemotePath(const TRemoteFileItem& result);

// What a download from the result list came to.
enum class SearchDownload {
    Queued,
    Folder,         // folders are not downloaded from a search
    OwnFile,        // the user's own file
    AlreadyQueued,  // that owner's file is in the queue and not ended
    NoPassword,     // a protected file whose password the user did not give
};
// Queues a found file, asking the password cache for a protected one. showTransfers runs
// just before the item is queued, so that the transfer window shows it.
SearchDownload DownloadSearchResult(const TRemoteFileItem& result, TMRWantedList& wanted,
                                    qint32 ownId, TPasswordCache& passwords,
                                    const std::function<void()>& showTransfers = {});

}  // namespace mr
