#pragma once

#include "messaging/messenger.h"

#include <QString>
#include <QTime>
#include <QWidget>

#include <functional>

class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QToolBar;
class QToolButton;

namespace mr {

class TfrmPTPRequest;

// The composer: one message to one user, delivered straight to his info socket. A window of
// its own, freed when closed; it closes once the message is sent or found undeliverable, and
// stays in the failed state when the service could not be asked.
class TMessengerSender : public QWidget {
    Q_OBJECT
public:
    using MessageSink = std::function<void(const QString&)>;

    // The plain form, with an empty body.
    TMessengerSender(qint32 userId, const QString& nickname, MessengerContext context,
                     QWidget* parent = nullptr);

    // Makes it the quoting form: the body quotes a received text.
    void quote(const QString& receivedText);
    // Where the "might be offline" warning goes; a message box unless replaced.
    void setMessageSink(MessageSink sink) { m_messageSink = std::move(sink); }

    qint32 userId() const { return m_userId; }
    QString nickname() const { return m_nickname; }
    QPlainTextEdit* Body() const { return m_Body; }
    QToolButton* ToolButton1() const { return m_ToolButton1; }
    QToolButton* btnClose() const { return m_btnClose; }
    MessageSender* sender() const { return m_sender; }

    // Send, or Ctrl+Enter in the body.
    void sendMessage();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void sent(MessageSender::Outcome outcome);
    // Through the message sink when there is one, else a warning box.
    void warn(const QString& text);

    qint32 m_userId;
    QString m_nickname;
    QPlainTextEdit* m_Body;
    QToolBar* m_ToolBar1;
    QToolButton* m_ToolButton1;
    QToolButton* m_btnClose;
    QProgressBar* m_aLogo;
    MessageSender* m_sender;
    MessageSink m_messageSink;
};

// A message received on the info socket, with the commands to answer it. A window of its own,
// freed when closed; one per message.
class TMessengerReceiver : public QWidget {
    Q_OBJECT
public:
    // address: where the message came from; port: the info port it declared. Replies look the
    // sender up again and use neither.
    TMessengerReceiver(qint32 userId, const QString& nickname, const QString& address, quint16 port,
                       const QString& text, QWidget* parent = nullptr);

    qint32 userId() const { return m_userId; }
    QString nickname() const { return m_nickname; }
    QString address() const { return m_address; }
    quint16 port() const { return m_port; }
    QPlainTextEdit* Body() const { return m_Body; }
    QToolButton* ToolButton1() const { return m_ToolButton1; }
    QMenu* PopupMenu1() const { return m_PopupMenu1; }

    // "&Reply": a new composer to the sender; this window closes.
    TMessengerSender* Reply();
    // "Reply With Quotes": the same, quoting this message.
    TMessengerSender* ReplyWithText();

private:
    qint32 m_userId;
    QString m_nickname;
    QString m_address;
    quint16 m_port;
    QString m_text;
    QPlainTextEdit* m_Body;
    QToolButton* m_ToolButton1;
    QMenu* m_PopupMenu1;
};

// The time of day in the system's long time format, without a time zone.
QString TimeOfDay(const QTime& time = QTime::currentTime());

// Where composers look their addressee up and which info port they announce; the desktop
// session sets it while it runs. Without it every composer ends in the failed state.
void SetMessengerContext(MessengerContext context);
// Opens a new composer to the user and shows it at once.
TMessengerSender* SendMessageTo(qint32 userId, const QString& nickname);
// Opens a chat request to the user, waiting for a reason.
TfrmPTPRequest* RequestChatWith(qint32 userId, const QString& nickname);
// Opens a window for a message the info socket received.
TMessengerReceiver* ShowReceivedMessage(qint32 userId, const QString& nickname,
                                        const QString& address, quint16 port, const QString& text);

}  // namespace mr
