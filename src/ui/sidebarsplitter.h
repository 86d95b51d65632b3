#pragma once

#include <QWidget>

namespace mr {

// The bar between the side bar and the child windows. Near its middle it is a button with a
// hand cursor that hides or shows the side bar; elsewhere dragging it resizes the side bar.
class SideBarSplitter : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 8;
    static constexpr int kToggleHalfHeight = 16;
    static constexpr int kMinSideBarWidth = 120;

    explicit SideBarSplitter(QWidget* sideBar, QWidget* parent = nullptr);

    // True where a click toggles instead of resizing.
    static bool inToggleZone(int y, int height);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateCursor(int y);

    QWidget* m_sideBar;
    bool m_togglePressed = false;
    bool m_dragging = false;
    int m_dragStartX = 0;
    int m_dragStartWidth = 0;
};

}  // namespace mr
