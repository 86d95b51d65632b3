#pragma once

#include "messaging/contacts.h"
#include "ui/statusbox.h"

#include <QFrame>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

class QAction;
class QLabel;
class QMenu;
class QProgressBar;
class QTreeWidget;

namespace mr {

class TMRAgentHttp;

// The small window that waits for the service to accept one contact change. It files a
// status task when it starts, ends the task with the outcome and closes itself.
class TfrmContactAction : public QWidget {
    Q_OBJECT
public:
    // Takes the action; freed when closed.
    explicit TfrmContactAction(ContactAction* action, QWidget* parent = nullptr);

    ContactAction* action() const { return m_action; }
    QLabel* lblStatus() const { return m_label; }
    void start();

signals:
    void ShowStatus(const QString& text, mr::TaskKey key);
    void SetTaskText(mr::TaskKey key, const QString& text);
    void EndTask(mr::TaskKey key, bool success);

private:
    void finished(ContactAction::Outcome outcome);

    ContactAction* m_action;
    QProgressBar* m_animation;
    QLabel* m_label;
};

// "Favorite Users": the contacts docked in the side bar, online ones marked and listed first,
// with the commands that start from a contact.
class TfrmFavorites : public QFrame {
    Q_OBJECT
public:
    using MessageSink = std::function<void(const QString&)>;
    static constexpr int kUserIdRole = Qt::UserRole;
    static constexpr int kOnlineRole = Qt::UserRole + 1;

    explicit TfrmFavorites(QWidget* parent = nullptr);

    // Where polls and contact changes go; without one they fail.
    void setAgent(TMRAgentHttp* agent);
    // Where the refusal to add oneself goes; a message box unless replaced.
    void setMessageSink(MessageSink sink) { m_messageSink = std::move(sink); }

    ContactList& contacts() { return m_list; }
    QTreeWidget* lvwContacts() const { return m_lvwContacts; }
    QMenu* popFavourites() const { return m_popFavourites; }
    QAction* actAddComputer() const { return m_actAddComputer; }
    QAction* actDeleteComputer() const { return m_actDeleteComputer; }
    QAction* actUsersTree() const { return m_actUsersTree; }
    QAction* actUserInfo() const { return m_actUserInfo; }
    QAction* actSendMessage() const { return m_actSendMessage; }
    QAction* actRequestChat() const { return m_actRequestChat; }

    // Reads the table and starts the poll.
    void load();
    // Asks for the contacts' states now (see ContactList::refresh).
    void refresh() { m_list.refresh(); }
    // Adds a member by nickname: refused for one's own, else a progress window; null when
    // nothing was started.
    TfrmContactAction* AddContact(const QString& nickname);
    TfrmContactAction* RemoveContact(qint32 userId, const QString& nickname);
    // Enables the menu's commands for the selected row.
    void popFavouritesPopup();

signals:
    void userTreeRequested(qint32 userId, const QString& nick);
    void userInformationRequested(qint32 userId, const QString& nick);
    void messageRequested(qint32 userId, const QString& nick);
    void chatRequested(qint32 userId, const QString& nick);
    // The four integers of each 'Q' record of a poll.
    void statisticsReceived(qint32 first, qint32 second, qint32 third, qint32 fourth);
    void ShowStatus(const QString& text, mr::TaskKey key);
    void SetTaskText(mr::TaskKey key, const QString& text);
    void EndTask(mr::TaskKey key, bool success);
    // The user closed the window with its own button.
    void closeRequested();

private:
    void showContacts();
    void actAddComputerExecute();
    TfrmContactAction* openAction(ContactAction* action);
    void emitForSelected(void (TfrmFavorites::*signal)(qint32, const QString&));

    QPointer<TMRAgentHttp> m_agent;
    ContactList m_list;
    QTreeWidget* m_lvwContacts;
    QMenu* m_popFavourites;
    QAction* m_actAddComputer;
    QAction* m_actDeleteComputer;
    QAction* m_actUsersTree;
    QAction* m_actUserInfo;
    QAction* m_actSendMessage;
    QAction* m_actRequestChat;
    QAction* m_actUpload;
    MessageSink m_messageSink;
};

}  // namespace mr
