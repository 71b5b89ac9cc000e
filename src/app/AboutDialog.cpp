#include "app/AboutDialog.h"

#include "app/MessageBoxes.h"
#include "common/Version.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace klangor {

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
    auto *pNotice = new QLabel(QStringLiteral("Takes the sound out of your audio and video files\nand keeps "
                                              "it as MP3, WAV, FLAC, Opus, AAC, ALAC or Vorbis.\n\n"
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
