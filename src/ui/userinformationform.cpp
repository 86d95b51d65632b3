#include "ui/userinformationform.h"

#include "service/agent.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

namespace mr {

namespace {

QString widgetName(UserInfoField field) {
    static const char* const kNames[kUserInfoFieldCount] = {
        "NickName", "Email",     "Files",     "Connection", "MoreInfo", "FirstName",
        "LastName", "BirthDate", "Languages", "Gender",     "Country",  "HomePage"};
    return QLatin1String(kNames[static_cast<int>(field)]);
}

}  // namespace

TUserInformation::TUserInformation(TMRAgentHttp* agent, qint32 userId, const QString& nickname,
                                   QWidget* parent)
    : QWidget(parent), m_agent(agent), m_userId(userId) {
    build(nickname);
}

TUserInformation::TUserInformation(const QString& nickname, QWidget* parent) : QWidget(parent) {
    build(nickname);
}

void TUserInformation::build(const QString& nickname) {
    setObjectName(QStringLiteral("UserInformation"));
    setWindowTitle(QStringLiteral("User Information"));
    setAttribute(Qt::WA_DeleteOnClose);
    m_nickname = nickname;

    for (int i = 0; i < kUserInfoFieldCount; ++i) {
        const auto field = static_cast<UserInfoField>(i);
        QWidget* w = nullptr;
        if (field == UserInfoField::MoreInfo) {
            auto* memo = new QPlainTextEdit(this);
            memo->setReadOnly(true);
            w = memo;
        } else {
            auto* edit = new QLineEdit(this);
            edit->setReadOnly(true);
            w = edit;
        }
        w->setObjectName(widgetName(field));
        m_fields[static_cast<std::size_t>(i)] = w;
    }
    auto group = [this](const QString& title, std::initializer_list<UserInfoField> fields) {
        auto* box = new QGroupBox(title);
        auto* form = new QFormLayout(box);
        for (UserInfoField f : fields) {
            QWidget* w = m_fields[static_cast<std::size_t>(f)];
            if (fields.size() == 1) {
                form->addRow(w);
            } else {
                form->addRow(UserInfoLabel(f) + QLatin1Char(':'), w);
            }
        }
        return box;
    };

    auto* general = new QWidget;
    auto* generalLayout = new QVBoxLayout(general);
    generalLayout->addWidget(
        group(QStringLiteral(" Computer  "), {UserInfoField::NickName, UserInfoField::Email}));
    generalLayout->addWidget(
        group(QStringLiteral(" Server  "), {UserInfoField::Files, UserInfoField::Connection}));
    auto* greeting = new QLabel(UserInfoLabel(UserInfoField::MoreInfo) + QLatin1Char(':'));
    greeting->setBuddy(m_fields[static_cast<std::size_t>(UserInfoField::MoreInfo)]);
    generalLayout->addWidget(greeting);
    generalLayout->addWidget(m_fields[static_cast<std::size_t>(UserInfoField::MoreInfo)], 1);

    auto* user = new QWidget;
    auto* userLayout = new QVBoxLayout(user);
    userLayout->addWidget(
        group(QStringLiteral(" Name  "), {UserInfoField::FirstName, UserInfoField::LastName}));
    userLayout->addWidget(
        group(QStringLiteral(" Other  "), {UserInfoField::BirthDate, UserInfoField::Languages,
                                           UserInfoField::Gender, UserInfoField::Country}));
    userLayout->addWidget(group(QStringLiteral(" Home Page  "), {UserInfoField::HomePage}));
    userLayout->addStretch(1);

    m_pages = new QTabWidget(this);
    m_pages->setObjectName(QStringLiteral("pages"));
    m_pages->addTab(general, QStringLiteral("General"));
    m_pages->addTab(user, QStringLiteral("User"));

    m_Dismiss = new QPushButton(QStringLiteral("&Dismiss"), this);
    m_Dismiss->setObjectName(QStringLiteral("Dismiss"));
    connect(m_Dismiss, &QPushButton::clicked, this, [this] {
        // Inside the frame the child window is what closes.
        if (parentWidget() != nullptr) {
            parentWidget()->close();
        } else {
            close();
        }
    });

    auto* statusBar = new QStatusBar(this);
    statusBar->setSizeGripEnabled(false);
    m_Status = new QLabel(QString::fromLatin1(kUserInfoRetrievingText), statusBar);
    m_Status->setObjectName(QStringLiteral("Status"));
    statusBar->addWidget(m_Status, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_Dismiss);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pages, 1);
    layout->addLayout(buttons);
    layout->addWidget(statusBar);

    setField(UserInfoField::NickName, nickname);
    setFixedSize(sizeHint().expandedTo(QSize(360, 400)));
}

QString TUserInformation::description() {
    return QStringLiteral("Displays information regarding the selected user");
}

bool TUserInformation::retrieve() {
    const bool placed =
        m_agent &&
        m_agent->RequestUserInfo(
            this, [this](TRequest& request) { InfoReply(request.failed(), request.replyData()); },
            m_userId);
    if (!placed) {
        m_Status->setText(QString::fromLatin1(kUserInfoErrorText));
        const QString text = QString::fromLatin1(kNotOnlineText);
        if (m_messageSink) {
            m_messageSink(text);
        } else {
            QMessageBox::information(this, windowTitle(), text);
        }
    }
    return placed;
}

void TUserInformation::InfoReply(bool failed, const QByteArray& data) {
    const auto info = failed ? std::nullopt : ParseUserInformation(data);
    if (!info) {
        m_Status->setText(QString::fromLatin1(kUserInfoErrorText));
        return;
    }
    const UserInfoTexts texts = UserInformationTexts(m_nickname, *info);
    for (int i = 0; i < kUserInfoFieldCount; ++i) {
        setField(static_cast<UserInfoField>(i), texts[static_cast<std::size_t>(i)]);
    }
    m_Status->setText(QString::fromLatin1(kUserInfoDoneText));
}

void TUserInformation::setField(UserInfoField field, const QString& text) {
    QWidget* w = m_fields[static_cast<std::size_t>(field)];
    if (auto* memo = qobject_cast<QPlainTextEdit*>(w)) {
        memo->setPlainText(text);
    } else {
        static_cast<QLineEdit*>(w)->setText(text);
    }
}

QString TUserInformation::fieldText(UserInfoField field) const {
    const QWidget* w = m_fields[static_cast<std::size_t>(field)];
    if (const auto* memo = qobject_cast<const QPlainTextEdit*>(w)) {
        return memo->toPlainText();
    }
    return static_cast<const QLineEdit*>(w)->text();
}

QString TUserInformation::statusText() const {
    return m_Status->text();
}

}  // namespace mr
