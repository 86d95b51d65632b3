#pragma once

#include <QByteArray>
#include <QList>
#include <QLocale>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace mr {

// What the directory windows say, and the console with them.
inline constexpr char kNotOnlineText[] = "This action requires you to be Online.";
inline constexpr char kUserInfoRetrievingText[] = "Retrieving User Information...";
inline constexpr char kUserInfoDoneText[] = "Done";
inline constexpr char kUserInfoErrorText[] =
    "There was an error while getting the user's information";

// The four patterns of a user search ("V", layout "AAAA"), in the order they are packed.
// A field that is not searched is "%"; a searched one is its text with every "*" made "%",
// nothing added around it.
struct UserSearchPatterns {
    QString nickname = QStringLiteral("%");
    QString firstName = QStringLiteral("%");
    QString lastName = QStringLiteral("%");
    QString email = QStringLiteral("%");

    static UserSearchPatterns byNickname(const QString& text);
    static UserSearchPatterns byEmail(const QString& text);
    // The name option searches both name fields at once; an empty one matches any name.
    static UserSearchPatterns byName(const QString& firstName, const QString& lastName);
};

// One member of a user search reply.
struct FoundUser {
    qint32 userId = 0;
    QString nickname;
    QString firstName;
    QString lastName;
    QString email;
    bool online = false;
};

// Records "IAAAAB" (id, nickname, first name, last name, e-mail, online byte) laid end to end
// until the data is used up; a record cut short ends the list.
QList<FoundUser> ParseUserSearchReply(const QByteArray& reply);

// The "I" reply, layout "AAAAABTBAAAI".
struct UserInformation {
    QString firstName;
    QString lastName;
    QString nickname;  // not shown by the window; the reference service sends the nickname
    QString country;
    QString email;
    std::uint8_t connection = 0;
    double birthDate = 0;  // days since 1899-12-30; 0 when not given
    std::uint8_t gender = 0;
    QString languages;
    QString greeting;
    QString homePage;
    qint32 files = 0;
};

// Nothing when the record is cut short.
std::optional<UserInformation> ParseUserInformation(const QByteArray& reply);

// "Male" for M, "Female" for F, "Unknown" otherwise.
QString GenderText(std::uint8_t gender);
// "Unknown" for 0 (or a value no calendar date has), else "d/mmm/yyyy" with the locale's
// abbreviated month name.
QString BirthDateText(double birthDate, const QLocale& locale = QLocale());
// The connection type's name; "Unknown" for an index the table has no name for.
QString ConnectionText(int index);

// The fields of the user information window, in its order: the "General" page, then "User".
enum class UserInfoField {
    NickName,
    Email,
    Files,
    Connection,
    MoreInfo,
    FirstName,
    LastName,
    BirthDate,
    Languages,
    Gender,
    Country,
    HomePage,
};
inline constexpr int kUserInfoFieldCount = 12;

// The field's label, without the colon.
QString UserInfoLabel(UserInfoField field);

// Every field's text as the window shows it: the nickname it was opened with, the reply's
// values converted.
using UserInfoTexts = std::array<QString, kUserInfoFieldCount>;
UserInfoTexts UserInformationTexts(const QString& nickname, const UserInformation& info,
                                   const QLocale& locale = QLocale());

}  // namespace mr
