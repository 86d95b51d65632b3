#include "ui/fileicons.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QStyle>
#include <QThread>

namespace mr {

namespace {

FileIcons* g_icons = nullptr;

}  // namespace

FileIcons::FileIcons() = default;

bool FileIcons::onGuiThread() {
    return qApp && QThread::currentThread() == qApp->thread();
}

int FileIcons::indexOf(const QString& key, const QIcon& icon) {
    if (const auto it = m_byKey.constFind(key); it != m_byKey.constEnd())
        return it.value();
    m_icons.append(icon);
    const int index = static_cast<int>(m_icons.size()) - 1;
    m_byKey.insert(key, index);
    return index;
}

int FileIcons::iconIndexForName(const QString& name, bool selected) {
    if (!onGuiThread())
        return -1;
    if (name == u".") {
        if (selected)
            return indexOf(QStringLiteral("folder:open"),
                           QApplication::style()->standardIcon(QStyle::SP_DirOpenIcon));
        return indexOf(QStringLiteral("folder"), m_provider.icon(QFileIconProvider::Folder));
    }
    // The provider matches a name it cannot find on disk by its extension.
    const QString suffix = QFileInfo(name).suffix().toLower();
    if (const auto it = m_byKey.constFind(QStringLiteral("ext:") + suffix);
        it != m_byKey.constEnd())
        return it.value();
    QIcon icon =
        m_provider.icon(QFileInfo(QDir::root().filePath(QStringLiteral("nonexistent.") + suffix)));
    if (icon.isNull())
        icon = m_provider.icon(QFileIconProvider::File);
    return indexOf(QStringLiteral("ext:") + suffix, icon);
}

int FileIcons::iconIndexForPath(const QString& path, bool selected) {
    if (!onGuiThread() || path.isEmpty())
        return -1;
    const QFileInfo info(path);
    if (path == u"/")
        return indexOf(QStringLiteral("drive"), m_provider.icon(QFileIconProvider::Drive));
    if (QDir::cleanPath(path) == QDir::homePath())
        return indexOf(QStringLiteral("home"),
                       QApplication::style()->standardIcon(QStyle::SP_DirHomeIcon));
    if (info.isDir())
        return iconIndexForName(QStringLiteral("."), selected);
    // Files of one type share an icon; the real file still decides it the first time.
    const QString key = QStringLiteral("ext:") + info.suffix().toLower();
    if (const auto it = m_byKey.constFind(key); it != m_byKey.constEnd())
        return it.value();
    QIcon icon = m_provider.icon(info);
    if (icon.isNull())
        icon = m_provider.icon(QFileIconProvider::File);
    return indexOf(key, icon);
}

QIcon FileIcons::icon(int index) const {
    return index >= 0 && index < m_icons.size() ? m_icons.at(index) : QIcon();
}

FileIconSource& installFileIcons() {
    if (!fileIconSource()) {
        // Lives for the run: nodes keep the indexes it handed out.
        if (!g_icons)
            g_icons = new FileIcons;
        setFileIconSource(g_icons);
    }
    return *fileIconSource();
}

QIcon nodeIcon(TFileNode* node, bool selected) {
    if (!node || !g_icons || fileIconSource() != g_icons)
        return {};
    return g_icons->icon(selected ? node->selectedImageIndex() : node->imageIndex());
}

}  // namespace mr
