#pragma once

#include "app/MessageBoxes.h"
#include "clips/ClipList.h"
#include "player/ControlIds.h"
#include "player/AudioTrackMenu.h"
#include "player/PlaybackGraph.h"
#include "player/VideoSurface.h"
#include "convert/batch/Loudness.h"
#include "settings/EncoderSettings.h"
#include "settings/SplitSettings.h"
#include "gui/SkinButton.h"
#include "skin/SkinLayout.h"
#include "gui/SkinnedDialog.h"
#include "gui/TimelineBar.h"

#include <QIcon>
#include <QTimer>

#include <atomic>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QProgressBar;
class QRadioButton;
class QSlider;

namespace klangor {

class BackgroundTasks;
class IPreviewView;
class MediaPlayer;
class PreviewCommands;

class MainWindowConversion;
class PreviewPlayerWindow;
class VideoPreviewWindow;

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
// handler. Window thread only: other threads post to it and never wait for it, and the background
// tasks' thread works on copies (a file's path) and hands its results back as queued calls.
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
    // Files and folders handed over by another start of the program, as bytes, in order: the window
    // comes to the front and adds them to the clip list as it adds the command line's.
    void AddHandedPaths(const std::vector<std::string> &paths);

    // --- Shell operations other parts use ---
    QString GetOutputFolder() const { return m_strOutputFolder; }
    // An OutputFormat number: 0 MP3 and 1 WAV from the window's buttons, the newer formats from the
    // settings dialog; -1 before initialisation.
    int GetOutputType() const { return m_iOutputType; }
    EncoderSettings &GetSettings() { return m_settings; }
    // "One file at a time" from the settings dialog: kept for the session beside the settings.
    bool &OneFileAtATime() { return m_bOneFileAtATime; }
    // Loudness normalisation from the settings dialog, kept for the session the same way.
    LoudnessTarget &Loudness() { return m_loudness; }
    // How the batch divides its files, from the settings dialog, kept for the session the same way.
    const SplitSettings &Split() const { return m_split; }
    // Whether files added from a folder go into the same folders below the output folder.
    bool MirrorsFolders() const { return m_bMirrorFolders; }
    // The folder below the folder it was added from that holds strPath; "" for a file added alone.
    std::string SubfolderOf(const std::string &strPath) const;

    // Adds files and folders (paths as bytes, in order) to the clip list, as the command line and a
    // drop do: a folder's media files, found on the background thread, follow in byte-wise order of
    // their paths, and the status line says what a folder gave.
    void AddPaths(const std::vector<std::string> &paths);
    // The split points of the loaded clip are looked for again, off this thread, after a short pause
    // (the clip, its selection or the split settings changed); the timeline shows them when found.
    void RequestSplitPoints();
    MediaPlayer *GetPlayer() const { return m_pPlayer.get(); }
    // The open clips: what the list box shows, the preview loads from and the conversion converts.
    ClipList &GetClipList() { return m_clips; }
    VideoPreviewWindow *GetPreviewWindow() const { return m_pPreview.get(); }
    TimelineBar *GetTimeline() const { return m_pTimeline; }
    QListWidget *GetClipListBox() const { return m_pClipList; }
    IMessageBoxes &Boxes() { return *m_environment.pBoxes; }
    IShellServices &Shell() { return *m_environment.pShell; }
    // Slow reads for the window, one at a time on a thread of their own; results come back here.
    BackgroundTasks &GetTasks() { return *m_pTasks; }
    // The conversion batch and its view on this window (Start/Stop, progress, close check).
    MainWindowConversion &GetConversion() { return *m_pConversion; }

    // The conversion's hook into the close check: returns whether a writer is running.
    void SetConvertingProbe(std::function<bool()> fnIsConverting) {
        m_fnIsConverting = std::move(fnIsConverting);
    }
    bool IsConverting() const { return m_fnIsConverting && m_fnIsConverting(); }
    // The close check: false keeps the window open (the check has told the user why).
    void SetCloseCheck(std::function<bool()> fnCanClose) { m_fnCanClose = std::move(fnCanClose); }

    void TogglePreviewWindow();
    // Shows the preview window (the player does when it opens a clip), keeping the buttons in step.
    void ShowPreviewWindow();
    bool IsPreviewShown() const { return m_bPreviewShown; }
    bool IsClipLoaded() const;
    // The window-free clip list, selection and transport commands, which the controls of the clip list,
    // the selection and the transport are wired to.
    PreviewCommands &GetPreviewCommands() { return *m_pCommands; }

    // --- The small view the command logic talks to ---
    QWidget *GetControl(int nId) const;
    SkinButton *GetButton(int nId) const;
    void ShowControl(int nId, bool bShow);
    void EnableControl(int nId, bool bEnable);
    // Text of a static text, the status line, the rate text or the output folder box.
    void SetControlText(int nId, const QString &strText);
    QString GetControlText(int nId) const;
    void SetProgressPosition(int nPercent);

    // --- The window's own commands; the others go straight to the preview commands and the conversion ---
    void OnOutputPath();
    void OnHelp();
    void OnAbout();
    void OnMinimize();
    void OnCloseButton();
    void OnSettings();
    void OnHomePage();
    // The seek bar's notices, collapsed while the player settles, then handed to the preview commands.
    void OnSeekScroll(int nPosition, bool bEndOfScroll);
    // The "Size" menu: 1.0, 2.0 or 0.5, and full screen.
    void OnVideoScale(double dScale);
    void OnFullScreen();

    // The audio-track menu of the list entry at nIndex, opened at the point once the file has been read
    // in the background: right click on the entry, the Menu key or Shift+F10 on the list's current entry.
    // A newer request, or any change to the list meanwhile, drops it.
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

private slots:
    // The player's threads ask for its events to be drained here, and for a new frame or placement to be
    // shown. They name the slot instead of passing a functor, so the queued call is built and handed over
    // inside Qt, under its own lock.
    void OnGraphNotify();
    void OnVideoChanged();
    // The background tasks' results, in the order they came.
    void RunPostedResults();

private:
    void CreateControls();
    void CreateMenus();
    void ConnectCommands();
    // False when a colour entry is missing or broken.
    bool ApplyTextColours();
    void ApplyTabOrder();
    void PlacePreviewWindowOnce();
    void ShowSizeMenu(const QPoint &ptGlobal);
    void PaintVideo(QPainter &painter, const QRect &rcArea);
    void CreatePreviewCommands();
    void OnSpaceKey();
    // The audio-track menu of the list's current entry, beside that entry.
    void ShowCurrentAudioTrackMenu();
    // A probe's result, on the window's thread: the menu opens at the point it was asked for.
    void OpenAudioTrackMenu(int nIndex, const AudioTrackMenu &model, const QPoint &ptGlobal);
    void ForgetPendingAudioTrackMenu();
    // After the settings dialog: the MP3 and WAV buttons show the output type, neither checked for a
    // newer format, which the status line names instead while no batch runs.
    void ShowOutputType();
    // A press of the MP3 or WAV button: a status line still naming a newer format is cleared.
    void ForgetFormatNotice();
    void ShowStatusLine(const QString &strText);
    std::filesystem::path SkinFile(std::string_view strName) const;
    void LookForSplitPoints();
    // Adds these files to the clip list in one go (empty paths left out).
    void AddFilesNow(std::vector<std::string> files);

    MainWindowEnvironment m_environment;

    // Members in the order of the control inventory; Qt's parent owns the widgets, the pointers only name
    // them.
    QProgressBar *m_pProgress = nullptr;
    QListWidget *m_pClipList = nullptr;
    QSlider *m_pRateSlider = nullptr;
    QSlider *m_pVolumeSlider = nullptr;
    TimelineBar *m_pTimeline = nullptr;
    QString m_strOutputFolder;
    int m_iOutputType = -1;
    QString m_strFormatNotice;  // what the status line was last given to name the output format
    QIcon m_hIcon;
    bool m_bPreviewShown = false;
    std::vector<std::string> m_commandLineFiles;
    std::unique_ptr<PreviewPlayerWindow> m_pPlayerWindow;
    ClipList m_clips;
    std::unique_ptr<MediaPlayer> m_pPlayer;
    // The preview-playing, muted, slider-idle and last-played state lives in the commands.
    std::unique_ptr<IPreviewView> m_pPreviewView;
    std::unique_ptr<PreviewCommands> m_pCommands;
    QMenu *m_pSizeMenu = nullptr;
    QMenu *m_pSystemMenu = nullptr;
    QMenu *m_pTrackMenu = nullptr;
    uint64_t m_nTrackMenuTicket = 0;  // the latest menu request; a probe's result for an older one is dropped
    int m_nCurrentJob = -1;
    std::map<int, SkinButton *> m_buttons;
    SkinToolTip *m_pToolTip = nullptr;
    std::unique_ptr<VideoPreviewWindow> m_pPreview;
    EncoderSettings m_settings;
    bool m_bOneFileAtATime = false;
    LoudnessTarget m_loudness;
    SplitSettings m_split;
    bool m_bMirrorFolders = false;
    int m_nFolderWalks = 0;  // AddPaths runs waiting on the background thread for their folders
    std::map<std::string, std::string> m_subfolderOf;  // a file added from a folder: its place below it
    QTimer m_splitTimer;                               // the pause before split points are looked for
    // The latest look for split points; an older one still running sees a newer number and gives up.
    std::shared_ptr<std::atomic<uint64_t>> m_pSplitTicket = std::make_shared<std::atomic<uint64_t>>(0);

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
    struct PendingSeek {
        int nPosition = 0;
        bool bEndOfScroll = false;
    };
    PendingSeek m_pendingSeek;  // the latest seek notice not yet given to the player
    bool m_bSeekQueued = false;
    VideoFrame m_videoFrame;  // the last picture copied from the player, window thread only
    std::unique_ptr<MainWindowConversion> m_pConversion;
    // Slow reads for the window (the track menu's probes); declared last, so that it goes first and a
    // probe still running is finished, its result dropped, while everything it names still exists.
    std::unique_ptr<BackgroundTasks> m_pTasks;
    // Set as the window goes: a folder still being walked for it stops there.
    std::shared_ptr<std::atomic<bool>> m_pClosing = std::make_shared<std::atomic<bool>>(false);
    // Split points are looked for here, apart from the probes: finding silences reads the whole clip.
    std::unique_ptr<BackgroundTasks> m_pSplitTasks;
    std::mutex m_postedMutex;  // guards m_posted: the tasks' thread adds, this one takes
    std::deque<std::function<void()>> m_posted;
};

}  // namespace klangor
