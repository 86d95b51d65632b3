#pragma once

#include "transfer/passwordcache.h"

#include <QDialog>
#include <QString>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace mr {

// Asks for the password of a protected file and checks it with the owner before closing.
// Accepted: the checked password is in password(); rejected: the user gave up.
class TdlgAskPassword : public QDialog {
    Q_OBJECT
public:
    using VerdictHandler = std::function<void(int verdict)>;
    using ErrorHandler = std::function<void(const QString& error)>;
    // Checks a password with the owner and calls exactly one handler, now or later, on the
    // dialog's thread.
    using Checker = std::function<void(const QString& password, VerdictHandler onVerdict,
                                       ErrorHandler onError)>;

    static constexpr int kCloseDelayMs = 2000;

    TdlgAskPassword(const QString& ownerNick, const QString& fileName, Checker checker,
                    QWidget* parent = nullptr);

    // The password the owner accepted.
    QString password() const { return m_password; }

    QLineEdit* txtPassword() const { return m_txtPassword; }
    QPushButton* btnValidate() const { return m_btnValidate; }
    QPushButton* btnAbort() const { return m_btnAbort; }
    QLabel* lblStatus() const { return m_lblStatus; }
    QTimer* closeTimer() const { return m_closeTimer; }

public slots:
    void btnValidateClick();

private:
    void checkDone(const QString& password, int verdict);
    void checkFailed(const QString& error);
    void setBusy(bool busy);

    QLineEdit* m_txtPassword;
    QPushButton* m_btnValidate;
    QPushButton* m_btnAbort;
    QLabel* m_lblStatus;
    QTimer* m_closeTimer;
    Checker m_checker;
    QString m_password;
};

// Asks through a modal TdlgAskPassword; check binds the dialog to the owner and the file.
class DialogPasswordPrompt : public PasswordPrompt {
public:
    using Check = std::function<void(qint32 ownerId, const QString& path, const QString& password,
                                     TdlgAskPassword::VerdictHandler onVerdict,
                                     TdlgAskPassword::ErrorHandler onError)>;

    explicit DialogPasswordPrompt(Check check, QWidget* parent = nullptr);

    std::optional<QString> ask(qint32 ownerId, const QString& ownerNick, const QString& fileName,
                               const QString& path) override;

private:
    Check m_check;
    QWidget* m_parent;
};

}  // namespace mr
