#pragma once

#include <QStringList>
#include <QWidget>

class QTextBrowser;

namespace mr {

// The message of the day: lines 5 onward of the fetched file in a read-only view over a
// tiled background, an RTF message with its formatting. A child window of the frame; at most one
// exists and closing it destroys it (the controller keeps it).
class TfrmMotd : public QWidget {
    Q_OBJECT
public:
    explicit TfrmMotd(QWidget* parent = nullptr);

    // The text shown for the fetched lines: the first four are the host lists and the version.
    static QString messageOf(const QStringList& lines);
    // Replaces the view's text; nothing to show when lines is empty.
    void loadMessage(const QStringList& lines);

    QTextBrowser* view() const { return m_view; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTextBrowser* m_view;
};

}  // namespace mr
