#include "ui/sidebar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

namespace mr {

DockHeader makeDockHeader(QWidget* panel, const QString& headerName, const QString& closeName) {
    auto* header = new QWidget(panel);
    header->setObjectName(headerName);
    header->setAutoFillBackground(true);
    QPalette headerPalette = header->palette();
    headerPalette.setColor(QPalette::Window, panel->palette().color(QPalette::Mid));
    headerPalette.setColor(QPalette::WindowText, Qt::white);
    header->setPalette(headerPalette);
    auto* title = new QLabel(panel->windowTitle(), header);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    title->setFont(titleFont);
    auto* close = new QToolButton(header);
    close->setObjectName(closeName);
    close->setAutoRaise(true);
    close->setText(QStringLiteral("\u00d7"));
    close->setToolTip(QStringLiteral("Close"));
    close->setFixedSize(18, 18);
    auto* headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(6, 1, 1, 1);
    headerLayout->addWidget(title, 1);
    headerLayout->addWidget(close);
    return {header, close};
}

SideBar::SideBar(QWidget* parent) : QWidget(parent), m_layout(new QVBoxLayout(this)) {
    setObjectName(QStringLiteral("pnlSideBar"));
    setFixedWidth(kDefaultWidth);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(4);
}

void SideBar::dockBottom(QWidget* window) {
    m_bottom = window;
    m_layout->addWidget(window);
    showDocked(window, true);
}

void SideBar::dockClient(QWidget* window) {
    m_client = window;
    m_layout->insertWidget(0, window);
    showDocked(window, true);
}

void SideBar::showDocked(QWidget* window, bool show) {
    window->setVisible(show);
    updateStretch();
    setVisible(anyDockedVisible());
}

bool SideBar::anyDockedVisible() const {
    return (m_bottom && !m_bottom->isHidden()) || (m_client && !m_client->isHidden());
}

void SideBar::updateStretch() {
    // The bottom window keeps its own height under the filling one, and takes the whole
    // height while it is alone.
    const bool clientShown = m_client && !m_client->isHidden();
    if (m_client) {
        m_layout->setStretchFactor(m_client, 1);
    }
    if (m_bottom) {
        m_layout->setStretchFactor(m_bottom, clientShown ? 0 : 1);
    }
}

}  // namespace mr
