#pragma once

#include <QString>
#include <QStringList>

namespace mr {

struct Country {
    const char* code;  // two letters, as the profile stores it
    const char* name;
};

// The fixed country list of the registration and preferences dialogs; the profile stores the
// code at the chosen position.
const QList<Country>& countries();
QStringList countryNames();
// Empty for a negative or out-of-range index.
QString countryCodeAt(int index);
// Position of the first equal code, -1 when there is none.
int countryIndexOf(const QString& code);

}  // namespace mr
