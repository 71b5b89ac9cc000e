#pragma once

#include "app/MessageBoxes.h"
#include "player/PlaybackGraph.h"
#include "player/VideoSurface.h"
#include "convert/Loudness.h"
#include "settings/EncoderSettings.h"
#include "gui/SkinButton.h"
#include "skin/SkinLayout.h"
#include "gui/SkinnedDialog.h"
#include "gui/TimelineBar.h"

#include <QIcon>
#include <QStringList>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QProgressBar;
class QRadioButton;
class QSlider;
class IPreviewView;
class MediaPlayer;
class PreviewCommands;

namespace klangor {

class MainWindowConversion;
class PreviewPlayerWindow;
class VideoPreviewWindow;

// Control ids of the main window: what the skin layout, the command table and the tests call each
// control by.
enum MainControlId : int {
    kIdOpenFile = 1000,
    kIdPlay = 1002,
    kIdStop = 1003,
    kIdStepFrame = 1004,
    kIdSeekBar = 1005,
    kIdMute = 1006,
    kIdSetStart = 1007,
    kIdRemove = 1008,
    kIdCurrentTime = 1009,
    kIdSetEnd = 1010,
    kIdSelectionTime = 1011,
    kIdSelectionDuration = 1012,
    kIdSelectAll = 1013,
    kIdNormalSpeed = 1014,
    kIdRateText = 1015,
    kIdVolumeSlider = 1016,
    kIdRateSlider = 1017,
    kIdMinimize = 1018,
    kIdClose = 1019,
    kIdOutputPath = 1020,
    kIdClipList = 1021,
    kIdMoveUp = 1022,
    kIdMoveDown = 1023,
    kIdAbout = 1024,
    kIdStartConvert = 1025,
    kIdStopConvert = 1026,
    kIdHelp = 1028,
    kIdProgress = 1029,
    kIdStatus = 1030,
    kIdPause = 1031,
    kIdUnmute = 1032,
    kIdOutputFolder = 1033,
    kIdRadioMp3 = 1034,
    kIdRadioWav = 1035,
    kIdOpenPreview = 1036,
    kIdClosePreview = 1037,
    kIdSettings = 1039,
    kIdHomePage = 1040,
};

// What the main window needs from outside at construction.
struct MainWindowEnvironment {
    std::filesystem::path pathSkinFolder;       // the folder that holds position.txt and the pictures
    std::filesystem::path pathHelpFile;         // the HTML user guide; empty when none was found
    std::vector<std::string> commandLineFiles;  // media files named on the command line, as bytes, in order
    IMessageBoxes *pBoxes = nullptr;
    IShellServices *pShell = nullptr;
    // The preview's playback engine; empty for the libmpv engine.
    std::function<std::unique_ptr<IPlaybackEngine>()> fnCreateEngine;
};

// The program's one main window: a skinned, frameless window that owns every control, the preview
// player, the video preview window and the encoder settings, and routes each control's command to its
// handler. Window thread only: other threads post to it and never wait for it.
class MainWindow : public SkinnedDialog {
    Q_OBJECT
public:
    explicit MainWindow(const MainWindowEnvironment &environment, QWidget *pParent = nullptr);
    ~MainWindow() override;

    // Everything between construction and the first show: shape, menus, title, timer, skin, output
    // defaults, command-line files.
    void InitDialog();
    // Reads the layout file, places every control, gives the buttons their faces and tooltips, and sets
    // the timeline's and the texts' colours. A missing layout file is reported and closes the window.
    bool SetupSkin();

    // --- Shell operations other parts use ---
    QString GetOutputFolder() const { return m_strOutputFolder; }
    // 0 MP3, 1 WAV, -1 before initialisation.
    int GetOutputType() const { return m_iOutputType; }
    EncoderSettings &GetSettings() { return m_settings; }
    // "One file at a time" from the settings dialog: kept for the session beside the settings.
    bool &OneFileAtATime() { return m_bOneFileAtATime; }
    // Loudness normalisation from the settings dialog, kept for the session the same way.
    LoudnessTarget &Loudness() { return m_loudness; }
    const SkinLayout &GetLayout() const { return m_layout; }
    MediaPlayer *GetPlayer() const { return m_pPlayer.get(); }
    VideoPreviewWindow *GetPreviewWindow() const { return m_pPreview.get(); }
    TimelineBar *GetTimeline() const { return m_pTimeline; }
    QListWidget *GetClipListBox() const { return m_pClipList; }
    SkinToolTip &GetToolTip() { return *m_pToolTip; }
    IMessageBoxes &Boxes() { return *m_environment.pBoxes; }
    IShellServices &Shell() { return *m_environment.pShell; }
    // The conversion batch and its view on this window (Start/Stop, progress, close check).
    MainWindowConversion &GetConversion() { return *m_pConversion; }

    // The conversion's hook into the close check: returns whether a writer is running.
    void SetConvertingProbe(std::function<bool()> fnIsConverting) {
        m_fnIsConverting = std::move(fnIsConverting);
    }
    bool IsConverting() const { return m_fnIsConverting && m_fnIsConverting(); }
    // The close check: false keeps the window open (the check has told the user why).
    void SetCloseCheck(std::function<bool()> fnCanClose) { m_fnCanClose = std::move(fnCanClose); }
    // Where "Start to Convert" and "Stop Convert" lead: the conversion batch's handlers.
    void SetConversionCommands(std::function<void()> fnStart, std::function<void()> fnStop) {
        m_fnStartConvert = std::move(fnStart);
        m_fnStopConvert = std::move(fnStop);
    }

    // "Vellumar Klangor - v2.31 [path of the loaded clip]".
    void UpdateTitle();
    void TogglePreviewWindow();
    // Shows the preview window (the player does when it opens a clip), keeping the buttons in step.
    void ShowPreviewWindow();
    bool IsPreviewShown() const { return m_bPreviewShown; }
    bool IsClipLoaded() const;
    // Whether the Pause face shows (the preview runs or was asked to).
    bool IsPreviewPlaying() const;
    // The window-free clip list, selection and transport commands the handlers below forward to.
    PreviewCommands &GetPreviewCommands() { return *m_pCommands; }

    // --- Clip list and preview operations the commands build on ---
    // Adds the files to the clip list; when the list was empty, the first is loaded and left stopped.
    void AddMediaFiles(const QStringList &files);
    void RefreshClipList();
    // Loads and runs the clip at the index and sets the transport controls for it.
    void SelectClip(int nIndex);
    void StopPreview();
    void PlayPausePreview();
    // Selection and length texts and the timeline's selection, from the player.
    void UpdateSelectionText();
    // Drains the player's pending events; at the end of a selection preview moves to the next clip.
    void HandleGraphEvents();

    // --- The small view the command logic talks to ---
    QWidget *GetControl(int nId) const;
    SkinButton *GetButton(int nId) const;
    void ShowControl(int nId, bool bShow);
    void EnableControl(int nId, bool bEnable);
    // Text of a static text, the status line, the rate text or the output folder box.
    void SetControlText(int nId, const QString &strText);
    QString GetControlText(int nId) const;
    void SetProgressPosition(int nPercent);

    // --- Command table: one handler per control command ---
    void OnOpenFile();
    void OnPlayPause();
    void OnStop();
    void OnStepFrame();
    void OnMute();
    void OnNormalSpeed();
    void OnSetStart();
    void OnSetEnd();
    void OnSelectAll();
    void OnRemoveClip();
    void OnMoveClipUp();
    void OnMoveClipDown();
    void OnClipDoubleClick();
    void OnClipSelectionChange();
    void OnStartConvert();
    void OnStopConvert();
    void OnOutputPath();
    void OnHelp();
    void OnAbout();
    void OnMinimize();
    void OnCloseButton();
    void OnSettings();
    void OnHomePage();
    void OnSeekScroll(int nPosition, bool bEndOfScroll);
    void OnVolumeScroll(int nPosition, bool bEndOfScroll);
    void OnRateScroll(int nPosition, bool bEndOfScroll);
    void OnTimer();
    // The dropped files' paths as bytes, each its own addition.
    void OnDropFiles(const std::vector<std::string> &files);
    // The "Size" menu: 1.0, 2.0 or 0.5, and full screen.
    void OnVideoScale(double dScale);
    void OnFullScreen();
    // Drains the player's pending events on the window thread.
    void OnGraphNotify();

    // The audio-track menu of the list entry at nIndex, opened at the point: right click on the entry,
    // the Menu key or Shift+F10 on the list's current entry.
    void ShowAudioTrackMenu(int nIndex, const QPoint &ptGlobal);
    // The audio-track menu last opened, while it exists.
    QMenu *GetAudioTrackMenu() const { return m_pTrackMenu; }

    // The two menus, for the right button and for Alt+Space.
    QMenu *GetSizeMenu() const { return m_pSizeMenu; }
    QMenu *GetSystemMenu() const { return m_pSystemMenu; }

protected:
    void closeEvent(QCloseEvent *pEvent) override;
    void moveEvent(QMoveEvent *pEvent) override;
    void mousePressEvent(QMouseEvent *pEvent) override;
    void contextMenuEvent(QContextMenuEvent *pEvent) override;
    void dragEnterEvent(QDragEnterEvent *pEvent) override;
    void dropEvent(QDropEvent *pEvent) override;

private:
    void CreateControls();
    void CreateMenus();
    void ConnectCommands();
    // False when a colour entry is missing or broken.
    bool ApplyTextColours();
    void ApplyTabOrder();
    void AddCommandLineFiles();
    void PlacePreviewWindowOnce();
    void ShowSizeMenu(const QPoint &ptGlobal);
    void PaintVideo(QPainter &painter, const QRect &rcArea);
    // A new frame or placement from the playback thread, handled on the window thread.
    void OnVideoChanged();
    void CreatePreviewCommands();
    void OnSpaceKey();
    // The audio-track menu of the list's current entry, beside that entry.
    void ShowCurrentAudioTrackMenu();
    std::filesystem::path SkinFile(std::string_view strName) const;

    MainWindowEnvironment m_environment;

    // Members in the order of the control inventory; Qt's parent owns the widgets, the pointers only name them.
    QProgressBar *m_pProgress = nullptr;
    QListWidget *m_pClipList = nullptr;
    QSlider *m_pRateSlider = nullptr;
    QSlider *m_pVolumeSlider = nullptr;
    TimelineBar *m_pTimeline = nullptr;
    QString m_strOutputFolder;
    int m_iOutputType = -1;
    QIcon m_hIcon;
    bool m_bPreviewShown = false;
    std::vector<std::string> m_commandLineFiles;
    std::unique_ptr<PreviewPlayerWindow> m_pPlayerWindow;
    std::unique_ptr<MediaPlayer> m_pPlayer;
    // The preview-playing, muted, slider-idle and last-played state lives in the commands.
    std::unique_ptr<IPreviewView> m_pPreviewView;
    std::unique_ptr<PreviewCommands> m_pCommands;
    QMenu *m_pSizeMenu = nullptr;
    QMenu *m_pSystemMenu = nullptr;
    QMenu *m_pTrackMenu = nullptr;
    int m_nCurrentJob = -1;
    std::map<int, SkinButton *> m_buttons;
    SkinToolTip *m_pToolTip = nullptr;
    std::unique_ptr<VideoPreviewWindow> m_pPreview;
    EncoderSettings m_settings;
    bool m_bOneFileAtATime = false;
    LoudnessTarget m_loudness;

    std::map<int, QWidget *> m_controls;
    QLineEdit *m_pOutputFolderEdit = nullptr;
    QRadioButton *m_pRadioMp3 = nullptr;
    QRadioButton *m_pRadioWav = nullptr;
    SkinHotArea *m_pHomeArea = nullptr;
    SkinLayout m_layout;
    QTimer m_timer;
    bool m_bPreviewNotPlaced = true;
    std::function<bool()> m_fnIsConverting;
    std::function<bool()> m_fnCanClose;
    std::function<void()> m_fnStartConvert;
    std::function<void()> m_fnStopConvert;
    struct PendingSeek {
        int nPosition = 0;
        bool bEndOfScroll = false;
    };
    PendingSeek m_pendingSeek;  // the latest seek notice not yet given to the player
    bool m_bSeekQueued = false;
    VideoFrame m_videoFrame;  // the last picture copied from the player, window thread only
    std::unique_ptr<MainWindowConversion> m_pConversion;
};

}  // namespace klangor
