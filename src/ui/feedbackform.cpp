#include "ui/feedbackform.h"

#include "core/profile.h"
#include "core/userinfo.h"

#include <QLabel>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTextBrowser>
#include <QTimer>
#include <QVBoxLayout>

namespace mr {

TfrmFeedBack::TfrmFeedBack(QWidget* parent)
    : QWidget(parent),
      m_txtNote(new QTextBrowser(this)),
      m_txtMsg(new QPlainTextEdit(this)),
      m_btnSend(new QPushButton(QStringLiteral("Send Feedback"), this)),
      m_status(new QStatusBar(this)),
      m_statusText(new QLabel(this)),
      m_feedBack(new FeedbackMail(this)) {
    setObjectName(QStringLiteral("frmFeedBack"));
    setWindowTitle(QStringLiteral("FeedBack"));
    setAttribute(Qt::WA_DeleteOnClose);

    m_txtNote->setObjectName(QStringLiteral("txtNote"));
    m_txtNote->setPlainText(QStringLiteral(
        "We would like to hear from you. Please write your comments and suggestions about "
        "Moonrake below: what you like, what you miss, and anything that went wrong."));
    m_txtNote->setFrameShape(QFrame::NoFrame);
    m_txtNote->setMaximumHeight(m_txtNote->fontMetrics().lineSpacing() * 4 + 8);
    m_txtMsg->setObjectName(QStringLiteral("txtMsg"));
    m_btnSend->setObjectName(QStringLiteral("btnSend"));
    m_status->setObjectName(QStringLiteral("Status"));
    m_status->setSizeGripEnabled(false);
    m_status->addWidget(m_statusText, 1);
    m_feedBack->setObjectName(QStringLiteral("FeedBack"));

    auto* label = new QLabel(QStringLiteral("FeedBack:"), this);
    label->setBuddy(m_txtMsg);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_btnSend);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_txtNote);
    layout->addWidget(label);
    layout->addWidget(m_txtMsg, 1);
    layout->addLayout(buttons);
    layout->addWidget(m_status);

    connect(m_btnSend, &QPushButton::clicked, this, &TfrmFeedBack::btnSendClick);
    connect(m_feedBack, &FeedbackMail::connected, this,
            [this] { m_statusText->setText(QString::fromLatin1(kFeedbackConnectedText)); });
    connect(m_feedBack, &FeedbackMail::sendingStarted, this,
            [this] { m_statusText->setText(QString::fromLatin1(kFeedbackSendingText)); });
    connect(m_feedBack, &FeedbackMail::finished, this, &TfrmFeedBack::mailFinished);
    resize(420, 360);
}

TfrmFeedBack::~TfrmFeedBack() = default;

QString TfrmFeedBack::description() {
    return QStringLiteral("This allows users to input their comments and questions to us");
}

void TfrmFeedBack::btnSendClick() {
    const QString text = m_txtMsg->toPlainText();
    if (text.trimmed().isEmpty() || m_feedBack->busy()) {
        return;
    }
    m_btnSend->setEnabled(false);
    m_statusText->clear();
    m_feedBack->send(FeedbackTarget::fromSettings(UserInfo().file()), UserInfo().nickname(), text);
}

void TfrmFeedBack::mailFinished(FeedbackMail::Result result, const QString&) {
    if (result == FeedbackMail::Result::Sent) {
        // Send stays off: a second mail started now would die with the closing window.
        m_statusText->setText(FeedbackMail::resultText(result));
        QTimer::singleShot(m_closeDelayMs, this, &TfrmFeedBack::closeWindow);
        return;
    }
    m_btnSend->setEnabled(true);
    m_statusText->clear();
    if (m_messageSink) {
        m_messageSink(FeedbackMail::resultText(result));
    } else {
        QMessageBox::warning(this, windowTitle(), FeedbackMail::resultText(result));
    }
    closeWindow();
}

void TfrmFeedBack::closeWindow() {
    if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget())) {
        sub->close();
    } else {
        close();
    }
}

}  // namespace mr
