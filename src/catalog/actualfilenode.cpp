#include "catalog/actualfilenode.h"

#include "core/datetime.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <limits>
#include <vector>

namespace mr {

namespace {

// The catalog's sizes are 32-bit and -1 means a folder: larger files read as the largest size.
qint32 catalogSize(off_t size) {
    if (size > std::numeric_limits<qint32>::max())
        return std::numeric_limits<qint32>::max();
    return static_cast<qint32>(size);
}

// What a folder listing keeps of an entry's stat.
struct EntryStat {
    off_t size;
    timespec mtime;
    bool folder;
};

EntryStat entryStat(const struct stat& st) {
    return {st.st_size, st.st_mtim, S_ISDIR(st.st_mode)};
}

std::unique_ptr<TFileItem> itemFor(const QString& name, const QString& dirPart,
                                   const EntryStat& st) {
    auto item = std::make_unique<TFileItem>(name, dirPart);
    item->size = st.folder ? -1 : catalogSize(st.size);
    const qint64 ms = static_cast<qint64>(st.mtime.tv_sec) * 1000 + st.mtime.tv_nsec / 1000000;
    item->date = toDateTimeFromEpochMs(ms);
    return item;
}

}  // namespace

TActualFileNode::TActualFileNode()
    : TFileNode(nullptr, std::make_unique<TFileItem>(QString(), QString()), true) {}

TActualFileNode::TActualFileNode(TFileNode* parent, const QString& fsPath, bool folder, bool link,
                                 std::unique_ptr<TFileItem> item)
    : TFileNode(parent, std::move(item), folder), m_dirPart(fsPath), m_link(link) {}

TActualFileNode::TActualFileNode(TFileNode* parent, const QString& dirPart, const QString& name,
                                 bool folder, bool link, std::unique_ptr<TFileItem> item)
    : TFileNode(parent, std::move(item), folder), m_dirPart(dirPart), m_name(name), m_link(link) {}

std::unique_ptr<TActualFileNode> TActualFileNode::fromPath(const QString& path) {
    return entryAt(nullptr, path);
}

std::unique_ptr<TActualFileNode> TActualFileNode::entryAt(TFileNode* parent, const QString& path) {
    const QString clean = QDir::cleanPath(QDir(path).absolutePath());
    const QByteArray native = QFile::encodeName(clean);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0 || !(S_ISDIR(st.st_mode) || S_ISREG(st.st_mode)))
        return nullptr;
    const bool folder = S_ISDIR(st.st_mode);
    const qsizetype slash = clean.lastIndexOf(u'/');
    const QString name = clean.mid(slash + 1);
    const QString dirPart = clean.left(slash + 1);
    return std::make_unique<TActualFileNode>(parent, clean, folder, false,
                                             itemFor(name, dirPart, entryStat(st)));
}

int TActualFileNode::imageIndex() {
    if (m_imageIndex < 0 && fileIconSource())
        m_imageIndex = fileIconSource()->iconIndexForPath(fsPath(), false);
    return m_imageIndex;
}

int TActualFileNode::selectedImageIndex() {
    if (m_selectedImageIndex < 0 && fileIconSource())
        m_selectedImageIndex = fileIconSource()->iconIndexForPath(fsPath(), true);
    return m_selectedImageIndex;
}

void TActualFileNode::sortNodes(TFileNodes& nodes) {
    nodes.sort([](const TFileNode* a, const TFileNode* b) {
        if (a->isFolder() != b->isFolder())
            return a->isFolder();
        return a->localPath().compare(b->localPath(), Qt::CaseInsensitive) < 0;
    });
}

void TActualFileNode::createChildren(TFileNodes& list) {
    if (!parent() && m_dirPart.isEmpty() && m_name.isEmpty()) {
        for (const QString& path : {QDir::homePath(), QStringLiteral("/")}) {
            if (auto node = entryAt(this, path)) {
                if (path == u"/")
                    node->item()->Name = QStringLiteral("/");
                list.add(std::move(node));
            }
        }
        return;
    }
    if (!isFolder())
        return;
    const QString path = fsPath();
    const QByteArray native = QFile::encodeName(path);
    const int dirFd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return;
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return;
    }
    const QString dirPart = withTrailingSlash(path);
    // Every entry's path is dirPart + name, so names order the entries as their paths do.
    struct Entry {
        QString name;
        EntryStat st;
        bool link;
    };
    std::vector<Entry> entries;
    while (const dirent* entry = ::readdir(dir)) {
        const char* n = entry->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))
            continue;
        struct stat st {};
        if (::fstatat(dirFd, n, &st, 0) != 0)
            continue;
        const bool folder = S_ISDIR(st.st_mode);
        if (!folder && !S_ISREG(st.st_mode))
            continue;
        bool link = entry->d_type == DT_LNK;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat own {};
            link = ::fstatat(dirFd, n, &own, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(own.st_mode);
        }
        entries.push_back({QFile::decodeName(n), entryStat(st), link});
    }
    ::closedir(dir);
    const auto less = [](const Entry& a, const Entry& b) {
        if (a.st.folder != b.st.folder)
            return a.st.folder;
        return a.name.compare(b.name, Qt::CaseInsensitive) < 0;
    };
    // The same stable order as sortNodes gives the finished list.
    if (TFileNodes::sortAscending())
        std::stable_sort(entries.begin(), entries.end(), less);
    else
        std::stable_sort(entries.begin(), entries.end(),
                         [&](const Entry& a, const Entry& b) { return less(b, a); });
    // The file times below use the zone of the last tzset(): once per folder, not per file.
    ::tzset();
    for (const Entry& e : entries) {
        list.add(std::unique_ptr<TActualFileNode>(new TActualFileNode(
            this, dirPart, e.name, e.st.folder, e.link, itemFor(e.name, dirPart, e.st))));
    }
}

}  // namespace mr
