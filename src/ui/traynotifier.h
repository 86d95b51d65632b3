#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QSystemTrayIcon;
class QWidget;

namespace mr {

// Tells the user through the tray icon what arrived while he was looking elsewhere; clicking
// the notification brings up the window concerned.
class TrayNotifier : public QObject {
    Q_OBJECT
public:
    enum class Kind { Message, ChatInvitation, Download };
    Q_ENUM(Kind)

    // frame: the main window, whose being active makes notifications needless.
    TrayNotifier(QSystemTrayIcon* tray, QWidget* frame, QObject* parent = nullptr);

    // Raised unless the main window is active or the user switched this kind off.
    void notify(Kind kind, const QString& title, const QString& text,
                std::function<void()> bringUp);

    // Shows the widget's top-level window and, inside the frame, the child window holding it.
    static void bringUp(QWidget* widget);

signals:
    void notified(mr::TrayNotifier::Kind kind, const QString& title, const QString& text);

private:
    QPointer<QSystemTrayIcon> m_tray;
    QPointer<QWidget> m_frame;
    std::function<void()> m_lastBringUp;
};

}  // namespace mr
