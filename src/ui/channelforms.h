#pragma once

#include <QColor>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>

class QAction;
class QLineEdit;
class QListWidget;
class QMenu;
class QStatusBar;
class QTextEdit;
class QTreeWidget;
class QTreeWidgetItem;
class QHBoxLayout;

namespace mr {

class TChatClient;

// Colours of channel chat lines.
inline const QColor kChatNickColor(0, 0, 128);
inline const QColor kChatJoinColor(0, 128, 0);
inline const QColor kChatLeaveColor(128, 0, 0);
// The status box's line for a dropped chat connection, shown in the channel windows as well.
inline const QString kChatDisconnected = QStringLiteral("Disconnected from Chat");

// A chat pane with an input line under it.
class TfrmChat : public QWidget {
    Q_OBJECT
public:
    // Older lines go once the pane holds this many.
    static constexpr int kMaxLines = 5000;

    explicit TfrmChat(QWidget* parent = nullptr);

    QTextEdit* txtChat() const { return m_txtChat; }
    QLineEdit* txtMsg() const { return m_txtMsg; }

    // "<nickname> " in navy when there is a nickname, then the text in its colour.
    void AddLine(const QString& nickname, const QString& text, const QColor& color);

protected:
    // What Enter in the input line does with its text; false keeps the text in the line.
    virtual bool sendText(const QString& text) = 0;
    QHBoxLayout* body() const { return m_body; }

private:
    QTextEdit* m_txtChat;
    QLineEdit* m_txtMsg;
    QHBoxLayout* m_body;
};

// One entered channel: its lines, its members and a private chat with one of them.
class TfrmChannel : public TfrmChat {
    Q_OBJECT
public:
    TfrmChannel(TChatClient& client, const QString& group, const QString& channel,
                const QStringList& members, QWidget* parent = nullptr);

    QString group() const { return m_group; }
    QString channel() const { return m_channel; }
    QListWidget* lstUsers() const { return m_lstUsers; }
    QAction* actPTP() const { return m_actPTP; }

    void setMembers(const QStringList& members);
    void addMember(const QString& nickname);
    void removeMember(const QString& nickname);

protected:
    bool sendText(const QString& text) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QPointer<TChatClient> m_client;
    QString m_group;
    QString m_channel;
    QListWidget* m_lstUsers;
    QMenu* m_pmChat;
    QAction* m_actPTP;
    bool m_left = false;
};

// "Channels": the groups and channels of the chat server with their users and topics.
class TfrmChannels : public QWidget {
    Q_OBJECT
public:
    explicit TfrmChannels(TChatClient& client, QWidget* parent = nullptr);
    ~TfrmChannels() override;

    QTreeWidget* tvwChannels() const { return m_tvwChannels; }
    QAction* actNew() const { return m_actNew; }
    QAction* actRefresh() const { return m_actRefresh; }
    QString description() const;

    // Rebuilds the tree from the client's channel tree.
    void FillTree();
    // The end of editing a "New Channel" node.
    void tvwChannelsEdited(QTreeWidgetItem* item);

signals:
    void channelEntered(const QString& group, const QString& channel);
    void treeFilled();
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void doubleClicked(QTreeWidgetItem* item);
    void newChannel();

    QPointer<TChatClient> m_client;
    QTreeWidget* m_tvwChannels;
    QStatusBar* m_StatusBar1;
    QMenu* m_popChannels;
    QAction* m_actNew;
    QAction* m_actRefresh;
    QTreeWidgetItem* m_editing = nullptr;
};

// The windows of the channels the user is in, one per channel, kept up to date from the
// client's reports. Only entered channels get a window, so a server cannot open any more.
class TChannelWindows : public QObject {
    Q_OBJECT
public:
    using Host = std::function<void(QWidget*)>;
    using PrivateChat = std::function<void(qint32 userId, const QString& nickname)>;

    TChannelWindows(TChatClient& client, Host host, PrivateChat privateChat,
                    QObject* parent = nullptr);

    // Enters the channel when it is not entered yet, and brings its window to the front.
    TfrmChannel* enter(const QString& group, const QString& channel);
    TfrmChannel* find(const QString& group, const QString& channel) const;

private:
    TfrmChannel* ensure(const QString& group, const QString& channel);
    static QString key(const QString& group, const QString& channel);

    TChatClient& m_client;
    Host m_host;
    PrivateChat m_privateChat;
    QHash<QString, QPointer<TfrmChannel>> m_windows;
    QSet<QString> m_entered;
    // Open windows whose channels are entered again after a dropped connection.
    QSet<QString> m_rejoining;
};

}  // namespace mr
