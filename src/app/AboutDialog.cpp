#include "app/AboutDialog.h"

#include "app/MessageBoxes.h"
#include "common/Version.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace klangor {

namespace {

QPixmap DrawIcon(int nSize) {
    QPixmap pixmap(nSize, nSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = nSize;
    QLinearGradient gradient(0, 0, 0, s);
    gradient.setColorAt(0.0, QColor(0x3a, 0x6f, 0xb0));
    gradient.setColorAt(1.0, QColor(0x12, 0x2a, 0x4c));
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    painter.drawRoundedRect(QRectF(0.04 * s, 0.04 * s, 0.92 * s, 0.92 * s), 0.2 * s, 0.2 * s);
    // A sound wave leaving a film frame: audio taken out of any media file.
    painter.setBrush(QColor(0xf4, 0xf6, 0xfa));
    painter.drawRect(QRectF(0.18 * s, 0.3 * s, 0.22 * s, 0.4 * s));
    painter.setBrush(QColor(0x12, 0x2a, 0x4c));
    for (int i = 0; i < 3; ++i)
        painter.drawRect(QRectF(0.2 * s, (0.33 + 0.12 * i) * s, 0.04 * s, 0.07 * s));
    QPen pen(QColor(0xff, 0xc8, 0x3c), 0.06 * s, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    for (int i = 0; i < 3; ++i) {
        const qreal r = (0.12 + 0.11 * i) * s;
        painter.drawArc(QRectF(0.45 * s - r, 0.5 * s - r, 2 * r, 2 * r), -50 * 16, 100 * 16);
    }
    return pixmap;
}

}  // namespace

QIcon AppIcon() {
    QIcon icon;
    for (int nSize : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(DrawIcon(nSize));
    return icon;
}

AboutDialog::AboutDialog(IShellServices &shell, QWidget *pParent) : QDialog(pParent), m_shell(shell) {
    setWindowTitle(QStringLiteral("About Klangor"));
    setWindowIcon(AppIcon());

    auto *pIcon = new QLabel(this);
    pIcon->setPixmap(AppIcon().pixmap(64, 64));
    pIcon->setAlignment(Qt::AlignTop);

    m_pVersion = new QLabel(VersionText(), this);
    QFont font = m_pVersion->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.25);
    m_pVersion->setFont(font);
    m_pVersion->setObjectName(QStringLiteral("control1025"));
    auto *pNotice = new QLabel(
        QStringLiteral("Takes the sound out of your audio and video files\nand keeps it as MP3 or WAV.\n\n"
                       "Copyright \u00a9 Vellumar. All rights reserved."),
        this);

    auto *pOk = new QPushButton(QStringLiteral("OK"), this);
    pOk->setDefault(true);
    m_pHomePage = new QPushButton(QStringLiteral("Goto Home Page"), this);
    m_pHomePage->setObjectName(QStringLiteral("control1027"));
    m_pHomePage->setCursor(Qt::PointingHandCursor);
    m_pHomePage->setAutoDefault(false);
    connect(pOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_pHomePage, &QPushButton::clicked, this, &AboutDialog::OnGotoHomePage);

    pOk->setMinimumWidth(130);
    m_pHomePage->setMinimumWidth(130);
    auto *pTexts = new QVBoxLayout;
    pTexts->setSpacing(10);
    pTexts->addWidget(m_pVersion);
    pTexts->addWidget(pNotice);
    pTexts->addStretch();
    auto *pButtons = new QVBoxLayout;
    pButtons->addWidget(pOk);
    pButtons->addWidget(m_pHomePage);
    pButtons->addStretch();
    auto *pLayout = new QHBoxLayout(this);
    pLayout->setContentsMargins(20, 20, 20, 20);
    pLayout->setSpacing(16);
    pLayout->addWidget(pIcon);
    pLayout->addLayout(pTexts, 1);
    pLayout->addSpacing(12);
    pLayout->addLayout(pButtons);
    pLayout->setSizeConstraint(QLayout::SetFixedSize);
}

QString AboutDialog::VersionText() const {
    return QStringLiteral("%1 %2").arg(QString::fromUtf8(kAppTitle), QString::fromUtf8(kVersionText));
}

void AboutDialog::OnGotoHomePage() {
    // The box stays open; whether a browser came up is not checked.
    m_shell.OpenUrl(QUrl(QString::fromUtf8(kHomePageUrl)));
}

}  // namespace klangor
