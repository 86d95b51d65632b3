#include "ui/sidebarsplitter.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cstdlib>

namespace mr {

SideBarSplitter::SideBarSplitter(QWidget* sideBar, QWidget* parent)
    : QWidget(parent), m_sideBar(sideBar) {
    setObjectName(QStringLiteral("splSideBar"));
    setFixedWidth(kWidth);
    setMouseTracking(true);
    setCursor(Qt::SplitHCursor);
    // The arrow follows the side bar whoever hides or shows it.
    m_sideBar->installEventFilter(this);
}

bool SideBarSplitter::inToggleZone(int y, int height) {
    return std::abs(y - height / 2) < kToggleHalfHeight;
}

void SideBarSplitter::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QPalette& pal = palette();
    const QRect r = rect();
    p.fillRect(r, pal.color(QPalette::Button));
    p.setPen(pal.color(QPalette::Light));
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(pal.color(QPalette::Mid));
    p.drawLine(r.topRight(), r.bottomRight());

    // A raised grip around the toggle zone with a triangle pointing where a click moves the
    // side bar.
    const int mid = r.height() / 2;
    const QRect grip(1, mid - kToggleHalfHeight, r.width() - 2, 2 * kToggleHalfHeight);
    p.fillRect(grip, pal.color(QPalette::Midlight));
    p.setPen(pal.color(QPalette::Light));
    p.drawLine(grip.topLeft(), grip.topRight());
    p.drawLine(grip.topLeft(), grip.bottomLeft());
    p.setPen(pal.color(QPalette::Dark));
    p.drawLine(grip.bottomLeft(), grip.bottomRight());
    p.drawLine(grip.topRight(), grip.bottomRight());

    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(pal.color(QPalette::WindowText));
    const qreal cx = r.width() / 2.0;
    const qreal half = 2.5;
    QPolygonF arrow;
    if (m_sideBar->isHidden()) {
        arrow << QPointF(cx - half + 0.5, mid - 4) << QPointF(cx + half + 0.5, mid)
              << QPointF(cx - half + 0.5, mid + 4);
    } else {
        arrow << QPointF(cx + half - 0.5, mid - 4) << QPointF(cx - half - 0.5, mid)
              << QPointF(cx + half - 0.5, mid + 4);
    }
    p.drawPolygon(arrow);
}

void SideBarSplitter::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const int y = static_cast<int>(event->position().y());
    if (inToggleZone(y, height())) {
        m_togglePressed = true;
    } else if (!m_sideBar->isHidden()) {
        m_dragging = true;
        m_dragStartX = static_cast<int>(event->globalPosition().x());
        m_dragStartWidth = m_sideBar->width();
    }
}

void SideBarSplitter::mouseMoveEvent(QMouseEvent* event) {
    updateCursor(static_cast<int>(event->position().y()));
    if (!m_dragging) {
        return;
    }
    const int maxWidth =
        std::max(kMinSideBarWidth, parentWidget() ? parentWidget()->width() / 2 : kMinSideBarWidth);
    const int dx = static_cast<int>(event->globalPosition().x()) - m_dragStartX;
    m_sideBar->setFixedWidth(std::clamp(m_dragStartWidth + dx, kMinSideBarWidth, maxWidth));
}

void SideBarSplitter::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const bool toggle =
        m_togglePressed && inToggleZone(static_cast<int>(event->position().y()), height());
    m_togglePressed = false;
    m_dragging = false;
    if (toggle) {
        m_sideBar->setVisible(m_sideBar->isHidden());
    }
}

bool SideBarSplitter::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_sideBar &&
        (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent)) {
        update();
    }
    return QWidget::eventFilter(watched, event);
}

void SideBarSplitter::updateCursor(int y) {
    setCursor(inToggleZone(y, height()) ? Qt::PointingHandCursor : Qt::SplitHCursor);
}

}  // namespace mr
