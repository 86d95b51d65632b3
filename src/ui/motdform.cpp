#include "ui/motdform.h"

#include "ui/richtext.h"

#include <QPainter>
#include <QPixmap>
#include <QTextBrowser>
#include <QTextCursor>
#include <QVBoxLayout>

namespace mr {

namespace {

// A quiet diagonal weave, repeated over the whole window.
QPixmap wallpaperTile() {
    QPixmap tile(24, 24);
    tile.fill(QColor(0x1f, 0x2a, 0x44));
    QPainter p(&tile);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x2c, 0x3b, 0x5e), 2));
    p.drawLine(0, 24, 24, 0);
    p.setPen(QPen(QColor(0x26, 0x33, 0x52), 1));
    p.drawLine(0, 0, 24, 24);
    return tile;
}

}  // namespace

TfrmMotd::TfrmMotd(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmMotd"));
    setWindowTitle(QStringLiteral("Moonrake message of the day"));
    setAttribute(Qt::WA_DeleteOnClose);
    // Fixed border with system menu and minimise button.
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setAutoFillBackground(true);
    QPalette background = palette();
    background.setBrush(QPalette::Window, QBrush(wallpaperTile()));
    setPalette(background);

    m_view = new QTextBrowser(this);
    m_view->setObjectName(QStringLiteral("txtMotd"));
    m_view->setReadOnly(true);
    m_view->setFocusPolicy(Qt::NoFocus);
    m_view->setOpenExternalLinks(true);
    // The text stands on a rounded, nearly opaque white field that paintEvent draws over the
    // wallpaper; a style sheet would put a style-sheet style over the whole program.
    m_view->setFrameShape(QFrame::NoFrame);
    m_view->viewport()->setAutoFillBackground(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->addWidget(m_view);
    setFixedSize(480, 360);
}

QString TfrmMotd::messageOf(const QStringList& lines) {
    return lines.mid(4).join(QLatin1Char('\n'));
}

void TfrmMotd::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 235));
    painter.drawRoundedRect(QRectF(m_view->geometry()), 4, 4);
}

void TfrmMotd::loadMessage(const QStringList& lines) {
    m_view->clear();
    const QString text = messageOf(lines);
    // Anything but RTF is plain text, tags and line breaks as written.
    if (isRtf(text)) {
        QTextCursor cursor(m_view->document());
        insertRichRuns(cursor, parseRtf(text));
    } else {
        m_view->setPlainText(text);
    }
}

}  // namespace mr
