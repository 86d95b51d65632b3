#pragma once

#include "directory/usersearch.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <array>
#include <functional>

class QLabel;
class QPushButton;
class QTabWidget;

namespace mr {

class TMRAgentHttp;

// One member's public profile on two pages, "General" and "User", read from the service.
class TUserInformation : public QWidget {
    Q_OBJECT
public:
    using MessageSink = std::function<void(const QString&)>;

    // Shows the nickname while retrieve() asks the service for the rest.
    TUserInformation(TMRAgentHttp* agent, qint32 userId, const QString& nickname,
                     QWidget* parent = nullptr);
    // Shows the nickname only and asks nothing.
    explicit TUserInformation(const QString& nickname, QWidget* parent = nullptr);

    static QString description();

    // Where the "online first" message goes; a message box unless replaced.
    void setMessageSink(MessageSink sink) { m_messageSink = std::move(sink); }
    // Sends the request; false, after saying so, when it could not be placed.
    bool retrieve();
    // The service's answer: the fields filled and "Done", or the error text.
    void InfoReply(bool failed, const QByteArray& data);

    QString fieldText(UserInfoField field) const;
    QString statusText() const;
    QTabWidget* pages() const { return m_pages; }
    QPushButton* Dismiss() const { return m_Dismiss; }

private:
    void build(const QString& nickname);
    void setField(UserInfoField field, const QString& text);

    QPointer<TMRAgentHttp> m_agent;
    qint32 m_userId = 0;
    QString m_nickname;
    QTabWidget* m_pages = nullptr;
    std::array<QWidget*, kUserInfoFieldCount> m_fields{};
    QLabel* m_Status = nullptr;
    QPushButton* m_Dismiss = nullptr;
    MessageSink m_messageSink;
};

}  // namespace mr
