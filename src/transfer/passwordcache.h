#pragma once

#include <QList>
#include <QMutex>
#include <QString>

#include <exception>
#include <optional>

namespace mr {

// A password the user typed for one owner's folder or file.
struct TPasswordItem {
    qint32 UserId = 0;
    QString Path;
    QString Password;
};

// The user abandoned the password dialog.
class EPasswordAbort : public std::exception {
public:
    const char* what() const noexcept override;
};

// Asks the user for the password of a protected file; the desktop shows a dialog that checks
// the password with the owner before it closes.
class PasswordPrompt {
public:
    virtual ~PasswordPrompt();
    // The accepted password, or nothing when the user gave up. fileName is the file asked for
    // (the desktop checks the password against it), path what the password is kept for.
    virtual std::optional<QString> ask(qint32 ownerId, const QString& ownerNick,
                                       const QString& fileName, const QString& path) = 0;
};

// Passwords typed during this run, per owner and path; nothing is written to disk.
class TPasswordCache {
public:
    // The prompt is not owned; null means nobody can be asked.
    void setPrompt(PasswordPrompt* prompt);
    PasswordPrompt* prompt() const;

    // A cached password of the owner for a path inside path, unless force; otherwise asks the
    // prompt and remembers the answer. Throws EPasswordAbort when the prompt is abandoned.
    QString GetPassword(qint32 ownerId, const QString& path, const QString& ownerNick,
                        const QString& fileName, bool force);

    // Sorted by user id, then path without regard to case.
    QList<TPasswordItem> items() const;
    void clear();

private:
    std::optional<QString> cached(qint32 ownerId, const QString& path) const;
    void remember(qint32 ownerId, const QString& path, const QString& password);

    mutable QMutex m_mutex;
    QList<TPasswordItem> m_items;
    PasswordPrompt* m_prompt = nullptr;
};

// The one cache of the running program.
TPasswordCache& PasswordCache();

}  // namespace mr
