#include "ui/fileicons.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QStyle>
#include <QThread>

namespace mr {

namespace {

FileIcons* g_icons = nullptr;

// Lives for the run: nodes keep the indexes it handed out.
FileIcons& programIcons() {
    if (!g_icons)
        g_icons = new FileIcons;
    return *g_icons;
}

// Nodes are drawn at 16 pixels (lists, tree) and 32 (large icons). A style's icon also holds a
// 128-pixel image, decoded when the icon is made, that no explorer ever draws.
QIcon atDrawnSizes(const QIcon& icon) {
    if (icon.isNull())
        return icon;
    const qreal ratio = qGuiApp->devicePixelRatio();
    QIcon drawn;
    for (const int side : {16, 32})
        drawn.addPixmap(icon.pixmap(QSize(side, side), ratio));
    return drawn;
}

}  // namespace

FileIcons::FileIcons() = default;

bool FileIcons::onGuiThread() {
    return qApp && QThread::currentThread() == qApp->thread();
}

int FileIcons::indexOf(const QString& key,
                       const std::function<QIcon(const QFileIconProvider&)>& make) {
    if (const auto it = m_byKey.constFind(key); it != m_byKey.constEnd())
        return it.value();
    // A provider for this icon only: one kept for the run would hold every size of each style
    // icon it handed out, the 128-pixel images among them.
    const QFileIconProvider provider;
    m_icons.append(atDrawnSizes(make(provider)));
    const int index = static_cast<int>(m_icons.size()) - 1;
    m_byKey.insert(key, index);
    return index;
}

int FileIcons::iconIndexForName(const QString& name, bool selected) {
    if (!onGuiThread())
        return -1;
    if (name == u".") {
        if (selected)
            return indexOf(QStringLiteral("folder:open"), [](const QFileIconProvider&) {
                return QApplication::style()->standardIcon(QStyle::SP_DirOpenIcon);
            });
        return indexOf(QStringLiteral("folder"), [](const QFileIconProvider& p) {
            return p.icon(QFileIconProvider::Folder);
        });
    }
    // The provider matches a name it cannot find on disk by its extension.
    const QString suffix = QFileInfo(name).suffix().toLower();
    return indexOf(QStringLiteral("ext:") + suffix, [&suffix](const QFileIconProvider& p) {
        const QIcon icon =
            p.icon(QFileInfo(QDir::root().filePath(QStringLiteral("nonexistent.") + suffix)));
        return icon.isNull() ? p.icon(QFileIconProvider::File) : icon;
    });
}

int FileIcons::iconIndexForPath(const QString& path, bool selected) {
    if (!onGuiThread() || path.isEmpty())
        return -1;
    const QFileInfo info(path);
    if (path == u"/")
        return indexOf(QStringLiteral("drive"),
                       [](const QFileIconProvider& p) { return p.icon(QFileIconProvider::Drive); });
    if (QDir::cleanPath(path) == QDir::homePath())
        return indexOf(QStringLiteral("home"), [](const QFileIconProvider&) {
            return QApplication::style()->standardIcon(QStyle::SP_DirHomeIcon);
        });
    if (info.isDir())
        return iconIndexForName(QStringLiteral("."), selected);
    // Files of one type share an icon; the real file still decides it the first time.
    return indexOf(QStringLiteral("ext:") + info.suffix().toLower(),
                   [&info](const QFileIconProvider& p) {
                       const QIcon icon = p.icon(info);
                       return icon.isNull() ? p.icon(QFileIconProvider::File) : icon;
                   });
}

QIcon FileIcons::icon(int index) const {
    return index >= 0 && index < m_icons.size() ? m_icons.at(index) : QIcon();
}

QIcon FileIcons::genericIcon(bool folder) {
    FileIcons& icons = programIcons();
    return icons.icon(folder
                          ? icons.indexOf(QStringLiteral("folder"),
                                          [](const QFileIconProvider& p) {
                                              return p.icon(QFileIconProvider::Folder);
                                          })
                          : icons.indexOf(QStringLiteral("file"), [](const QFileIconProvider& p) {
                                return p.icon(QFileIconProvider::File);
                            }));
}

FileIconSource& installFileIcons() {
    if (!fileIconSource())
        setFileIconSource(&programIcons());
    return *fileIconSource();
}

QIcon nodeIcon(TFileNode* node, bool selected) {
    if (!node || !g_icons || fileIconSource() != g_icons)
        return {};
    return g_icons->icon(selected ? node->selectedImageIndex() : node->imageIndex());
}

}  // namespace mr
