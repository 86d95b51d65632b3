#pragma once

#include "messaging/feedbackmail.h"

#include <QString>
#include <QWidget>

#include <functional>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QTextBrowser;

namespace mr {

// A comment to the service's operator, sent as one plain-text mail; the window closes after
// the attempt.
class TfrmFeedBack : public QWidget {
    Q_OBJECT
public:
    using MessageSink = std::function<void(const QString&)>;

    explicit TfrmFeedBack(QWidget* parent = nullptr);
    ~TfrmFeedBack() override;

    // What the main window's description area says while this window is active.
    static QString description();

    // Where failure messages go; a message box unless replaced.
    void setMessageSink(MessageSink sink) { m_messageSink = std::move(sink); }
    // How long the result stays readable before the window closes.
    void setCloseDelay(int ms) { m_closeDelayMs = ms; }

    QPlainTextEdit* txtMsg() const { return m_txtMsg; }
    QPushButton* btnSend() const { return m_btnSend; }
    QLabel* statusText() const { return m_statusText; }
    FeedbackMail* mail() const { return m_feedBack; }

private:
    void btnSendClick();
    void mailFinished(FeedbackMail::Result result, const QString& detail);
    void closeWindow();

    QTextBrowser* m_txtNote;
    QPlainTextEdit* m_txtMsg;
    QPushButton* m_btnSend;
    QStatusBar* m_status;
    QLabel* m_statusText;
    FeedbackMail* m_feedBack;
    MessageSink m_messageSink;
    int m_closeDelayMs = 1500;
};

}  // namespace mr
