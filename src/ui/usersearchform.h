#pragma once

#include "directory/usersearch.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

class QAction;
class QButtonGroup;
class QGroupBox;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QTreeWidget;

namespace mr {

class TMRAgentHttp;

// "White Pages": members found by nickname, e-mail address, or first and last name, with their
// online state; from a found member the user goes on to his profile, his folders or a message.
class TfrmUserSearch : public QWidget {
    Q_OBJECT
public:
    using MessageSink = std::function<void(const QString&)>;
    enum Option { ByNickName = 0, ByEmail = 1, ByName = 2 };

    // agent: where the search is sent; without one every search asks to be online first.
    explicit TfrmUserSearch(TMRAgentHttp* agent, QWidget* parent = nullptr);

    // What the main window's description area says while this window is active.
    static QString description();

    // Where the "online first" message goes; a message box unless replaced.
    void setMessageSink(MessageSink sink) { m_messageSink = std::move(sink); }

    QGroupBox* rdgSearch() const { return m_rdgSearch; }
    QRadioButton* option(Option which) const;
    QLineEdit* NickName() const { return m_NickName; }
    QLineEdit* Email() const { return m_Email; }
    QLineEdit* FirstName() const { return m_FirstName; }
    QLineEdit* LastName() const { return m_LastName; }
    QPushButton* btnSearch() const { return m_btnSearch; }
    QTreeWidget* List() const { return m_List; }
    QMenu* SearchMenu() const { return m_SearchMenu; }
    QAction* actUserInfo() const { return m_actUserInfo; }
    QAction* actTree() const { return m_actTree; }
    QAction* actClear() const { return m_actClear; }
    QAction* actSendMessage() const { return m_actSendMessage; }
    QAction* actAddComputer() const { return m_actAddComputer; }

    void rdgSearchClick(Option which);
    void btnSearchClick();
    // The service's answer to a search: one row per member unless it failed.
    void SearchReply(bool failed, const QByteArray& data);
    // Enables the menu's actions when a row is selected.
    void SearchMenuPopup();

signals:
    void userInformationRequested(qint32 userId, const QString& nickname);
    void userTreeRequested(qint32 userId, const QString& nickname);
    void messageRequested(qint32 userId, const QString& nickname);
    void chatRequested(qint32 userId, const QString& nickname);
    void addContactRequested(qint32 userId, const QString& nickname);

private:
    Option chosen() const;
    void updateSearchButton();
    void setWaiting(bool waiting);
    void emitForSelected(void (TfrmUserSearch::*signal)(qint32, const QString&));

    QPointer<TMRAgentHttp> m_agent;
    QGroupBox* m_rdgSearch;
    QButtonGroup* m_options;
    QLineEdit* m_NickName;
    QLineEdit* m_Email;
    QWidget* m_pnlName;
    QLineEdit* m_FirstName;
    QLineEdit* m_LastName;
    QPushButton* m_btnSearch;
    QTreeWidget* m_List;
    QMenu* m_SearchMenu;
    QAction* m_actAddComputer;
    QAction* m_actUserInfo;
    QAction* m_actTree;
    QAction* m_actClear;
    QAction* m_actSendMessage;
    QAction* m_actPTPChat;
    QAction* m_actUpload;
    MessageSink m_messageSink;
    bool m_waiting = false;
};

}  // namespace mr
