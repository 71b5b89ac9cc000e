#include "gui/SkinButton.h"

#include "gui/SkinQt.h"

#include <QEnterEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace klangor {

ButtonFace ChooseSkinFace(bool bPressed, bool bFocused, bool bDisabled, const std::array<bool, 4> &hasFace) {
    if (bPressed && hasFace[kFacePressed]) {
        return kFacePressed;
    }
    if (bFocused && hasFace[kFaceFocused]) {
        return kFaceFocused;
    }
    if (bDisabled && hasFace[kFaceDisabled]) {
        return kFaceDisabled;
    }
    return kFaceNormal;
}

SkinToolTip::SkinToolTip(QObject *pParent) {
    setParent(pParent);
}

int SkinToolTip::styleHint(StyleHint hint, const QStyleOption *pOption, const QWidget *pWidget,
                           QStyleHintReturn *pReturn) const {
    if (hint == QStyle::SH_ToolTip_WakeUpDelay) {
        return kAutomaticDelayMs;
    }
    return QProxyStyle::styleHint(hint, pOption, pWidget, pReturn);
}

void SkinToolTip::AddTool(QWidget *pWidget, const QString &strText) {
    pWidget->setStyle(this);
    pWidget->setToolTip(strText);
    pWidget->setToolTipDuration(kAutoPopDelayMs);
}

SkinButton::SkinButton(int nId, QWidget *pParent) : QAbstractButton(pParent), m_nId(nId) {
    // Hover is tracked on plain pointer moves, not only while a button is held.
    setMouseTracking(true);
    // Until it has a face there is nothing to show the focus on.
    setFocusPolicy(Qt::NoFocus);
    setObjectName(QStringLiteral("control%1").arg(nId));
}

bool SkinButton::AttachSkin(const std::filesystem::path &pathFaceFile, int x, int y, SkinToolTip &toolTip,
                            const QString &strToolTip) {
    // Screen readers name the button by what its tip says, face or no face.
    setAccessibleName(strToolTip);
    if (!LoadFaces(pathFaceFile)) {
        // No face, no target: an invisible button must not catch clicks meant for what lies under it.
        setGeometry(x, y, 0, 0);
        setAttribute(Qt::WA_TransparentForMouseEvents, true);
        setFocusPolicy(Qt::NoFocus);
        m_bFaceless = true;
        return false;
    }
    const QPixmap &normal = Face(kFaceNormal);
    setGeometry(x, y, normal.width(), normal.height());
    setAttribute(Qt::WA_TransparentForMouseEvents, false);
    // Tab reaches the button and Space presses it, as with any push button; Enter is left alone.
    setFocusPolicy(Qt::StrongFocus);
    m_bFaceless = false;
    update();
    toolTip.AddTool(this, strToolTip);
    return true;
}

bool SkinButton::LoadFaces(const std::filesystem::path &pathFaceFile) {
    for (QPixmap &face : m_faces) {
        face = QPixmap();
    }
    SkinImage strip;
    if (!strip.Open(pathFaceFile, SkinImageFormat::Gif)) {
        return false;
    }
    auto faces = CutButtonFaces(std::move(strip));
    for (size_t k = 0; k < faces.size() && k < m_faces.size(); ++k) {
        m_faces[k] = SkinImageToPixmap(faces[k]);
    }
    if (m_faces[kFaceNormal].isNull()) {
        return false;
    }
    resize(m_faces[kFaceNormal].size());
    updateGeometry();
    return true;
}

ButtonFace SkinButton::CurrentFace() const {
    std::array<bool, 4> hasFace;
    for (int k = 0; k < 4; ++k) {
        hasFace[k] = !m_faces[k].isNull();
    }
    // A disabled button gets no pointer events, so a hover seen before it was disabled is stale.
    return ChooseSkinFace(isDown(), hasFocus() || (m_bHover && isEnabled()), !isEnabled(), hasFace);
}

QSize SkinButton::sizeHint() const {
    if (!m_faces[0].isNull()) {
        return m_faces[0].size();
    }
    return QAbstractButton::sizeHint();
}

bool SkinButton::event(QEvent *pEvent) {
    // Space pressed on a focused button presses it; the window's own Space key must not take it first.
    if (pEvent->type() == QEvent::ShortcutOverride) {
        const auto *pKey = static_cast<QKeyEvent *>(pEvent);
        if (pKey->key() == Qt::Key_Space && pKey->modifiers() == Qt::NoModifier) {
            pEvent->accept();
            return true;
        }
    }
    return QAbstractButton::event(pEvent);
}

void SkinButton::paintEvent(QPaintEvent *) {
    if (m_bFaceless) {
        return;
    }
    const QPixmap &face = m_faces[CurrentFace()];
    if (face.isNull()) {
        return;
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, face);
}

void SkinButton::mouseMoveEvent(QMouseEvent *pEvent) {
    if (!m_bHover || m_bClicked) {
        m_bClicked = false;
        SetHover(true);
    }
    if (!rect().contains(pEvent->position().toPoint())) {
        SetHover(false);
    }
    QAbstractButton::mouseMoveEvent(pEvent);
}

void SkinButton::mouseReleaseEvent(QMouseEvent *pEvent) {
    // The next pointer move restores the hover face after the click's own repaint.
    m_bClicked = true;
    QAbstractButton::mouseReleaseEvent(pEvent);
}

void SkinButton::enterEvent(QEnterEvent *pEvent) {
    SetHover(true);
    QAbstractButton::enterEvent(pEvent);
}

void SkinButton::leaveEvent(QEvent *pEvent) {
    SetHover(false);
    QAbstractButton::leaveEvent(pEvent);
}

void SkinButton::SetHover(bool bHover) {
    if (m_bHover == bHover) {
        return;
    }
    m_bHover = bHover;
    update();
}

}  // namespace klangor
