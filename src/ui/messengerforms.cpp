#include "ui/messengerforms.h"

#include "ui/chatforms.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QScreen>
#include <QTime>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace mr {

namespace {

MessengerContext& context() {
    static MessengerContext c;
    return c;
}

constexpr QSize kWindowSize(380, 260);

// Fixed size, in the middle of the screen, freed when closed.
void placeAlone(QWidget* window) {
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setFixedSize(kWindowSize);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        window->move(screen->availableGeometry().center() - window->rect().center());
    }
}

QToolButton* toolButton(const char* name, const QString& caption, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setText(caption);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    return button;
}

}  // namespace

QString TimeOfDay(const QTime& time) {
    static const QRegularExpression kZone(QStringLiteral("\\s*t+"));
    const QLocale locale;
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(kZone);
    return locale.toString(time, format);
}

TMessengerSender::TMessengerSender(qint32 userId, const QString& nickname, MessengerContext context,
                                   QWidget* parent)
    : QWidget(parent, Qt::Window),
      m_userId(userId),
      m_nickname(nickname),
      m_Body(new QPlainTextEdit(this)),
      m_ToolBar1(new QToolBar(this)),
      m_aLogo(new QProgressBar(this)),
      m_sender(new MessageSender(std::move(context), this)) {
    setObjectName(QStringLiteral("MessengerSender"));
    setWindowTitle(QStringLiteral("Send Message To:") + nickname);

    m_Body->setObjectName(QStringLiteral("Body"));
    m_Body->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_Body->installEventFilter(this);
    m_ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    m_ToolButton1 = toolButton("ToolButton1", QStringLiteral("        &Send        "), m_ToolBar1);
    m_btnClose = toolButton("btnClose", QStringLiteral("Close"), m_ToolBar1);
    m_ToolBar1->addWidget(m_ToolButton1);
    m_ToolBar1->addWidget(m_btnClose);
    // Busy while the addressee is looked up and reached.
    m_aLogo->setObjectName(QStringLiteral("aLogo"));
    m_aLogo->setRange(0, 0);
    m_aLogo->setTextVisible(false);
    m_aLogo->setMaximumWidth(80);
    m_aLogo->setVisible(false);
    m_ToolBar1->addWidget(m_aLogo);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(m_ToolBar1);
    layout->addWidget(m_Body, 1);

    connect(m_ToolButton1, &QToolButton::clicked, this, &TMessengerSender::sendMessage);
    connect(m_btnClose, &QToolButton::clicked, this, &QWidget::close);
    connect(m_sender, &MessageSender::finished, this, &TMessengerSender::sent);
    placeAlone(this);
}

void TMessengerSender::quote(const QString& receivedText) {
    setWindowTitle(QStringLiteral("Quote And Send Message To:") + m_nickname);
    m_Body->setPlainText(QuotedMessage(m_nickname, receivedText));
}

bool TMessengerSender::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_Body && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            key->modifiers().testFlag(Qt::ControlModifier)) {
            sendMessage();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TMessengerSender::sendMessage() {
    if (!m_Body->isEnabled()) {
        return;
    }
    m_Body->setEnabled(false);
    m_ToolBar1->setEnabled(false);
    m_aLogo->setVisible(true);
    m_sender->send(m_userId, MessageBodyFromText(m_Body->toPlainText()));
}

void TMessengerSender::warn(const QString& text) {
    if (m_messageSink) {
        m_messageSink(text);
    } else {
        QMessageBox::warning(this, windowTitle(), text);
    }
}

void TMessengerSender::sent(MessageSender::Outcome outcome) {
    switch (outcome) {
        case MessageSender::Outcome::Delivered:
            close();
            break;
        case MessageSender::Outcome::Offline:
            warn(QString::fromLatin1(kMessageOfflineText));
            close();
            break;
        case MessageSender::Outcome::TooLong:
            // The window stays, for the user to shorten the message and send it again.
            warn(QString::fromLatin1(kMessageTooLongText));
            m_aLogo->setVisible(false);
            m_ToolBar1->setEnabled(true);
            m_Body->setEnabled(true);
            break;
        case MessageSender::Outcome::Failed:
            // The window stays for the user to read and close.
            setWindowTitle(QString::fromLatin1(kMessageFailedText));
            m_aLogo->setVisible(false);
            m_ToolBar1->setEnabled(true);
            m_ToolButton1->setEnabled(false);
            m_btnClose->setEnabled(true);
            break;
    }
}

TMessengerReceiver::TMessengerReceiver(qint32 userId, const QString& nickname,
                                       const QString& address, quint16 port, const QString& text,
                                       QWidget* parent)
    : QWidget(parent, Qt::Window),
      m_userId(userId),
      m_nickname(nickname),
      m_address(address),
      m_port(port),
      m_text(text),
      m_Body(new QPlainTextEdit(this)),
      m_PopupMenu1(new QMenu(this)) {
    setObjectName(QStringLiteral("MessengerReceiver"));
    setWindowTitle(QStringLiteral("Received Message From:") + nickname + QStringLiteral(" Time:") +
                   TimeOfDay());

    m_Body->setObjectName(QStringLiteral("Body"));
    m_Body->setReadOnly(true);
    m_Body->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_Body->setPlainText(MessageLines(text).join(QLatin1Char('\n')));

    auto* toolBar = new QToolBar(this);
    m_ToolButton1 = toolButton("ToolButton1", QStringLiteral("      &Reply   "), toolBar);
    m_PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    QAction* reply = m_PopupMenu1->addAction(QStringLiteral("&Reply"));
    reply->setObjectName(QStringLiteral("Reply"));
    QAction* replyWithText = m_PopupMenu1->addAction(QStringLiteral("Reply With Quotes"));
    replyWithText->setObjectName(QStringLiteral("ReplyWithText"));
    m_ToolButton1->setMenu(m_PopupMenu1);
    m_ToolButton1->setPopupMode(QToolButton::MenuButtonPopup);
    auto* close = toolButton("ToolButton3", QStringLiteral("       &Close     "), toolBar);
    toolBar->addWidget(m_ToolButton1);
    toolBar->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(toolBar);
    layout->addWidget(m_Body, 1);

    connect(m_ToolButton1, &QToolButton::clicked, this, &TMessengerReceiver::Reply);
    connect(reply, &QAction::triggered, this, &TMessengerReceiver::Reply);
    connect(replyWithText, &QAction::triggered, this, &TMessengerReceiver::ReplyWithText);
    connect(close, &QToolButton::clicked, this, &QWidget::close);
    placeAlone(this);
}

TMessengerSender* TMessengerReceiver::Reply() {
    TMessengerSender* composer = SendMessageTo(m_userId, m_nickname);
    close();
    return composer;
}

TMessengerSender* TMessengerReceiver::ReplyWithText() {
    auto* composer = new TMessengerSender(m_userId, m_nickname, context());
    composer->quote(m_text);
    composer->show();
    close();
    return composer;
}

void SetMessengerContext(MessengerContext c) {
    context() = std::move(c);
}

TMessengerSender* SendMessageTo(qint32 userId, const QString& nickname) {
    auto* composer = new TMessengerSender(userId, nickname, context());
    composer->show();
    return composer;
}

TfrmPTPRequest* RequestChatWith(qint32 userId, const QString& nickname) {
    auto* form = new TfrmPTPRequest(userId, nickname, context().locate);
    ShowChatWindow(form);
    return form;
}

TMessengerReceiver* ShowReceivedMessage(qint32 userId, const QString& nickname,
                                        const QString& address, quint16 port, const QString& text) {
    auto* window = new TMessengerReceiver(userId, nickname, address, port, text);
    window->show();
    return window;
}

}  // namespace mr
