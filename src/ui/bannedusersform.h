#pragma once

#include <QString>
#include <QWidget>

#include <functional>

class QAction;
class QListWidget;
class QPushButton;

namespace mr {

// The users banned from this computer's files; a ban is lifted here.
class TfrmBannedUsers : public QWidget {
    Q_OBJECT
public:
    using MessageSink = std::function<void(const QString&)>;

    explicit TfrmBannedUsers(QWidget* parent = nullptr);

    // What the main window's description area says while this window is active.
    static QString description();

    // Where database failures go; a message box unless replaced.
    void setMessageSink(MessageSink sink) { m_messageSink = std::move(sink); }
    // Reads the banned users again.
    void refresh();

    QListWidget* lstUsers() const { return m_lstUsers; }
    QPushButton* btnUnBan() const { return m_btnUnBan; }
    QPushButton* btnClose() const { return m_btnClose; }
    QAction* actUnBan() const { return m_actUnBan; }

public slots:
    void btnUnBanClick();

private:
    void selectionChanged();
    void closeWindow();
    void report(const QString& message);

    QListWidget* m_lstUsers;
    QPushButton* m_btnUnBan;
    QPushButton* m_btnClose;
    QAction* m_actUnBan;
    MessageSink m_messageSink;
};

}  // namespace mr
