#include "ui/mdibar.h"

#include <QEvent>
#include <QIcon>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPixmap>
#include <QTimer>

namespace mr {

MdiBar::MdiBar(QMdiArea* area, QWidget* parent) : QTabBar(parent), m_area(area) {
    setObjectName(QStringLiteral("MDIBar1"));
    setDocumentMode(true);
    setDrawBase(false);
    setExpanding(false);
    setTabsClosable(true);
    setElideMode(Qt::ElideRight);
    setUsesScrollButtons(true);
    setIconSize(QSize(16, 16));
    // As tall from the start as with its tabs, so that the child area above keeps its height
    // when the first window opens and after the last one closes.
    addTab(QIcon(QPixmap(iconSize())), QStringLiteral("X"));
    setMinimumHeight(sizeHint().height());
    removeTab(0);

    connect(m_area, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow* window) {
        if (window) {
            watch(window);
        }
        sync();
    });
    connect(this, &QTabBar::tabBarClicked, this, [this](int index) {
        if (QMdiSubWindow* window = windowAt(index)) {
            if (window->isMinimized()) {
                window->showNormal();
            }
            m_area->setActiveSubWindow(window);
        }
    });
    connect(this, &QTabBar::tabCloseRequested, this, [this](int index) {
        if (QMdiSubWindow* window = windowAt(index)) {
            window->close();
        }
    });
}

QMdiSubWindow* MdiBar::windowAt(int index) const {
    return qobject_cast<QMdiSubWindow*>(tabData(index).value<QObject*>());
}

bool MdiBar::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::WindowTitleChange:
        case QEvent::WindowIconChange:
        case QEvent::ShowToParent:
        case QEvent::HideToParent:
            scheduleSync();
            break;
        default:
            break;
    }
    return QTabBar::eventFilter(watched, event);
}

void MdiBar::watch(QMdiSubWindow* window) {
    if (window->property("mr_mdibar_watched").toBool()) {
        return;
    }
    window->setProperty("mr_mdibar_watched", true);
    window->installEventFilter(this);
    connect(window, &QObject::destroyed, this, &MdiBar::scheduleSync);
}

void MdiBar::scheduleSync() {
    // A window being destroyed is still listed by the area; look again once it is gone.
    if (m_syncPending) {
        return;
    }
    m_syncPending = true;
    QTimer::singleShot(0, this, [this] {
        m_syncPending = false;
        sync();
    });
}

void MdiBar::sync() {
    if (m_syncing) {
        return;
    }
    m_syncing = true;
    QList<QMdiSubWindow*> windows;
    for (QMdiSubWindow* window : m_area->subWindowList(QMdiArea::CreationOrder)) {
        watch(window);
        if (!window->isHidden()) {
            windows.append(window);
        }
    }
    while (count() > windows.size()) {
        removeTab(count() - 1);
    }
    for (qsizetype i = 0; i < windows.size(); ++i) {
        QMdiSubWindow* window = windows.at(i);
        const int index = static_cast<int>(i);
        if (index >= count()) {
            addTab(QString());
        }
        setTabText(index, window->windowTitle());
        setTabIcon(index, window->windowIcon());
        setTabToolTip(index, window->windowTitle());
        setTabData(index, QVariant::fromValue(static_cast<QObject*>(window)));
    }
    const int active = static_cast<int>(windows.indexOf(m_area->activeSubWindow()));
    if (active >= 0) {
        setCurrentIndex(active);
    }
    m_syncing = false;
}

}  // namespace mr
