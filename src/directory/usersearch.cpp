#include "directory/usersearch.h"

#include "core/datetime.h"
#include "core/fields.h"
#include "core/record.h"
#include "directory/linespeed.h"

namespace mr {

namespace {

QString searched(const QString& text) {
    return ReplaceChar(text, u'*', u'%');
}

}  // namespace

UserSearchPatterns UserSearchPatterns::byNickname(const QString& text) {
    UserSearchPatterns p;
    p.nickname = searched(text);
    return p;
}

UserSearchPatterns UserSearchPatterns::byEmail(const QString& text) {
    UserSearchPatterns p;
    p.email = searched(text);
    return p;
}

UserSearchPatterns UserSearchPatterns::byName(const QString& firstName, const QString& lastName) {
    UserSearchPatterns p;
    // One name is enough to search by: the other, left empty, matches any.
    if (!firstName.isEmpty()) {
        p.firstName = searched(firstName);
    }
    if (!lastName.isEmpty()) {
        p.lastName = searched(lastName);
    }
    return p;
}

QList<FoundUser> ParseUserSearchReply(const QByteArray& reply) {
    QList<FoundUser> users;
    qsizetype offset = 0;
    while (offset < reply.size()) {
        FoundUser user;
        std::uint8_t online = 0;
        const UnpackResult r = UnpackRecord(
            QByteArrayView(reply).sliced(offset), "IAAAAB",
            {&user.userId, &user.nickname, &user.firstName, &user.lastName, &user.email, &online});
        if (!r.ok()) {
            break;
        }
        user.online = online != 0;
        users.append(user);
        offset += r.consumed;
    }
    return users;
}

std::optional<UserInformation> ParseUserInformation(const QByteArray& reply) {
    UserInformation info;
    const UnpackResult r =
        UnpackRecord(reply, "AAAAABTBAAAI",
                     {&info.firstName, &info.lastName, &info.nickname, &info.country, &info.email,
                      &info.connection, &info.birthDate, &info.gender, &info.languages,
                      &info.greeting, &info.homePage, &info.files});
    if (!r.ok()) {
        return std::nullopt;
    }
    return info;
}

QString GenderText(std::uint8_t gender) {
    switch (gender) {
        case 'M':
            return QStringLiteral("Male");
        case 'F':
            return QStringLiteral("Female");
        default:
            return QStringLiteral("Unknown");
    }
}

QString BirthDateText(double birthDate, const QLocale& locale) {
    const QDate date = birthDate == 0 ? QDate() : fromDateTime(birthDate).date();
    if (!date.isValid()) {
        return QStringLiteral("Unknown");
    }
    return QStringLiteral("%1/%2/%3")
        .arg(date.day())
        .arg(locale.monthName(date.month(), QLocale::ShortFormat))
        .arg(date.year(), 4, 10, QLatin1Char('0'));
}

QString ConnectionText(int index) {
    const QString name = LineSpeedName(index);
    return name.isEmpty() ? LineSpeedName(0) : name;
}

QString UserInfoLabel(UserInfoField field) {
    switch (field) {
        case UserInfoField::NickName:
            return QStringLiteral("Nick Name");
        case UserInfoField::Email:
            return QStringLiteral("Email");
        case UserInfoField::Files:
            return QStringLiteral("Files");
        case UserInfoField::Connection:
            return QStringLiteral("Connection");
        case UserInfoField::MoreInfo:
            return QStringLiteral("Greeting Message");
        case UserInfoField::FirstName:
            return QStringLiteral("First Name");
        case UserInfoField::LastName:
            return QStringLiteral("Last Name");
        case UserInfoField::BirthDate:
            return QStringLiteral("Birth Date");
        case UserInfoField::Languages:
            return QStringLiteral("Languages");
        case UserInfoField::Gender:
            return QStringLiteral("Gender");
        case UserInfoField::Country:
            return QStringLiteral("Country");
        case UserInfoField::HomePage:
            return QStringLiteral("Home Page");
    }
    return {};
}

UserInfoTexts UserInformationTexts(const QString& nickname, const UserInformation& info,
                                   const QLocale& locale) {
    UserInfoTexts t;
    auto set = [&t](UserInfoField f, const QString& text) { t[static_cast<int>(f)] = text; };
    set(UserInfoField::NickName, nickname);
    set(UserInfoField::Email, info.email);
    set(UserInfoField::Files, QString::number(info.files));
    set(UserInfoField::Connection, ConnectionText(info.connection));
    // The greeting is shown as lines, whichever breaks it was written with.
    QString greeting = info.greeting;
    greeting.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    set(UserInfoField::MoreInfo, greeting);
    set(UserInfoField::FirstName, info.firstName);
    set(UserInfoField::LastName, info.lastName);
    set(UserInfoField::BirthDate, BirthDateText(info.birthDate, locale));
    set(UserInfoField::Languages, info.languages);
    set(UserInfoField::Gender, GenderText(info.gender));
    set(UserInfoField::Country, info.country);
    set(UserInfoField::HomePage, info.homePage);
    return t;
}

}  // namespace mr
