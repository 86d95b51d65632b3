#include "ui/traynotifier.h"

#include "core/profile.h"
#include "core/userinfo.h"

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSystemTrayIcon>
#include <QWidget>

namespace mr {

namespace {

bool wanted(TrayNotifier::Kind kind) {
    const TUserInfo& settings = UserInfo();
    switch (kind) {
        case TrayNotifier::Kind::Message:
            return settings.notifyMessages() != 0;
        case TrayNotifier::Kind::ChatInvitation:
            return settings.notifyChats() != 0;
        case TrayNotifier::Kind::Download:
            return settings.notifyDownloads() != 0;
    }
    return false;
}

}  // namespace

TrayNotifier::TrayNotifier(QSystemTrayIcon* tray, QWidget* frame, QObject* parent)
    : QObject(parent), m_tray(tray), m_frame(frame) {
    if (m_tray) {
        connect(m_tray, &QSystemTrayIcon::messageClicked, this, [this] {
            if (m_lastBringUp) {
                m_lastBringUp();
            }
        });
    }
}

void TrayNotifier::notify(Kind kind, const QString& title, const QString& text,
                          std::function<void()> bringUp) {
    if ((m_frame && m_frame->isActiveWindow()) || !wanted(kind)) {
        return;
    }
    // The tray remembers one message; its click means the last one shown.
    m_lastBringUp = std::move(bringUp);
    if (m_tray && m_tray->isVisible()) {
        m_tray->showMessage(title, text, QSystemTrayIcon::Information);
    }
    emit notified(kind, title, text);
}

void TrayNotifier::bringUp(QWidget* widget) {
    if (!widget) {
        return;
    }
    QWidget* top = widget->window();
    if (top->isMinimized()) {
        top->showNormal();
    } else {
        top->show();
    }
    top->raise();
    top->activateWindow();
    for (QWidget* w = widget; w; w = w->parentWidget()) {
        if (auto* sub = qobject_cast<QMdiSubWindow*>(w)) {
            sub->show();
            if (QMdiArea* area = sub->mdiArea()) {
                area->setActiveSubWindow(sub);
            }
            break;
        }
    }
}

}  // namespace mr
