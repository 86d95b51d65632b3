#include "ui/channelforms.h"

#include "messaging/chatclient.h"
#include "ui/mditile.h"

#include <QAction>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiSubWindow>
#include <QMenu>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace mr {

namespace {

enum NodeKind { RootNode, GroupNode, ChannelNode };
constexpr int kKindRole = Qt::UserRole;
constexpr int kGroupRole = Qt::UserRole + 1;
const QString kNewChannel = QStringLiteral("New Channel");

QString talkingIn(const QString& group, const QString& channel) {
    return QStringLiteral("You are talking in ") + group + QLatin1Char('.') + channel;
}

// Inside the frame it is the child window around the form that closes.
void closeWindow(QWidget* form) {
    if (auto* sub = qobject_cast<QMdiSubWindow*>(form->parentWidget())) {
        sub->close();
    } else {
        form->close();
    }
}

void bringToFront(QWidget* form) {
    if (auto* sub = qobject_cast<QMdiSubWindow*>(form->parentWidget())) {
        showChildWindow(sub);
    } else {
        form->show();
        form->raise();
    }
    form->setFocus();
}

}  // namespace

TfrmChat::TfrmChat(QWidget* parent)
    : QWidget(parent), m_txtChat(new QTextEdit), m_txtMsg(new QLineEdit), m_body(new QHBoxLayout) {
    m_txtChat->setObjectName(QStringLiteral("txtChat"));
    m_txtChat->setReadOnly(true);
    m_txtChat->document()->setMaximumBlockCount(kMaxLines);
    m_txtMsg->setObjectName(QStringLiteral("txtMsg"));
    m_body->setContentsMargins(0, 0, 0, 0);
    m_body->addWidget(m_txtChat, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addLayout(m_body, 1);
    layout->addWidget(m_txtMsg);
    // The window is for typing: it takes the keyboard at the input line.
    setFocusProxy(m_txtMsg);
    connect(m_txtMsg, &QLineEdit::returnPressed, this, [this] {
        const QString text = m_txtMsg->text();
        if (text.isEmpty()) {
            return;
        }
        if (sendText(text)) {
            m_txtMsg->clear();
        }
    });
}

void TfrmChat::AddLine(const QString& nickname, const QString& text, const QColor& color) {
    m_txtChat->setUpdatesEnabled(false);
    QTextCursor cursor(m_txtChat->document());
    cursor.movePosition(QTextCursor::End);
    if (!m_txtChat->document()->isEmpty()) {
        cursor.insertBlock();
    }
    QTextCharFormat format;
    if (!nickname.isEmpty()) {
        format.setForeground(kChatNickColor);
        cursor.insertText(QLatin1Char('<') + nickname + QStringLiteral("> "), format);
    }
    format.setForeground(color);
    cursor.insertText(text, format);
    m_txtChat->setUpdatesEnabled(true);
    m_txtChat->verticalScrollBar()->setValue(m_txtChat->verticalScrollBar()->maximum());
}

TfrmChannel::TfrmChannel(TChatClient& client, const QString& group, const QString& channel,
                         const QStringList& members, QWidget* parent)
    : TfrmChat(parent),
      m_client(&client),
      m_group(group),
      m_channel(channel),
      m_lstUsers(new QListWidget),
      m_pmChat(new QMenu(this)),
      m_actPTP(new QAction(QStringLiteral("Private Chat"), this)) {
    setWindowTitle(channel);
    m_lstUsers->setObjectName(QStringLiteral("lstUsers"));
    m_lstUsers->setMaximumWidth(140);
    m_lstUsers->setContextMenuPolicy(Qt::CustomContextMenu);
    body()->addWidget(m_lstUsers);
    m_pmChat->setObjectName(QStringLiteral("pmChat"));
    m_actPTP->setObjectName(QStringLiteral("actPTP"));
    m_pmChat->addAction(m_actPTP);
    connect(m_lstUsers, &QListWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { m_pmChat->popup(m_lstUsers->viewport()->mapToGlobal(at)); });
    connect(m_actPTP, &QAction::triggered, this, [this] {
        if (QListWidgetItem* item = m_lstUsers->currentItem(); item && m_client) {
            m_client->RequestUserId(item->text());
        }
    });
    AddLine({}, talkingIn(group, channel), kChatJoinColor);
    setMembers(members);
}

void TfrmChannel::setMembers(const QStringList& members) {
    m_lstUsers->clear();
    m_lstUsers->addItems(members);
}

void TfrmChannel::addMember(const QString& nickname) {
    m_lstUsers->addItem(nickname);
}

void TfrmChannel::removeMember(const QString& nickname) {
    const auto found = m_lstUsers->findItems(nickname, Qt::MatchExactly);
    if (!found.isEmpty()) {
        delete found.first();
    }
}

bool TfrmChannel::sendText(const QString& text) {
    if (!m_client || !m_client->connected()) {
        AddLine({}, kChatDisconnected, kChatLeaveColor);
        return false;
    }
    // No echo: the line shows when the server sends it back to everyone in the channel.
    m_client->SendChannelMessage(m_group, m_channel, text);
    return true;
}

void TfrmChannel::closeEvent(QCloseEvent* event) {
    if (!m_left && m_client) {
        m_left = true;
        m_client->EnterChannel(m_group, m_channel, false);
    }
    TfrmChat::closeEvent(event);
}

TfrmChannels::TfrmChannels(TChatClient& client, QWidget* parent)
    : QWidget(parent),
      m_client(&client),
      m_tvwChannels(new QTreeWidget),
      m_StatusBar1(new QStatusBar),
      m_popChannels(new QMenu(this)),
      m_actNew(new QAction(QStringLiteral("Join a new channel"), this)),
      m_actRefresh(new QAction(QStringLiteral("Refresh"), this)) {
    setObjectName(QStringLiteral("frmChannels"));
    setWindowTitle(QStringLiteral("Channels"));
    m_tvwChannels->setObjectName(QStringLiteral("tvwChannels"));
    m_tvwChannels->setColumnCount(3);
    m_tvwChannels->setHeaderLabels(
        {QStringLiteral("Channels"), QStringLiteral("Users"), QStringLiteral("Topic")});
    QHeaderView* hdrChannels = m_tvwChannels->header();
    hdrChannels->setObjectName(QStringLiteral("hdrChannels"));
    hdrChannels->setStretchLastSection(false);
    hdrChannels->resizeSection(0, 150);
    hdrChannels->resizeSection(1, 50);
    hdrChannels->resizeSection(2, 200);
    m_tvwChannels->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tvwChannels->setContextMenuPolicy(Qt::CustomContextMenu);
    m_StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    m_popChannels->setObjectName(QStringLiteral("popChannels"));
    m_actNew->setObjectName(QStringLiteral("actNew"));
    m_actRefresh->setObjectName(QStringLiteral("actRefresh"));
    m_popChannels->addActions({m_actNew, m_actRefresh});

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_tvwChannels, 1);
    layout->addWidget(m_StatusBar1);

    connect(m_tvwChannels, &QTreeWidget::customContextMenuRequested, this,
            [this](const QPoint& at) {
                m_popChannels->popup(m_tvwChannels->viewport()->mapToGlobal(at));
            });
    connect(m_tvwChannels, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { doubleClicked(item); });
    connect(m_tvwChannels->itemDelegate(), &QAbstractItemDelegate::closeEditor, this, [this] {
        if (m_editing) {
            tvwChannelsEdited(m_editing);
        }
    });
    connect(m_actNew, &QAction::triggered, this, &TfrmChannels::newChannel);
    connect(m_actRefresh, &QAction::triggered, this, [this] {
        if (m_client) {
            m_client->RequestList();
        }
    });
    connect(&client, &TChatClient::listComplete, this, &TfrmChannels::FillTree);
}

TfrmChannels::~TfrmChannels() {
    // An editor still open closes while the tree goes, after this part of the window has gone.
    disconnect(m_tvwChannels->itemDelegate(), nullptr, this, nullptr);
}

void TfrmChannels::closeEvent(QCloseEvent* event) {
    emit closed();
    QWidget::closeEvent(event);
}

QString TfrmChannels::description() const {
    return QStringLiteral("Double click a channel to enter it");
}

void TfrmChannels::FillTree() {
    if (!m_client) {
        return;
    }
    m_editing = nullptr;
    m_tvwChannels->setUpdatesEnabled(false);
    m_tvwChannels->clear();
    const TChatChannel& root = m_client->tree().root();
    auto* rootItem = new QTreeWidgetItem(m_tvwChannels, {root.name});
    rootItem->setData(0, kKindRole, RootNode);
    for (const auto& group : root.children()) {
        auto* groupItem = new QTreeWidgetItem(
            rootItem, {group->name, QString::number(group->userCount), group->topic});
        groupItem->setData(0, kKindRole, GroupNode);
        groupItem->setData(0, kGroupRole, group->name);
        for (const auto& channel : group->children()) {
            auto* item = new QTreeWidgetItem(
                groupItem, {channel->name, QString::number(channel->userCount), channel->topic});
            item->setData(0, kKindRole, ChannelNode);
            item->setData(0, kGroupRole, group->name);
        }
    }
    m_tvwChannels->expandAll();
    m_tvwChannels->setUpdatesEnabled(true);
    emit treeFilled();
}

void TfrmChannels::doubleClicked(QTreeWidgetItem* item) {
    // Channels are the nodes under a group; a group without channels is still a group.
    if (!item || item == m_editing || item->data(0, kKindRole).toInt() != ChannelNode) {
        return;
    }
    emit channelEntered(item->data(0, kGroupRole).toString(), item->text(0));
    closeWindow(this);
}

void TfrmChannels::newChannel() {
    QTreeWidgetItem* selected = m_tvwChannels->currentItem();
    if (!selected || m_editing) {
        return;
    }
    if (selected->data(0, kKindRole).toInt() == ChannelNode) {
        selected = selected->parent();
    }
    if (selected->data(0, kKindRole).toInt() != GroupNode) {
        return;
    }
    m_editing = new QTreeWidgetItem(selected, {kNewChannel, QStringLiteral("0")});
    m_editing->setData(0, kKindRole, ChannelNode);
    m_editing->setData(0, kGroupRole, selected->data(0, kGroupRole));
    m_editing->setFlags(m_editing->flags() | Qt::ItemIsEditable);
    selected->setExpanded(true);
    m_tvwChannels->setCurrentItem(m_editing);
    m_tvwChannels->editItem(m_editing, 0);
}

void TfrmChannels::tvwChannelsEdited(QTreeWidgetItem* item) {
    if (!item || item != m_editing) {
        return;
    }
    m_editing = nullptr;
    const QString name = item->text(0).trimmed();
    const QString group = item->data(0, kGroupRole).toString();
    if (name.isEmpty() || name == kNewChannel || !m_client) {
        delete item;
        return;
    }
    item->setText(0, name);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    TChannelTree& tree = m_client->tree();
    if (!tree.find(group, name)) {
        if (TChatChannel* node = tree.findGroup(group)) {
            tree.addChannelTo(*node, name);
        }
    }
    emit channelEntered(group, name);
}

TChannelWindows::TChannelWindows(TChatClient& client, Host host, PrivateChat privateChat,
                                 QObject* parent)
    : QObject(parent),
      m_client(client),
      m_host(std::move(host)),
      m_privateChat(std::move(privateChat)) {
    connect(&client, &TChatClient::memberJoined, this,
            [this](const QString& group, const QString& channel, const QString& nick, bool own) {
                if (own) {
                    const QString k = key(group, channel);
                    if (m_rejoining.remove(k)) {
                        // Back in a channel whose window stayed open: said there, in place.
                        if (TfrmChannel* window = find(group, channel)) {
                            window->AddLine({}, talkingIn(group, channel), kChatJoinColor);
                        }
                    } else if (m_entered.contains(k)) {
                        // Only in answer to entering: a server cannot open windows of its own.
                        bringToFront(ensure(group, channel));
                    }
                } else if (TfrmChannel* window = find(group, channel)) {
                    window->AddLine(
                        {},
                        nick + QStringLiteral(" has joined ") + group + QLatin1Char('.') + channel,
                        kChatJoinColor);
                    window->addMember(nick);
                }
            });
    connect(
        &client, &TChatClient::memberLeft, this,
        [this](const QString& group, const QString& channel, const QString& nick, const QString&) {
            if (TfrmChannel* window = find(group, channel)) {
                window->AddLine(
                    {}, nick + QStringLiteral(" has left ") + group + QLatin1Char('.') + channel,
                    kChatLeaveColor);
                window->removeMember(nick);
            }
        });
    connect(&client, &TChatClient::membersListed, this,
            [this](const QString& group, const QString& channel, const QStringList& members) {
                if (TfrmChannel* window = ensure(group, channel)) {
                    window->setMembers(members);
                }
            });
    connect(&client, &TChatClient::messageReceived, this,
            [this](const QString& group, const QString& channel, const QString& nick,
                   const QString& text) {
                if (TfrmChannel* window = ensure(group, channel)) {
                    window->AddLine(nick, text, window->palette().color(QPalette::Text));
                }
            });
    connect(&client, &TChatClient::connectionLost, this, [this] {
        m_rejoining.clear();
        for (const QPointer<TfrmChannel>& window : std::as_const(m_windows)) {
            if (window) {
                window->AddLine({}, kChatDisconnected, kChatLeaveColor);
                window->setMembers({});
            }
        }
    });
    connect(&client, &TChatClient::welcomed, this, [this] {
        for (const auto& [group, channel] : m_client.tree().joinedChannels()) {
            if (find(group, channel)) {
                m_rejoining.insert(key(group, channel));
            }
        }
    });
    connect(&client, &TChatClient::userIdReceived, this,
            [this](const QString& nick, qint32 userId) {
                if (m_privateChat) {
                    m_privateChat(userId, nick);
                }
            });
}

QString TChannelWindows::key(const QString& group, const QString& channel) {
    return group + QLatin1Char('\n') + channel;
}

TfrmChannel* TChannelWindows::find(const QString& group, const QString& channel) const {
    return m_windows.value(key(group, channel)).data();
}

TfrmChannel* TChannelWindows::ensure(const QString& group, const QString& channel) {
    const QString k = key(group, channel);
    if (TfrmChannel* window = m_windows.value(k)) {
        return window;
    }
    if (!m_entered.contains(k)) {
        return nullptr;
    }
    QStringList members;
    if (const TChatChannel* node = m_client.tree().find(group, channel)) {
        for (const TChatUser& user : node->members) {
            members.append(user.nickname);
        }
    }
    auto* window = new TfrmChannel(m_client, group, channel, members);
    window->setAttribute(Qt::WA_DeleteOnClose);
    m_windows.insert(k, window);
    connect(window, &QObject::destroyed, this, [this, k] {
        m_windows.remove(k);
        m_entered.remove(k);
    });
    if (m_host) {
        m_host(window);
    } else {
        window->show();
    }
    return window;
}

TfrmChannel* TChannelWindows::enter(const QString& group, const QString& channel) {
    m_entered.insert(key(group, channel));
    m_client.EnterChannel(group, channel, true);
    TfrmChannel* window = ensure(group, channel);
    bringToFront(window);
    return window;
}

}  // namespace mr
