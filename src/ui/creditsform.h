#pragma once

#include <QWidget>

class QPushButton;
class QTableWidget;

namespace mr {

// What each user gave this computer and took from it, as the credit ratios judge them.
class TfrmCredits : public QWidget {
    Q_OBJECT
public:
    explicit TfrmCredits(QWidget* parent = nullptr);

    // What the main window's description area says while this window is active.
    static QString description();

    // Reads the credits table again; a table that cannot be read shows no rows.
    void refresh();

    QTableWidget* lvwCredits() const { return m_lvwCredits; }

private:
    QTableWidget* m_lvwCredits;
    QPushButton* m_btnRefresh;
    QPushButton* m_btnClose;
};

}  // namespace mr
