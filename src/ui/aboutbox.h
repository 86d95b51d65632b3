#pragma once

#include <QDialog>
#include <QUrl>

namespace mr {

// The program's name and version, with a link to the service's home page.
class AboutBox : public QDialog {
    Q_OBJECT
public:
    explicit AboutBox(QWidget* parent = nullptr);

    // The home page is the first web host of the profile; empty when none is known.
    static QUrl homePage();
};

}  // namespace mr
