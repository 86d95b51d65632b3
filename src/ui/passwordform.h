#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class QLineEdit;

namespace mr {

// Asks for a new password twice. The result is the new password, or empty after Cancel,
// which leaves the stored password as it was.
class TfrmPassword : public QDialog {
    Q_OBJECT
public:
    static constexpr char kBothEmptyText[] = "Please enter password! or press cancel!";
    static constexpr char kDifferentText[] = "Please enter the same password in both boxes!";

    explicit TfrmPassword(QWidget* parent = nullptr);

    QString result() const { return m_result; }
    QLineEdit* txtPassword() const { return m_txtPassword; }
    QLineEdit* txtConfirm() const { return m_txtConfirm; }

    // The message for two entries, empty when they are acceptable.
    static QString validate(const QString& password, const QString& confirmation);
    // Replaces the message box, for tests.
    void setMessageSink(std::function<void(const QString&)> sink) { m_sink = std::move(sink); }

public slots:
    void btnOkClick();
    void btnCancelClick();

private:
    QLineEdit* m_txtPassword;
    QLineEdit* m_txtConfirm;
    QString m_result;
    std::function<void(const QString&)> m_sink;
};

}  // namespace mr
