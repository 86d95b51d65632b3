#pragma once

#include <QWidget>

class QToolButton;
class QVBoxLayout;

namespace mr {

// The caption strip of a window docked in the side bar: the panel's window title in bold on
// the mid tone, and a close button ("×") at its right. Both are children of panel.
struct DockHeader {
    QWidget* widget;
    QToolButton* close;
};
DockHeader makeDockHeader(QWidget* panel, const QString& headerName, const QString& closeName);

// The left-hand panel: the contacts window fills it and the status box sits at its bottom.
// It is shown while either of them is.
class SideBar : public QWidget {
    Q_OBJECT
public:
    static constexpr int kDefaultWidth = 185;

    explicit SideBar(QWidget* parent = nullptr);

    // Docks a window at the bottom (the status box) or as the filling one (contacts) and
    // shows it there. The side bar takes ownership.
    void dockBottom(QWidget* window);
    void dockClient(QWidget* window);

    // Shows or hides a docked window and then the side bar as the rules say.
    void showDocked(QWidget* window, bool show);
    bool anyDockedVisible() const;

private:
    void updateStretch();

    QVBoxLayout* m_layout;
    QWidget* m_bottom = nullptr;
    QWidget* m_client = nullptr;
};

}  // namespace mr
