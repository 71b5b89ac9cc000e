#include "SkinPlan.h"

#include <QFontMetrics>

#include <stdexcept>
#include <string>

#include "Painters.h"
#include "skin/SkinKeys.h"

namespace klangor {

namespace skingen {

namespace {

constexpr QSize kTool{36, 32};
constexpr QSize kTitleButton{28, 26};
constexpr QSize kConvert{152, 38};

constexpr int kMainWidth = 760;
constexpr int kMainHeight = 496;

// Panels of the main window, left to right and top to bottom.
constexpr QRect kListPanel{QPoint{14, 52}, QPoint{445, 305}};
constexpr QRect kInfoPanel{QPoint{458, 52}, QPoint{745, 305}};
constexpr QRect kTimePanel{QPoint{14, 314}, QPoint{745, 411}};
constexpr QRect kOutputPanel{QPoint{14, 420}, QPoint{745, 481}};

// Top-left corners of the buttons, by layout key.
const std::map<std::string_view, QPoint> &ButtonCorners() {
    static const std::map<std::string_view, QPoint> corners = {
        {"HELP", {616, 12}},
        {"ABOUT", {648, 12}},
        {"MIN_WIN", {686, 12}},
        {"CLOSE_WIN", {718, 12}},
        {"OPEN_MOVIE", {26, 264}},
        {"REMOVE_MOVIE", {68, 264}},
        {"MOVIE_UP", {110, 264}},
        {"MOVIE_DOWN", {152, 264}},
        {"OPEN_PREVIEW", {472, 262}},
        {"PLAY_MOVIE", {26, 370}},
        {"STOP_MOVIE", {68, 370}},
        {"MUTE_MOVIE", {110, 370}},
        {"SET_START_POS", {614, 370}},
        {"SET_END_POS", {656, 370}},
        {"SELECT_ALL", {698, 370}},
        {"OUTPUT_PATH", {488, 435}},
        {"BUTTON_SETTINGS", {530, 435}},
        {"START_CONVERSION", {582, 432}},
    };
    return corners;
}

}  // namespace

const std::vector<FacePlan> &FacePlans() {
    static const std::vector<FacePlan> plans = {
        {"playbutton.jpg", Icon::Play, FaceStyle::Tool, kTool, {}},
        {"Pausebutton.jpg", Icon::Pause, FaceStyle::Tool, kTool, {}},
        {"stopbutton.jpg", Icon::Stop, FaceStyle::Tool, kTool, {}},
        {"volumebutton.jpg", Icon::Volume, FaceStyle::Tool, kTool, {}},
        {"mutebutton.jpg", Icon::Muted, FaceStyle::Tool, kTool, {}},
        {"openbutton.jpg", Icon::Open, FaceStyle::Tool, kTool, {}},
        {"removebutton.jpg", Icon::Remove, FaceStyle::Tool, kTool, {}},
        {"upbutton.jpg", Icon::Up, FaceStyle::Tool, kTool, {}},
        {"downbutton.jpg", Icon::Down, FaceStyle::Tool, kTool, {}},
        {"leftbutton.jpg", Icon::SetStart, FaceStyle::Tool, kTool, {}},
        {"rightbutton.jpg", Icon::SetEnd, FaceStyle::Tool, kTool, {}},
        {"selectallbutton.jpg", Icon::SelectAll, FaceStyle::Tool, kTool, {}},
        {"Helpbutton.jpg", Icon::Help, FaceStyle::TitleBar, kTitleButton, {}},
        {"Aboutbutton.jpg", Icon::About, FaceStyle::TitleBar, kTitleButton, {}},
        {"Convertbutton.jpg", Icon::Convert, FaceStyle::Primary, kConvert, QStringLiteral("Convert")},
        {"abortbutton.jpg", Icon::Abort, FaceStyle::Abort, kConvert, QStringLiteral("Stop")},
        {"Settingsbutton.jpg", Icon::Settings, FaceStyle::Tool, kTool, {}},
        {"Outputbutton.jpg", Icon::Folder, FaceStyle::Tool, kTool, {}},
        {"minbutton.jpg", Icon::Minimise, FaceStyle::TitleBar, kTitleButton, {}},
        {"closebutton.jpg", Icon::Close, FaceStyle::Close, kTitleButton, {}},
        {"previewbutton.jpg", Icon::Preview, FaceStyle::Tool, kTool, {}},
        {"unpreviewbutton.jpg", Icon::Unpreview, FaceStyle::Tool, kTool, {}},
    };
    return plans;
}

const FacePlan &FacePlanFor(std::string_view strFile) {
    for (const FacePlan &plan : FacePlans()) {
        if (plan.strFile == strFile) {
            return plan;
        }
    }
    throw std::runtime_error("no face plan for " + std::string(strFile));
}

const std::map<std::string_view, QRect> &MainPlaces() {
    static const std::map<std::string_view, QRect> places = [] {
        std::map<std::string_view, QRect> m;
        for (const klangor::SkinButtonRow &row : klangor::kSkinButtonRows) {
            const auto it = ButtonCorners().find(row.strKey);
            if (it == ButtonCorners().end()) {
                throw std::runtime_error("no place for " + std::string(row.strKey));
            }
            m.emplace(row.strKey, QRect(it->second, FacePlanFor(row.strFaceFile).size));
        }
        m.emplace("LIST_CLIPS", QRect(26, 80, 408, 176));
        m.emplace("EDIT_CURRENT_TIME", QRect(476, 82, 256, 20));
        m.emplace("EDIT_SELECTION_TIME", QRect(476, 108, 256, 20));
        m.emplace("EDIT_SELECTION_DURATION", QRect(476, 134, 256, 20));
        m.emplace("STATIC_STATUS", QRect(476, 190, 256, 20));
        m.emplace("PROGRESS", QRect(472, 220, 262, 14));
        m.emplace("SLIDER_VIDEO_SEEK", QRect(26, 320, 708, 44));
        m.emplace("RADIO_OUTPUT_MP3", QRect(84, 442, 18, 18));
        m.emplace("RADIO_OUTPUT_WAV", QRect(150, 442, 18, 18));
        m.emplace("EDIT_OUTPUT_PATH", QRect(268, 439, 212, 24));
        m.emplace("GOTO_HOME_REGION", QRect(14, 10, 236, 32));
        return m;
    }();
    return places;
}

const WindowPlan &MainWindowPlan() {
    static const WindowPlan plan = [] {
        WindowPlan p;
        p.size = {kMainWidth, kMainHeight};
        p.nCornerRadius = 16;
        p.panels = {{kListPanel}, {kInfoPanel}, {kTimePanel}, {kOutputPanel}};
        const auto &places = MainPlaces();
        // Sunken fields under the text controls, a few pixels larger than the controls.
        p.fields.push_back(places.at("LIST_CLIPS"));
        for (std::string_view strKey :
             {"EDIT_CURRENT_TIME", "EDIT_SELECTION_TIME", "EDIT_SELECTION_DURATION", "STATIC_STATUS"}) {
            p.fields.push_back(places.at(strKey).adjusted(-4, -2, 2, 2));
        }
        p.fields.push_back(places.at("EDIT_OUTPUT_PATH"));

        using namespace theme;
        const QString strTitle = QStringLiteral("Vellumar Klangor");
        const int nVersionX = 52 + QFontMetrics(SkinFont(17, true)).horizontalAdvance(strTitle) + 8;
        p.labels = {
            {{52, 33}, strTitle, kTitle, 17, true},
            {{nVersionX, 33}, QStringLiteral("v2.31"), kHint, 12, false},
            {{28, 71}, QStringLiteral("MEDIA FILES"), kCaption, 11, true},
            {{432, 71}, QStringLiteral("audio from any video or audio file"), kHint, 11, false, true},
            {{434, 285}, QStringLiteral("Open or drop media files"), kHint, 12, false, true},
            {{472, 71}, QStringLiteral("POSITION"), kCaption, 11, true},
            {{472, 179}, QStringLiteral("CONVERSION"), kCaption, 11, true},
            {{516, 283}, QStringLiteral("Video preview"), kLabel, 12, false},
            {{164, 391}, QStringLiteral("Play  \u00b7  Stop  \u00b7  Sound"), kHint, 11, false},
            {{602, 391}, QStringLiteral("Start  \u00b7  End  \u00b7  All"), kHint, 11, false, true},
            {{28, 456}, QStringLiteral("Format"), kLabel, 12, true},
            {{106, 456}, QStringLiteral("MP3"), kLabel, 13, true},
            {{172, 456}, QStringLiteral("WAV"), kLabel, 13, true},
            {{220, 456}, QStringLiteral("Folder"), kLabel, 12, true},
        };
        return p;
    }();
    return plan;
}

const WindowPlan &PreviewWindowPlan() {
    static const WindowPlan plan = [] {
        WindowPlan p;
        p.size = {384, 312};
        p.nCornerRadius = 14;
        p.labels = {{{16, 25}, QStringLiteral("Video Preview"), theme::kTitle, 14, true}};
        return p;
    }();
    return plan;
}

QRect PreviewVideoArea() {
    return {12, 40, 360, 260};
}
QRect PreviewCloseArea() {
    return {346, 7, 26, 26};
}
QPoint PreviewOffset() {
    return {kMainWidth + 10, 0};
}

}  // namespace skingen

}  // namespace klangor
