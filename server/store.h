#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_map>

struct sqlite3;
struct sqlite3_stmt;

namespace mr::server {

// Limits on what one member may keep on the service.
inline constexpr int kMaxEntriesPerUser = 1000000;
inline constexpr int kMaxContactsPerUser = 1000;
inline constexpr qsizetype kMaxNicknameLength = 64;
inline constexpr qsizetype kMaxPasswordLength = 256;
inline constexpr qsizetype kMaxProfileText = 255;
inline constexpr qsizetype kMaxProfileMessage = 4000;
// The longest name, folder path and description of a published entry, in bytes: room for any
// name a file system gives, and a bound on what one entry adds to every search reply.
inline constexpr qsizetype kMaxEntryName = 1024;
inline constexpr qsizetype kMaxFolderPath = 4096;
inline constexpr qsizetype kMaxDescription = 4000;

struct Account {
    int id = 0;
    QString nickname;
    QString password;
    QString firstName;
    QString lastName;
    QString email;
    QString country;
    int connection = 0;
    double birthDate = 0;
    QString sex;
    QString message;
    QString languages;
    QString homepage;
    bool showInfo = true;
};

// Profile values to change; an absent value stays as it is.
struct ProfileUpdate {
    std::optional<QString> password;
    std::optional<QString> firstName;
    std::optional<QString> lastName;
    std::optional<QString> email;
    std::optional<QString> country;
    std::optional<int> connection;
    std::optional<double> birthDate;
    std::optional<QString> sex;
    std::optional<QString> message;
    std::optional<QString> languages;
    std::optional<QString> homepage;
    std::optional<bool> showInfo;

    // Every text within its limit.
    bool withinLimits() const;
};

// One published folder or file. Paths and texts are kept as the client sent their bytes, so
// that what comes back in listings matches what the owner has, byte for byte.
struct CatalogEntry {
    int owner = 0;
    QByteArray folder;  // without leading or trailing "/"; empty at the top
    QByteArray name;
    std::int32_t size = 0;  // -1 for a folder
    double date = 0;
    bool hasPassword = false;
    QByteArray description;

    bool isFolder() const { return size == -1; }
    QByteArray path() const { return folder.isEmpty() ? name : folder + '/' + name; }
    bool operator==(const CatalogEntry&) const = default;
};

// What a file search asks for. The texts are LIKE patterns ("%" any run of characters, "_"
// one), letter case ignored; a size range applies only when both ends are not -2.
struct CatalogQuery {
    QString name = QStringLiteral("%");
    QString description = QStringLiteral("%");
    std::int32_t minSize = -2;
    std::int32_t maxSize = -2;  // 0 or less: no upper end
    QString extensions = QStringLiteral("%");
    bool onlineOnly = false;
    int limit = 100;

    bool hasSizeRange() const { return minSize != -2 && maxSize != -2; }
};

// How a search finds its candidates: from the text index where the patterns allow it, or by
// reading every entry in order.
enum class SearchPlan { Auto, Scan };

struct ShareResult {
    int removed = 0;
    int added = 0;
};

// The service's lasting state in one SQLite database: accounts with their profiles,
// published catalogs and contact lists. Every change is one transaction.
class Store {
public:
    Store() = default;
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    static QString fileName() { return QStringLiteral("moonrake-server.db"); }

    // Opens the database, creating it or bringing an older layout up to date. A reader
    // connection only reads, for searches beside the writing one.
    enum class Access { ReadWrite, ReadOnly };
    bool open(const QString& dataDir, QString* error, Access access = Access::ReadWrite);
    void close();
    // Ends the statement running on this connection; callable from any thread.
    void interrupt();

    // The new account's id; 0 when the nickname is taken (in any letter case) or the
    // store failed.
    int createAccount(const QString& nickname, const QString& password);
    std::optional<Account> account(int id) const;
    // Passwords arrive as TextFromPeer reads them: bytes that are not UTF-8 stay one character
    // each, so two different passwords never read as the same text.
    bool checkPassword(int id, const QString& password) const;
    // 0 when no member has that nickname (in any letter case).
    int idOfNickname(const QString& nickname) const;
    bool updateProfile(int id, const ProfileUpdate& update);
    int accountCount() const;
    // Calls visit for each account in nickname order until it returns false.
    void forEachAccount(const std::function<bool(const Account&)>& visit) const;

    // The most entries one member may publish; kMaxEntriesPerUser unless set.
    void setMaxEntriesPerUser(int limit) { m_maxEntries = limit; }

    // Removes each path with everything below it, then adds or replaces the entries, all or
    // nothing. Nothing when the owner would exceed the entry limit or the store failed.
    std::optional<ShareResult> applyShareChanges(int owner, const QList<QByteArray>& removals,
                                                 const QList<CatalogEntry>& additions);
    // The entries directly in one folder of a member's catalog, folders first, then by name.
    QList<CatalogEntry> listFolder(int owner, const QByteArray& folder) const;
    // Entries matching the query, at most query.limit: those of the present members (sorted
    // ids) first, then, unless query.onlineOnly, everybody else's; each member's entries in
    // the order he published them.
    QList<CatalogEntry> search(const CatalogQuery& query, const QList<int>& present,
                               SearchPlan plan = SearchPlan::Auto) const;
    // Published files, folders not counted; of one owner or of everybody.
    int fileCount(std::optional<int> owner = std::nullopt) const;

    QList<int> contacts(int owner) const;
    // False when the store failed or the list is full.
    bool addContact(int owner, int contact);
    bool removeContact(int owner, int contact);

private:
    bool exec(const char* sql) const;
    bool upgrade();
    bool begin();
    bool commit();
    void rollback();

    // What every sign-on and contacts poll runs, prepared once per connection; sql must be
    // text that lives as long as the program, as its address names it.
    sqlite3_stmt* prepared(const char* sql) const;

    sqlite3* m_db = nullptr;
    int m_maxEntries = kMaxEntriesPerUser;
    mutable std::unordered_map<const char*, sqlite3_stmt*> m_prepared;
};

}  // namespace mr::server
