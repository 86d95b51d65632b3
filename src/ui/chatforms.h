#pragma once

#include "messaging/ptpchat.h"

#include <QString>
#include <QTextEdit>
#include <QWidget>

#include <functional>
#include <memory>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QTcpSocket;
class QToolButton;

namespace mr {

// Where typing goes in a chat window: a key or a paste is reported as the text it adds before
// it is added at the end.
class ChatInput : public QTextEdit {
    Q_OBJECT
public:
    explicit ChatInput(QWidget* parent = nullptr);
    std::function<void(const QString&)> typed;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;
};

// A chat with one peer: what the user types in Local goes out key by key, what the peer types
// shows in Remote. Freed when closed; closing ends the chat.
class TPTP : public QWidget {
    Q_OBJECT
public:
    explicit TPTP(const QString& nickname, QWidget* parent = nullptr);
    ~TPTP() override;

    PtpChat* chat() const { return m_chat; }
    QString nickname() const { return m_nickname; }
    ChatInput* Local() const { return m_Local; }
    QTextEdit* Remote() const { return m_Remote; }
    QLabel* Status() const { return m_Status; }
    QToolButton* btnColor() const { return m_btnColor; }
    QMenu* ColorsMenu() const { return m_ColorsMenu; }
    QAction* actCopy() const { return m_actCopy; }
    QAction* actClear() const { return m_actClear; }

    // What follows in Local is in this colour; the peer is told when connected.
    void chooseColor(int index);
    void Clear();
    void Copy();

private:
    void typedInLocal(const QString& text);
    void showReceived(const QList<ChatEdit>& edits);
    void peerGone();

    QString m_nickname;
    PtpChat* m_chat;
    ChatInput* m_Local;
    QTextEdit* m_Remote;
    QLabel* m_Status;
    QToolButton* m_btnColor;
    QMenu* m_ColorsMenu;
    QAction* m_actCopy;
    QAction* m_actClear;
};

// Asks a user for a chat; on his acceptance a chat window connects to him and this one closes.
class TfrmPTPRequest : public QWidget {
    Q_OBJECT
public:
    using MessageSink = std::function<void(const QString&)>;

    TfrmPTPRequest(qint32 userId, const QString& nickname, UserLocator locate,
                   QWidget* parent = nullptr);

    // Where the declined and bad-answer notices go; a message box unless replaced.
    void setMessageSink(MessageSink sink) { m_messageSink = std::move(sink); }

    qint32 userId() const { return m_userId; }
    QLabel* lblState() const { return m_lblState; }
    QLineEdit* Reason() const { return m_Reason; }
    QPushButton* btnRequest() const { return m_btnRequest; }
    QPushButton* btnCancel() const { return m_btnCancel; }

    // Request, or Enter in the reason.
    void btnRequestClick();

signals:
    // The chat window the acceptance opened.
    void chatOpened(mr::TPTP* chat);

private:
    void finished(ChatRequest::Outcome outcome);

    qint32 m_userId;
    QString m_nickname;
    UserLocator m_locate;
    ChatRequest* m_request = nullptr;
    QLabel* m_lblState;
    QLineEdit* m_Reason;
    QPushButton* m_btnRequest;
    QPushButton* m_btnCancel;
    QProgressBar* m_aLogo;
    MessageSink m_messageSink;
};

// A chat request that arrived: who asks, when and why; Accept or Reject. Closing it in any way
// closes the requester's connection.
class TfrmChatInvite : public QWidget {
    Q_OBJECT
public:
    explicit TfrmChatInvite(std::unique_ptr<ChatInvitation> invitation, QWidget* parent = nullptr);

    ChatInvitation* invitation() const { return m_invitation; }
    QLabel* lblFrom() const { return m_lblFrom; }
    QLabel* lblChatType() const { return m_lblChatType; }
    QLabel* lblTime() const { return m_lblTime; }
    QLabel* lblReason() const { return m_lblReason; }
    QPushButton* btnAccept() const { return m_btnAccept; }
    QPushButton* btnReject() const { return m_btnReject; }

    // Opens a chat window listening for the requester and tells him its port; null when his
    // connection is gone.
    TPTP* btnAcceptClick();
    void btnRejectClick();

private:
    ChatInvitation* m_invitation;
    QLabel* m_lblFrom;
    QLabel* m_lblChatType;
    QLabel* m_lblTime;
    QLabel* m_lblReason;
    QPushButton* m_btnAccept;
    QPushButton* m_btnReject;
};

// Where chat windows go: the controller puts them in the frame; without a host each is a
// window of its own.
void SetChatWindowHost(std::function<void(QWidget*)> host);
void ShowChatWindow(QWidget* window);
// Opens an invitation window for a request the info socket received; with too many waiting
// already the request is declined at once.
TfrmChatInvite* ShowChatInvitation(QTcpSocket* connection, const QString& nickname,
                                   const QString& reason);

}  // namespace mr
