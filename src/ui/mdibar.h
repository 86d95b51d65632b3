#pragma once

#include <QPointer>
#include <QTabBar>

class QMdiArea;
class QMdiSubWindow;

namespace mr {

// One tab per open child window, in the order they were opened; the active window's tab is
// current, a click activates a window and a tab's close button closes it.
class MdiBar : public QTabBar {
    Q_OBJECT
public:
    explicit MdiBar(QMdiArea* area, QWidget* parent = nullptr);

    QMdiSubWindow* windowAt(int index) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void scheduleSync();
    void sync();
    void watch(QMdiSubWindow* window);

    QMdiArea* m_area;
    bool m_syncPending = false;
    bool m_syncing = false;
};

}  // namespace mr
