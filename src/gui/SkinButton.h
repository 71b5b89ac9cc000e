#pragma once

#include "skin/SkinImage.h"

#include <QAbstractButton>
#include <QPixmap>
#include <QProxyStyle>
#include <QString>

#include <array>
#include <filesystem>

namespace klangor {

// Which face a button shows: pressed beats focused (the hover face is the focused face), and a disabled
// button shows its disabled face when it has one. A face that is missing falls back to the normal face.
ButtonFace ChooseSkinFace(bool bPressed, bool bFocused, bool bDisabled, const std::array<bool, 4> &hasFace);

// The tooltip behaviour shared by every skinned button of a window: tips appear 100 ms after the pointer
// stops over a button and stay up for 10 seconds. Qt reads the wake-up delay from the widget's style, so
// the buttons get this proxy style; it owns nothing and must outlive the buttons it is set on.
class SkinToolTip : public QProxyStyle {
    Q_OBJECT
public:
    static constexpr int kAutomaticDelayMs = 100;
    static constexpr int kAutoPopDelayMs = 10000;

    explicit SkinToolTip(QObject *pParent = nullptr);
    int styleHint(StyleHint hint, const QStyleOption *pOption = nullptr, const QWidget *pWidget = nullptr,
                  QStyleHintReturn *pReturn = nullptr) const override;
    // Gives the widget its tip text and the delays above.
    void AddTool(QWidget *pWidget, const QString &strText);
};

// A push button drawn with four faces cut from one picture strip, with a hover face shown while the
// pointer is over it. Clicks are ordinary clicked() signals. Window thread only.
class SkinButton : public QAbstractButton {
    Q_OBJECT
public:
    SkinButton(int nId, QWidget *pParent);

    // Loads the faces, moves the button to x, y at the normal face's size and registers its tooltip.
    // Returns false when the strip cannot be loaded: the button then stands at x, y with no size, gets no
    // tooltip, paints nothing, takes no clicks and no focus.
    bool AttachSkin(const std::filesystem::path &pathFaceFile, int x, int y, SkinToolTip &toolTip,
                    const QString &strToolTip);
    // Cuts the strip into its four faces (q = width / 4 columns each) and sizes the button to the normal
    // face without moving it.
    bool LoadFaces(const std::filesystem::path &pathFaceFile);

    bool HasFace(ButtonFace face) const { return !m_faces[face].isNull(); }
    const QPixmap &Face(ButtonFace face) const { return m_faces[face]; }
    // The face the next paint draws.
    ButtonFace CurrentFace() const;
    bool IsHover() const { return m_bHover; }
    bool IsFaceless() const { return m_bFaceless; }

    QSize sizeHint() const override;

protected:
    bool event(QEvent *pEvent) override;
    void paintEvent(QPaintEvent *pEvent) override;
    void mouseMoveEvent(QMouseEvent *pEvent) override;
    void mouseReleaseEvent(QMouseEvent *pEvent) override;
    void enterEvent(QEnterEvent *pEvent) override;
    void leaveEvent(QEvent *pEvent) override;

private:
    void SetHover(bool bHover);

    int m_nId;
    std::array<QPixmap, 4> m_faces;
    bool m_bHover = false;
    bool m_bClicked = false;
    bool m_bFaceless = false;  // the face strip could not be loaded
};

}  // namespace klangor
