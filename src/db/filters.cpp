#include "db/filters.h"

#include "db/filter.h"

namespace mr::db {

QString childrenOf(int parentId) {
    return QStringLiteral("parentid = %1").arg(parentId);
}

QString pathStep(const QString& user, int parentId, const QString& name) {
    return QStringLiteral("Username = %1 and ParentId = %2 and name = %3")
        .arg(quoted(user), QString::number(parentId), quoted(name));
}

QString localFileByName(const QString& name, int parentId) {
    return QStringLiteral("Username = '' and Name = %1 and ParentId = %2 and Attributes=0")
        .arg(quoted(name), QString::number(parentId));
}

QString rowById(int id) {
    return QStringLiteral("id = %1").arg(id);
}

QString pendingRemovalById(int id) {
    return QStringLiteral("id = %1 and Action='D'").arg(id);
}

QString childrenForDisplay(const QString& user, int parentId) {
    QString text = QStringLiteral("Username=%1 and ParentId = %2")
                       .arg(quoted(user), QString::number(parentId));
    if (user.isEmpty())
        text += QStringLiteral(" and Action <> 'D'");
    return text;
}

QString sharedFolder(const QString& fileName) {
    return QStringLiteral("username = '' and filename =%1 and action <> 'D'").arg(quoted(fileName));
}

QString subtreeSizeFilter(const QString& user, int parentId, bool isRoot) {
    if (isRoot)
        return QStringLiteral("username = %1 and  ParentId = -1").arg(quoted(user));
    return QStringLiteral(" ParentId = %1").arg(parentId);
}

QString rootFiles(int parentId) {
    return QStringLiteral("username = '' and parentid = %1 and attributes = 0").arg(parentId);
}

QString pendingChanges() {
    return QStringLiteral("username = '' and (ACTION = 'A' or ACTION = 'D')");
}

QString pendingRemovals() {
    return QStringLiteral("username = '' and Action='D'");
}

QString pendingAdditions() {
    return QStringLiteral("username = '' and action = 'A'");
}

QString publishBatchStatement(const QList<int>& ids) {
    // Built in pieces: the head line, then "(", the ids joined by "," and ")" on a second one.
    QStringList lines{QStringLiteral("update files set action = '' where id in "),
                      QStringLiteral("(")};
    for (qsizetype i = 0; i < ids.size(); ++i) {
        if (i > 0)
            lines.last() += u',';
        lines.last() += QString::number(ids[i]);
    }
    // Only rows still waiting for publication: a row removed since the batch went out keeps "D".
    lines.last() += QStringLiteral(") and action = 'A'");
    return lines.join(QString());
}

QString folderListing(int parentId) {
    return QStringLiteral("parentid = %1").arg(parentId);
}

QString publishedFile(int id) {
    return QStringLiteral("id = %1 and Action = ''").arg(id);
}

QString creditFileData(int id) {
    return QStringLiteral("id = %1").arg(id);
}

QString creditAccount(const QString& user) {
    return QStringLiteral("username = %1").arg(quoted(user));
}

QString bannedPeers(int status) {
    return QStringLiteral("Status=%1").arg(status);
}

QString creditByUserName(const QString& user) {
    return QStringLiteral("UserName=%1").arg(quoted(user));
}

QString contactByName(const QString& user) {
    return QStringLiteral("Username=%1").arg(quoted(user));
}

}  // namespace mr::db
