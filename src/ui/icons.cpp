#include "ui/icons.h"

#include <QPainter>
#include <QPainterPath>

#include <array>

namespace mr {

namespace {

constexpr std::array<const char*, 18> kCommandImages = {
    "chat",      "favorites",   "filesearch",  "usersearch", "localfiles",  "sharefiles",
    "transfers", "bannedusers", "sharewizard", "close",      "tilevert",    "tilehoriz",
    "cascade",   "feedback",    "connect",     "disconnect", "downloaddir", "preferences",
};

constexpr int kTaskImageSize = 16;
constexpr int kTaskImageScale = 2;  // drawn at twice the size for high-density screens

QPixmap blankTaskImage() {
    QPixmap pixmap(kTaskImageSize * kTaskImageScale, kTaskImageSize * kTaskImageScale);
    pixmap.setDevicePixelRatio(kTaskImageScale);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

QIcon runningImage(int phase) {
    QPixmap pixmap = blankTaskImage();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF ring(2.5, 2.5, 11, 11);
    p.setPen(QPen(QColor(0xcf, 0xe3, 0xf7), 2.5));
    p.drawEllipse(ring);
    p.setPen(QPen(QColor(0x3b, 0x82, 0xc4), 2.5, Qt::SolidLine, Qt::RoundCap));
    // Two opposite arcs: alternating them reads as a slow spin.
    p.drawArc(ring, (phase == 0 ? 45 : 225) * 16, 150 * 16);
    return QIcon(pixmap);
}

QIcon finishedImage(bool success, qreal opacity) {
    QPixmap pixmap = blankTaskImage();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setOpacity(opacity);
    p.setPen(Qt::NoPen);
    p.setBrush(success ? QColor(0x3f, 0xa3, 0x4d) : QColor(0xd6, 0x45, 0x45));
    p.drawEllipse(QRectF(1, 1, 14, 14));
    p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    if (success) {
        QPainterPath tick;
        tick.moveTo(4.6, 8.3);
        tick.lineTo(7, 10.7);
        tick.lineTo(11.4, 5.6);
        p.drawPath(tick);
    } else {
        p.drawLine(QPointF(5.5, 5.5), QPointF(10.5, 10.5));
        p.drawLine(QPointF(10.5, 5.5), QPointF(5.5, 10.5));
    }
    return QIcon(pixmap);
}

// Opacity of step `step` of `steps` while a finished task fades out.
qreal fade(int step, int steps) {
    return 1.0 - 0.75 * step / (steps - 1);
}

}  // namespace

QIcon commandImage(int index) {
    if (index < 0 || index >= static_cast<int>(kCommandImages.size())) {
        return {};
    }
    return QIcon(QStringLiteral(":/icons/%1.png").arg(QLatin1String(kCommandImages[index])));
}

QIcon applicationIcon() {
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/moonrake.png"));
    icon.addFile(QStringLiteral(":/icons/moonrake@2x.png"));
    return icon;
}

QPixmap logoImage() {
    QPixmap logo(QStringLiteral(":/icons/logo.png"));
    logo.setDevicePixelRatio(2);
    return logo;
}

QPixmap onlineImage(bool online) {
    return QIcon(online ? QStringLiteral(":/icons/online.png")
                        : QStringLiteral(":/icons/offline.png"))
        .pixmap(16, 16);
}

QIcon taskImage(int index) {
    constexpr int kRunning = 2;
    constexpr int kSuccessSteps = 8;
    constexpr int kFailureSteps = 15;
    if (index < 0) {
        return {};
    }
    if (index < kRunning) {
        return runningImage(index);
    }
    if (index < kRunning + kSuccessSteps) {
        return finishedImage(true, fade(index - kRunning, kSuccessSteps));
    }
    if (index < kRunning + kSuccessSteps + kFailureSteps) {
        return finishedImage(false, fade(index - kRunning - kSuccessSteps, kFailureSteps));
    }
    return {};
}

}  // namespace mr
