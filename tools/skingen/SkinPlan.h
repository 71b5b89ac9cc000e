#pragma once

#include <QColor>
#include <QRect>
#include <QString>
#include <map>
#include <string_view>
#include <vector>

namespace klangor {

// The whole default skin as data: window sizes, where every control stands, the panels and labels
// painted on the backgrounds, the look of every button, and the layout file's colours. The painters
// and the layout writer all read this one plan, so a picture and its coordinates cannot drift apart.

namespace skingen {

// Colours of the theme. Everything painted on a window background stays clear of near-white (some
// component at or below 200), since near-white pixels cut holes in the window.
namespace theme {
inline const QColor kOutside{255, 255, 255};  // around the rounded corners: cut away
inline const QColor kWindowTop{30, 35, 46};
inline const QColor kWindowBottom{22, 26, 34};
inline const QColor kWindowEdge{58, 68, 88};
inline const QColor kPanel{34, 40, 52};
inline const QColor kPanelEdge{50, 59, 76};
inline const QColor kField{19, 23, 30};
inline const QColor kFieldEdge{56, 66, 85};
inline const QColor kCaption{64, 190, 176};
inline const QColor kLabel{160, 174, 194};
inline const QColor kHint{100, 112, 132};
inline const QColor kTitle{176, 190, 210};
inline const QColor kAccent{42, 170, 160};
inline const QColor kBand{58, 68, 88};
inline const QColor kCursor{245, 176, 66};
inline const QColor kStartMark{92, 206, 128};
inline const QColor kEndMark{236, 98, 98};
inline const QColor kEditText{226, 232, 240};
inline const QColor kStaticText{196, 210, 226};
inline const QColor kVideo{8, 10, 13};
}  // namespace theme

enum class FaceStyle {
    Tool,      // the ordinary square tool button
    TitleBar,  // small buttons in the title strip
    Close,     // title-bar close: turns red under the pointer
    Primary,   // the convert button
    Abort,     // the stop-conversion button in the convert button's place
};

enum class Icon {
    Play,
    Pause,
    Stop,
    Volume,
    Muted,
    Open,
    Remove,
    Up,
    Down,
    SetStart,
    SetEnd,
    SelectAll,
    Help,
    About,
    Convert,
    Abort,
    Settings,
    Folder,
    Minimise,
    Close,
    Preview,
    Unpreview,
};

struct FacePlan {
    std::string_view strFile;
    Icon icon;
    FaceStyle style;
    QSize size;          // one face; the strip is four times as wide
    QString strCaption;  // text beside the icon (wide buttons only)
};

struct Label {
    QPoint ptBaseline;
    QString strText;
    QColor colour;
    int nPixelSize;
    bool bBold;
    bool bRightAligned = false;
};

struct Panel {
    QRect rc;
};

struct WindowPlan {
    QSize size;
    int nCornerRadius;
    std::vector<Panel> panels;
    std::vector<QRect> fields;  // sunken text areas painted under text controls
    std::vector<Label> labels;
};

// Face plans, one per face file of the key table.
const std::vector<FacePlan> &FacePlans();
const FacePlan &FacePlanFor(std::string_view strFile);

// Where each key of the main window stands: x and y for buttons (their size comes from the face),
// x, y, width and height for the other controls.
const std::map<std::string_view, QRect> &MainPlaces();
const WindowPlan &MainWindowPlan();

// The preview window: its background and its two areas.
const WindowPlan &PreviewWindowPlan();
QRect PreviewVideoArea();
QRect PreviewCloseArea();
QPoint PreviewOffset();

// The timeline look.
inline constexpr int kBandHeight = 8;
inline constexpr int kCursorWidth = 6;
inline const QSize kCursorPictureSize{12, 20};

}  // namespace skingen

}  // namespace klangor
