#include "ui/aboutbox.h"

#include "core/profile.h"
#include "ui/icons.h"
#include "ui/version.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace mr {

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Moonrake"));

    auto* logo = new QLabel(this);
    logo->setPixmap(logoImage());
    logo->setAlignment(Qt::AlignTop);

    auto* name = new QLabel(QString::fromLatin1(kProgramName), this);
    name->setObjectName(QStringLiteral("lblProgramName"));
    QFont nameFont = name->font();
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.8);
    nameFont.setBold(true);
    name->setFont(nameFont);

    auto* version =
        new QLabel(QStringLiteral("Version ") + QString::fromLatin1(kProgramVersion), this);
    version->setObjectName(QStringLiteral("lblVersion"));
    auto* blurb = new QLabel(
        QStringLiteral("Share files, search, browse and chat on the Moonrake Network."), this);
    blurb->setWordWrap(true);

    auto* text = new QVBoxLayout;
    text->addWidget(name);
    text->addWidget(version);
    text->addSpacing(8);
    text->addWidget(blurb);

    const QUrl home = homePage();
    if (home.isValid()) {
        auto* link =
            new QLabel(QStringLiteral("<a href=\"%1\">%2</a>")
                           .arg(home.toString(QUrl::FullyEncoded), home.toString().toHtmlEscaped()),
                       this);
        link->setObjectName(QStringLiteral("lblHomePage"));
        link->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
        connect(link, &QLabel::linkActivated, this,
                [](const QString& url) { QDesktopServices::openUrl(QUrl(url)); });
        text->addSpacing(4);
        text->addWidget(link);
    }
    text->addStretch(1);

    auto* top = new QHBoxLayout;
    top->setSpacing(16);
    top->addWidget(logo);
    top->addLayout(text, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 12);
    layout->addLayout(top);
    layout->addSpacing(12);
    layout->addWidget(buttons);
    setMinimumWidth(360);
}

QUrl AboutBox::homePage() {
    const std::optional<TMRHostPort> web = HostInfo().get(HostStore::Http, 0);
    if (!web || web->host.isEmpty()) {
        return {};
    }
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(web->host);
    if (web->port > 0 && web->port != 80) {
        url.setPort(web->port);
    }
    url.setPath(QStringLiteral("/"));
    return url;
}

}  // namespace mr
