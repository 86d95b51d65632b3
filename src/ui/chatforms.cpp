#include "ui/chatforms.h"

#include "core/profile.h"
#include "core/userinfo.h"
#include "ui/messengerforms.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTcpSocket>
#include <QTextBlock>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace mr {

namespace {

std::function<void(QWidget*)>& host() {
    static std::function<void(QWidget*)> h;
    return h;
}

QColor chatColor(int index) {
    return QColor::fromRgb(kChatColors.at(static_cast<std::size_t>(index)));
}

QIcon swatch(int index) {
    QPixmap pixmap(16, 16);
    pixmap.fill(chatColor(index));
    QPainter painter(&pixmap);
    painter.setPen(Qt::darkGray);
    painter.drawRect(0, 0, 15, 15);
    return QIcon(pixmap);
}

// Both panes are black, with text in the colour nobody has chosen yet.
void paintBlack(QTextEdit* pane) {
    QPalette palette = pane->palette();
    palette.setColor(QPalette::Base, Qt::black);
    palette.setColor(QPalette::Text, chatColor(kChatDefaultColor));
    pane->setPalette(palette);
    pane->setTextColor(chatColor(kChatDefaultColor));
}

// Inside the frame it is the child window around the form that closes.
void closeWindow(QWidget* form) {
    if (auto* sub = qobject_cast<QMdiSubWindow*>(form->parentWidget())) {
        sub->close();
    } else {
        form->close();
    }
}

constexpr int kInviteWidth = 290;
constexpr QSize kChatSize(460, 360);

}  // namespace

ChatInput::ChatInput(QWidget* parent) : QTextEdit(parent) {
    setAcceptRichText(false);
}

void ChatInput::keyPressEvent(QKeyEvent* event) {
    if (typed && !isReadOnly()) {
        QString text = event->text();
        if (event->key() == Qt::Key_Backspace) {
            text = QStringLiteral("\b");
        } else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            text = QStringLiteral("\r");
        }
        if (!text.isEmpty()) {
            typed(text);
        }
    }
    QTextEdit::keyPressEvent(event);
}

void ChatInput::insertFromMimeData(const QMimeData* source) {
    if (source == nullptr || !source->hasText()) {
        return;
    }
    const QString text = source->text();
    if (typed) {
        typed(text);
    }
    insertPlainText(text);
}

TPTP::TPTP(const QString& nickname, QWidget* parent)
    : QWidget(parent),
      m_nickname(nickname),
      m_chat(new PtpChat(this)),
      m_Local(new ChatInput(this)),
      m_Remote(new QTextEdit(this)),
      m_Status(new QLabel(this)),
      m_btnColor(new QToolButton(this)),
      m_ColorsMenu(new QMenu(this)) {
    setObjectName(QStringLiteral("PTP"));
    setWindowTitle(QStringLiteral("Chatting with ") + nickname);
    resize(kChatSize);

    m_Local->setObjectName(QStringLiteral("Local"));
    m_Remote->setObjectName(QStringLiteral("Remote"));
    m_Remote->setReadOnly(true);
    // The peer's lines are bounded in length by the pane; their number is bounded here.
    m_Remote->document()->setMaximumBlockCount(static_cast<int>(ChatPane::kMaxLines));
    m_Remote->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    paintBlack(m_Local);
    paintBlack(m_Remote);
    m_Status->setObjectName(QStringLiteral("Status"));

    auto* toolBar = new QToolBar(this);
    toolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    m_actCopy = toolBar->addAction(QStringLiteral("&Copy"), this, &TPTP::Copy);
    m_actCopy->setObjectName(QStringLiteral("actCopy"));
    m_actCopy->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    m_actCopy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    m_btnColor->setObjectName(QStringLiteral("btnColor"));
    m_btnColor->setText(QStringLiteral("Color"));
    m_btnColor->setPopupMode(QToolButton::InstantPopup);
    m_btnColor->setMenu(m_ColorsMenu);
    m_ColorsMenu->setObjectName(QStringLiteral("ColorsMenu"));
    for (int i = 0; i < kChatColorCount; ++i) {
        QAction* color = m_ColorsMenu->addAction(swatch(i), QLatin1String(kChatColorNames.at(i)));
        connect(color, &QAction::triggered, this, [this, i] { chooseColor(i); });
    }
    toolBar->addWidget(m_btnColor);
    m_actClear = toolBar->addAction(QStringLiteral("Clear"), this, &TPTP::Clear);
    m_actClear->setObjectName(QStringLiteral("actClear"));
    // Pasting goes through Local, where it is typed like keys.
    QAction* paste = toolBar->addAction(QStringLiteral("&Paste"), m_Local, &QTextEdit::paste);
    paste->setObjectName(QStringLiteral("actPaste"));
    paste->setVisible(false);
    toolBar->addWidget(m_Status);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(m_Remote);
    splitter->addWidget(m_Local);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(toolBar);
    layout->addWidget(splitter, 1);

    m_Local->typed = [this](const QString& text) { typedInLocal(text); };
    connect(m_chat, &PtpChat::received, this, &TPTP::showReceived);
    connect(m_chat, &PtpChat::disconnected, this, &TPTP::peerGone);
    m_Local->setFocus();
}

TPTP::~TPTP() {
    m_chat->disconnect(this);
    m_chat->close();
}

void TPTP::typedInLocal(const QString& text) {
    const QByteArray bytes = EncodeChatKeys(text);
    if (bytes.isEmpty() || !m_chat->isConnected()) {
        return;
    }
    // What is typed always goes to the end, as it goes to the end of the peer's pane.
    const QColor color = m_Local->textColor();
    m_Local->moveCursor(QTextCursor::End);
    m_Local->setTextColor(color);
    m_chat->send(bytes);
}

void TPTP::chooseColor(int index) {
    if (index < 0 || index >= kChatColorCount) {
        return;
    }
    m_Local->moveCursor(QTextCursor::End);
    m_Local->setTextColor(chatColor(index));
    m_chat->send(EncodeChatColor(index));
}

void TPTP::showReceived(const QList<ChatEdit>& edits) {
    QTextCursor cursor(m_Remote->document());
    cursor.movePosition(QTextCursor::End);
    for (const ChatEdit& edit : edits) {
        switch (edit.kind) {
            case ChatEdit::Append: {
                QTextCharFormat format;
                format.setForeground(chatColor(edit.color));
                cursor.insertText(QString(edit.ch), format);
                break;
            }
            case ChatEdit::Backspace:
                cursor.deletePreviousChar();
                break;
            case ChatEdit::NewLine:
                cursor.insertBlock();
                break;
        }
    }
    m_Remote->verticalScrollBar()->setValue(m_Remote->verticalScrollBar()->maximum());
}

void TPTP::peerGone() {
    m_Status->setText(QString::fromLatin1(kChatDisconnectedText));
    m_Local->setReadOnly(true);
    m_btnColor->setEnabled(false);
}

void TPTP::Clear() {
    m_Remote->clear();
    m_chat->remote().clear();
}

void TPTP::Copy() {
    if (m_Local->textCursor().hasSelection()) {
        m_Local->copy();
    } else {
        m_Remote->copy();
    }
}

TfrmPTPRequest::TfrmPTPRequest(qint32 userId, const QString& nickname, UserLocator locate,
                               QWidget* parent)
    : QWidget(parent),
      m_userId(userId),
      m_nickname(nickname),
      m_locate(std::move(locate)),
      m_lblState(new QLabel(this)),
      m_Reason(new QLineEdit(this)),
      m_btnRequest(new QPushButton(QStringLiteral("&Request"), this)),
      m_btnCancel(new QPushButton(QStringLiteral("&Cancel"), this)),
      m_aLogo(new QProgressBar(this)) {
    setObjectName(QStringLiteral("frmPTPRequest"));
    setWindowTitle(QStringLiteral("Requesting Chat From:") + nickname);
    m_lblState->setObjectName(QStringLiteral("lblState"));
    m_Reason->setObjectName(QStringLiteral("Reason"));
    m_btnRequest->setObjectName(QStringLiteral("btnRequest"));
    m_btnCancel->setObjectName(QStringLiteral("btnCancel"));
    m_aLogo->setObjectName(QStringLiteral("aLogo"));
    m_aLogo->setRange(0, 0);
    m_aLogo->setTextVisible(false);
    m_aLogo->setVisible(false);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Status:"), m_lblState);
    form->addRow(QStringLiteral("Reason:"), m_Reason);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_aLogo, 1);
    buttons->addStretch();
    buttons->addWidget(m_btnRequest);
    buttons->addWidget(m_btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_btnRequest, &QPushButton::clicked, this, &TfrmPTPRequest::btnRequestClick);
    connect(m_Reason, &QLineEdit::returnPressed, this, &TfrmPTPRequest::btnRequestClick);
    connect(m_btnCancel, &QPushButton::clicked, this, [this] { closeWindow(this); });
}

void TfrmPTPRequest::btnRequestClick() {
    if (m_request != nullptr) {
        return;
    }
    m_btnRequest->setEnabled(false);
    m_Reason->setEnabled(false);
    m_aLogo->setVisible(true);
    m_request = new ChatRequest(m_locate, this);
    connect(m_request, &ChatRequest::stateChanged, m_lblState, &QLabel::setText);
    connect(m_request, &ChatRequest::finished, this, &TfrmPTPRequest::finished);
    m_request->request(m_userId, UserInfo().nickname(), m_Reason->text());
}

void TfrmPTPRequest::finished(ChatRequest::Outcome outcome) {
    m_aLogo->setVisible(false);
    const QString text = ChatRequest::outcomeText(outcome);
    switch (outcome) {
        case ChatRequest::Outcome::Accepted: {
            auto* chat = new TPTP(m_nickname);
            chat->chat()->connectTo(m_request->address(), m_request->port());
            ShowChatWindow(chat);
            emit chatOpened(chat);
            closeWindow(this);
            break;
        }
        case ChatRequest::Outcome::Declined:
        case ChatRequest::Outcome::BadPort:
            if (m_messageSink) {
                m_messageSink(text);
            } else {
                QMessageBox::information(this, windowTitle(), text);
            }
            closeWindow(this);
            break;
        case ChatRequest::Outcome::NoAnswer:
            closeWindow(this);
            break;
        case ChatRequest::Outcome::Offline:
        case ChatRequest::Outcome::Failed:
            // The window stays for the user to read and close.
            m_lblState->setText(text);
            break;
    }
}

TfrmChatInvite::TfrmChatInvite(std::unique_ptr<ChatInvitation> invitation, QWidget* parent)
    : QWidget(parent),
      m_invitation(invitation.release()),
      m_lblFrom(new QLabel(m_invitation->nickname(), this)),
      m_lblChatType(new QLabel(QString::fromLatin1(kChatTypeText), this)),
      m_lblTime(new QLabel(TimeOfDay(m_invitation->arrived()), this)),
      m_lblReason(new QLabel(m_invitation->reason(), this)),
      m_btnAccept(new QPushButton(QStringLiteral("&Accept"), this)),
      m_btnReject(new QPushButton(QStringLiteral("&Reject"), this)) {
    m_invitation->setParent(this);
    setObjectName(QStringLiteral("frmChatInvite"));
    setWindowTitle(QStringLiteral("Chat Invite"));
    m_lblFrom->setObjectName(QStringLiteral("lblFrom"));
    m_lblChatType->setObjectName(QStringLiteral("lblChatType"));
    m_lblTime->setObjectName(QStringLiteral("lblTime"));
    m_lblReason->setObjectName(QStringLiteral("lblReason"));
    m_lblReason->setWordWrap(true);
    m_lblReason->setTextFormat(Qt::PlainText);
    m_lblFrom->setTextFormat(Qt::PlainText);
    m_btnAccept->setObjectName(QStringLiteral("btnAccept"));
    m_btnAccept->setDefault(true);
    m_btnReject->setObjectName(QStringLiteral("btnReject"));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("From:"), m_lblFrom);
    form->addRow(QStringLiteral("Chat type:"), m_lblChatType);
    form->addRow(QStringLiteral("Time:"), m_lblTime);
    form->addRow(QStringLiteral("Reason:"), m_lblReason);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_btnAccept);
    buttons->addWidget(m_btnReject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    // As tall as a wrapped reason needs at that width, and no other size.
    setFixedSize(kInviteWidth, layout->hasHeightForWidth() ? layout->heightForWidth(kInviteWidth)
                                                           : layout->sizeHint().height());

    connect(m_btnAccept, &QPushButton::clicked, this, &TfrmChatInvite::btnAcceptClick);
    connect(m_btnReject, &QPushButton::clicked, this, &TfrmChatInvite::btnRejectClick);
}

TPTP* TfrmChatInvite::btnAcceptClick() {
    TPTP* chat = nullptr;
    if (m_invitation->isOpen()) {
        chat = new TPTP(m_invitation->nickname());
        const quint16 port = chat->chat()->listen(m_invitation->peerAddress());
        if (port != 0 && m_invitation->accept(port)) {
            ShowChatWindow(chat);
        } else {
            delete chat;
            chat = nullptr;
        }
    }
    closeWindow(this);
    return chat;
}

void TfrmChatInvite::btnRejectClick() {
    m_invitation->reject();
    closeWindow(this);
}

void SetChatWindowHost(std::function<void(QWidget*)> h) {
    host() = std::move(h);
}

void ShowChatWindow(QWidget* window) {
    if (host()) {
        host()(window);
        return;
    }
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
}

TfrmChatInvite* ShowChatInvitation(QTcpSocket* connection, const QString& nickname,
                                   const QString& reason) {
    auto invitation = std::make_unique<ChatInvitation>(connection, nickname, reason);
    if (ChatInvitation::openCount() > ChatInvitation::kMaxOpen) {
        invitation->reject();
        return nullptr;
    }
    auto* window = new TfrmChatInvite(std::move(invitation));
    ShowChatWindow(window);
    return window;
}

}  // namespace mr
