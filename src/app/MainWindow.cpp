#include "app/MainWindow.h"

#include "app/AboutDialog.h"
#include "app/MainWindowConvert.h"
#include "app/PreviewPlayerWindow.h"
#include "common/BackgroundTasks.h"
#include "player/MediaPlayer.h"
#include "player/PreviewCommands.h"
#include "common/Version.h"
#include "skin/LayoutGeometry.h"
#include "skin/SkinFolder.h"
#include "skin/SkinKeys.h"
#include "gui/VideoPreviewWindow.h"

#include <QAction>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QSlider>
#include <QThread>
#include <QUrl>

namespace klangor {

namespace {

QColor LayoutColour(const SkinLayout &layout, std::string_view strKey, bool &bBroken) {
    SkinLayout::Values values{0, 0, 0, 0};
    if (!layout.GetValues(strKey, values)) {
        bBroken = true;
    }
    return QColor(SkinLayout::ColourComponent(values[0]), SkinLayout::ColourComponent(values[1]),
                  SkinLayout::ColourComponent(values[2]));
}

// The file a file: address names, as the bytes the address carries. toLocalFile() decodes them as
// UTF-8 and would turn a Latin-1 name's "%E9" into U+FFFD, which names no file.
std::string LocalFileBytes(const QUrl &url) {
    const QByteArray path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    if (url.host().isEmpty()) {
        return path.toStdString();
    }
    return "//" + QFile::encodeName(url.host()).toStdString() + path.toStdString();
}

// A control's command: the operation of the presenter (or this window) that carries it out.
template <class Presenter>
std::function<void()> Command(Presenter *pPresenter, void (Presenter::*operation)()) {
    return [pPresenter, operation] { (pPresenter->*operation)(); };
}

}  // namespace

MainWindow::MainWindow(const MainWindowEnvironment &environment, QWidget *pParent)
    : SkinnedDialog(pParent), m_environment(environment) {
    setObjectName(QStringLiteral("MainWindow"));
    // Results wait in a queue of ours and a wake-up by the slot's name follows them, which Qt drops
    // once the window is gone; a functor built on the tasks' thread would be handed over where the
    // thread checker cannot see it.
    const BackgroundTasks::Poster post = [this](std::function<void()> fnResult) {
        {
            std::lock_guard lock(m_postedMutex);
            m_posted.push_back(std::move(fnResult));
        }
        QMetaObject::invokeMethod(this, "RunPostedResults", Qt::QueuedConnection);
    };
    m_pTasks = std::make_unique<BackgroundTasks>(post);
    m_pSplitTasks = std::make_unique<BackgroundTasks>(post);
    m_splitTimer.setSingleShot(true);
    m_splitTimer.setInterval(150);
    connect(&m_splitTimer, &QTimer::timeout, this, &MainWindow::LookForSplitPoints);
    CreateControls();
    m_hIcon = AppIcon();
    m_commandLineFiles = environment.commandLineFiles;
    LoadBackground(SkinFile(kMainBackgroundFile));

    // The preview window stands on its own (no owner), created hidden; the player draws into its video
    // area through the surface it owns.
    m_pPreview = std::make_unique<VideoPreviewWindow>(environment.pathSkinFolder);
    m_pPreview->setWindowIcon(m_hIcon);
    m_pPlayerWindow = std::make_unique<PreviewPlayerWindow>(*this, *m_pPreview);
    m_pPlayer = std::make_unique<MediaPlayer>(
        *m_pPlayerWindow, kPreviewVideoControlId,
        environment.fnCreateEngine ? environment.fnCreateEngine() : std::unique_ptr<IPlaybackEngine>());
    // Frames arrive on a playback thread; only a post crosses over, the window thread does the rest.
    m_pPlayer->GetVideoSurface().SetChangeCallback(
        [this] { QMetaObject::invokeMethod(this, "OnVideoChanged", Qt::QueuedConnection); });
    CreatePreviewCommands();
    m_pConversion = std::make_unique<MainWindowConversion>(*this);
    ConnectCommands();
}

MainWindow::~MainWindow() {
    // A probe still running is waited for (it gives up within seconds) and its result dropped; a look
    // for split points sees that it is no longer wanted.
    m_splitTimer.stop();
    ++*m_pSplitTicket;
    *m_pClosing = true;
    m_pSplitTasks.reset();
    m_pTasks.reset();
    // The list empties itself as it goes; that is no change a pending menu needs to hear of.
    m_pClipList->model()->disconnect(this);
    // A running writer is stopped and collected first, while every control it reports to still exists.
    m_timer.stop();
    m_pConversion.reset();
    // The player goes first: its playback threads draw into the surface the preview window paints.
    if (m_pPlayer) {
        m_pPlayer->GetVideoSurface().SetChangeCallback({});
    }
    m_pPlayer.reset();
    m_pPreview.reset();
}

std::filesystem::path MainWindow::SkinFile(std::string_view strName) const {
    return SkinFilePath(m_environment.pathSkinFolder, strName);
}

void MainWindow::CreateControls() {
    m_pProgress = new QProgressBar(this);
    m_pProgress->setTextVisible(false);
    m_pClipList = new QListWidget(this);
    m_pClipList->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_pRateSlider = new QSlider(Qt::Horizontal, this);
    m_pVolumeSlider = new QSlider(Qt::Horizontal, this);
    m_pTimeline = new TimelineBar(this);
    m_controls[kIdProgress] = m_pProgress;
    m_controls[kIdClipList] = m_pClipList;
    m_controls[kIdRateSlider] = m_pRateSlider;
    m_controls[kIdVolumeSlider] = m_pVolumeSlider;
    m_controls[kIdSeekBar] = m_pTimeline;
    m_pRateSlider->hide();
    m_pVolumeSlider->hide();

    for (const SkinButtonRow &row : kSkinButtonRows) {
        m_buttons[row.nControlId] = new SkinButton(row.nControlId, this);
    }
    // Made after the buttons, so that as a child it is also deleted after them: they use it as style.
    m_pToolTip = new SkinToolTip(this);
    // Kept for their commands, but the skin has no place for them.
    for (int nId : {kIdStepFrame, kIdNormalSpeed}) {
        m_buttons[nId] = new SkinButton(nId, this);
        m_buttons[nId]->hide();
    }
    for (auto &[nId, pButton] : m_buttons) {
        m_controls[nId] = pButton;
    }

    const std::pair<int, const char *> texts[] = {{kIdCurrentTime, "Current:"},
                                                  {kIdSelectionTime, "Selection:"},
                                                  {kIdSelectionDuration, "Duration:"},
                                                  {kIdStatus, ""},
                                                  {kIdRateText, "1.00 X"}};
    for (const auto &[nId, pszText] : texts) {
        auto *pLabel = new SkinText(QString::fromUtf8(pszText), this);
        pLabel->setObjectName(QStringLiteral("control%1").arg(nId));
        m_controls[nId] = pLabel;
    }
    m_controls[kIdRateText]->hide();

    m_pOutputFolderEdit = new QLineEdit(this);
    m_pOutputFolderEdit->setReadOnly(true);
    m_pOutputFolderEdit->setFrame(false);
    // Read-only, but it takes the focus so that its text can be scrolled, selected and copied.
    m_pOutputFolderEdit->setFocusPolicy(Qt::StrongFocus);
    m_controls[kIdOutputFolder] = m_pOutputFolderEdit;

    m_pRadioMp3 = new QRadioButton(this);
    m_pRadioWav = new QRadioButton(this);
    m_pRadioMp3->setToolTip(QStringLiteral("MP3"));
    m_pRadioWav->setToolTip(QStringLiteral("WAV"));
    auto *pGroup = new QButtonGroup(this);
    pGroup->addButton(m_pRadioMp3, 0);
    pGroup->addButton(m_pRadioWav, 1);
    m_controls[kIdRadioMp3] = m_pRadioMp3;
    m_controls[kIdRadioWav] = m_pRadioWav;

    m_pHomeArea = new SkinHotArea(kIdHomePage, this);
    m_controls[kIdHomePage] = m_pHomeArea;

    for (auto &[nId, pControl] : m_controls) {
        if (pControl->objectName().isEmpty()) {
            pControl->setObjectName(QStringLiteral("control%1").arg(nId));
        }
    }
    setAcceptDrops(true);
}

void MainWindow::CreateMenus() {
    m_pSizeMenu = new QMenu(QStringLiteral("Size"), this);
    m_pSizeMenu->addAction(QStringLiteral("100%"), this, [this] { OnVideoScale(1.0); });
    m_pSizeMenu->addAction(QStringLiteral("200%"), this, [this] { OnVideoScale(2.0); });
    m_pSizeMenu->addAction(QStringLiteral("50%"), this, [this] { OnVideoScale(0.5); });
    m_pSizeMenu->addAction(QStringLiteral("Full Screen"), this, [this] { OnFullScreen(); });

    // The window has no title bar, so its window menu opens with Alt+Space.
    m_pSystemMenu = new QMenu(this);
    m_pSystemMenu->addAction(QStringLiteral("Mi&nimize"), this, [this] { OnMinimize(); });
    m_pSystemMenu->addAction(QStringLiteral("&Close"), this, [this] { close(); });
    m_pSystemMenu->addSeparator();
    m_pSystemMenu->addAction(QStringLiteral("&About Klangor..."), this, [this] { OnAbout(); });
    auto *pShortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
    connect(pShortcut, &QShortcut::activated, this,
            [this] { m_pSystemMenu->popup(mapToGlobal(QPoint(0, 0))); });
}

void MainWindow::ConnectCommands() {
    // Each button goes straight to the one that carries out its command: the preview commands for the
    // clip list, the selection and the transport, the conversion for Start and Stop, this window for
    // the rest.
    PreviewCommands *pCommands = m_pCommands.get();
    MainWindowConversion *pConversion = m_pConversion.get();
    const std::pair<int, std::function<void()>> commands[] = {
        {kIdOpenFile, Command(pCommands, &PreviewCommands::OnOpenFile)},
        {kIdPlay, Command(pCommands, &PreviewCommands::OnPlayPause)},
        {kIdPause, Command(pCommands, &PreviewCommands::OnPlayPause)},
        {kIdStop, Command(pCommands, &PreviewCommands::OnStop)},
        {kIdStepFrame, Command(pCommands, &PreviewCommands::OnStepFrame)},
        {kIdMute, Command(pCommands, &PreviewCommands::OnMute)},
        {kIdUnmute, Command(pCommands, &PreviewCommands::OnMute)},
        {kIdSetStart, Command(pCommands, &PreviewCommands::OnSetStart)},
        {kIdSetEnd, Command(pCommands, &PreviewCommands::OnSetEnd)},
        {kIdNormalSpeed, Command(pCommands, &PreviewCommands::OnNormalSpeed)},
        {kIdSelectAll, Command(pCommands, &PreviewCommands::OnSelectAll)},
        {kIdRemove, Command(pCommands, &PreviewCommands::OnRemoveClip)},
        {kIdMoveUp, Command(pCommands, &PreviewCommands::OnMoveClipUp)},
        {kIdMoveDown, Command(pCommands, &PreviewCommands::OnMoveClipDown)},
        {kIdStopConvert, Command(pConversion, &MainWindowConversion::OnStopConvert)},
        {kIdStartConvert, Command(pConversion, &MainWindowConversion::OnStartConvert)},
        {kIdAbout, Command(this, &MainWindow::OnAbout)},
        {kIdOutputPath, Command(this, &MainWindow::OnOutputPath)},
        {kIdMinimize, Command(this, &MainWindow::OnMinimize)},
        {kIdClose, Command(this, &MainWindow::OnCloseButton)},
        {kIdOpenPreview, Command(this, &MainWindow::TogglePreviewWindow)},
        {kIdClosePreview, Command(this, &MainWindow::TogglePreviewWindow)},
        {kIdHelp, Command(this, &MainWindow::OnHelp)},
        {kIdSettings, Command(this, &MainWindow::OnSettings)},
    };
    for (const auto &[nId, fnCommand] : commands) {
        connect(m_buttons.at(nId), &QAbstractButton::clicked, this, fnCommand);
    }

    connect(m_pHomeArea, &SkinHotArea::Clicked, this, &MainWindow::OnHomePage);
    connect(m_pClipList, &QListWidget::itemDoubleClicked, this,
            [pCommands] { pCommands->OnClipDoubleClick(); });
    connect(m_pClipList, &QListWidget::currentRowChanged, this,
            [pCommands] { pCommands->OnClipSelectionChange(); });
    connect(m_pRadioMp3, &QRadioButton::toggled, this, [this](bool bChecked) {
        if (bChecked) {
            m_iOutputType = static_cast<int>(OutputFormat::Mp3);
            ForgetFormatNotice();
        }
    });
    connect(m_pRadioWav, &QRadioButton::toggled, this, [this](bool bChecked) {
        if (bChecked) {
            m_iOutputType = static_cast<int>(OutputFormat::Wav);
            ForgetFormatNotice();
        }
    });

    // A track bar's scroll notifications: every user action, and the end of a drag.
    auto connectScroll = [this](QSlider *pSlider, std::function<void(int, bool)> fnScroll) {
        connect(pSlider, &QAbstractSlider::actionTriggered, this, [pSlider, fnScroll](int nAction) {
            fnScroll(pSlider->sliderPosition(), nAction != QAbstractSlider::SliderMove);
        });
        connect(pSlider, &QAbstractSlider::sliderReleased, this,
                [pSlider, fnScroll] { fnScroll(pSlider->sliderPosition(), true); });
    };
    connectScroll(m_pTimeline, [this](int nPosition, bool bEnd) { OnSeekScroll(nPosition, bEnd); });
    connectScroll(m_pVolumeSlider,
                  [pCommands](int nPosition, bool bEnd) { pCommands->OnVolumeScroll(nPosition, bEnd); });
    connectScroll(m_pRateSlider,
                  [pCommands](int nPosition, bool bEnd) { pCommands->OnRateScroll(nPosition, bEnd); });

    // The preview's time display and a running batch's progress, read at the timer's pace.
    connect(&m_timer, &QTimer::timeout, this, [pCommands, pConversion] {
        pCommands->OnTimer();
        pConversion->OnTimer();
    });
    connect(m_pPreview.get(), &VideoPreviewWindow::CloseRequested, this, &MainWindow::TogglePreviewWindow);
    connect(m_pPreview.get(), &VideoPreviewWindow::SizeMenuRequested, this, &MainWindow::ShowSizeMenu);
    connect(m_pPreview.get(), &VideoPreviewWindow::LeaveFullScreenRequested, this, &MainWindow::OnFullScreen);
    m_pPreview->GetVideoArea()->SetPainter(
        [this](QPainter &painter, const QRect &rcArea) { PaintVideo(painter, rcArea); });
}

void MainWindow::InitDialog() {
    BuildWindowRegion();
    CreateMenus();
    setWindowIcon(m_hIcon);
    m_pCommands->InitDialog();
    m_bPreviewShown = false;
    m_timer.start(100);

    // The preview window reads the layout first; SetupSkin reads it again.
    SkinLayout previewLayout;
    previewLayout.Load(SkinFile(kSkinLayoutFile));
    const bool bPreviewComplete = m_pPreview->InitDialog(previewLayout);
    // A broken preview rectangle closes the window like any broken entry; a missing file has already
    // been reported by SetupSkin and closes it there.
    if (SetupSkin() && !bPreviewComplete) {
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    }

    m_iOutputType = 0;
    m_strOutputFolder = QDir::homePath() + QStringLiteral("/VellumarMP3");
    // An existing folder is fine, and a folder that cannot be made shows up when a conversion writes.
    QDir().mkpath(m_strOutputFolder);
    m_pProgress->setRange(0, 100);
    m_pProgress->setValue(0);
    m_nCurrentJob = -1;
    AddPaths(m_commandLineFiles);

    m_pOutputFolderEdit->setText(m_strOutputFolder);
    m_pRadioMp3->setChecked(m_iOutputType == 0);
    m_pRadioWav->setChecked(m_iOutputType == 1);
}

void MainWindow::AddHandedPaths(const std::vector<std::string> &paths) {
    // To the front first, so that a box about a file that cannot be read comes up over the window.
    if (isMinimized()) {
        showNormal();
    }
    raise();
    activateWindow();
    AddPaths(paths);
}

bool MainWindow::SetupSkin() {
    if (!m_layout.Load(SkinFile(kSkinLayoutFile))) {
        // The program's own boxes carry the application title, not the window text with its version.
        Boxes().ShowMessage(this, QString::fromUtf8(kAppTitle),
                            QStringLiteral("Initial UI error!\n\nCan not open file %1.")
                                .arg(QString::fromUtf8(kSkinLayoutFile.data(), kSkinLayoutFile.size())),
                            IMessageBoxes::Icon::None);
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return false;
    }
    bool bBroken = false;
    for (const SkinButtonRow &row : kSkinButtonRows) {
        SkinLayout::Values values{0, 0, 0, 0};
        if (!m_layout.GetValues(row.strKey, values)) {
            bBroken = true;
        }
        SkinButton *pButton = m_buttons.at(row.nControlId);
        pButton->AttachSkin(SkinFile(row.strFaceFile), ClampLayoutCoordinate(values[0]),
                            ClampLayoutCoordinate(values[1]), *m_pToolTip,
                            QString::fromUtf8(row.strTooltip.data(), row.strTooltip.size()));
        if (row.bHiddenAtStart) {
            pButton->hide();
        }
    }
    for (const SkinControlRow &row : kSkinControlRows) {
        SkinLayout::Values values{0, 0, 0, 0};
        if (!m_layout.GetValues(row.strKey, values)) {
            bBroken = true;
        }
        const SkinRect rc = LayoutRectFromValues(values);
        m_controls.at(row.nControlId)->setGeometry(rc.left, rc.top, rc.Width(), rc.Height());
    }

    TimelineBar::Colours colours;
    QColor *apColours[] = {&colours.background, &colours.band,      &colours.selection,
                           &colours.cursor,     &colours.startMark, &colours.endMark};
    for (size_t i = 0; i < kTimelineColourKeys.size(); ++i) {
        *apColours[i] = LayoutColour(m_layout, kTimelineColourKeys[i], bBroken);
    }
    SkinLayout::Values size{0, 0, 0, 0};
    if (!m_layout.GetValues(kTimelineSizeKey, size)) {
        bBroken = true;
    }
    m_pTimeline->Configure(colours, size[0], size[1], SkinFile(kCursorImageFile));
    if (!ApplyTextColours()) {
        bBroken = true;
    }
    // After the faces are loaded: only then do the buttons take the focus.
    ApplyTabOrder();
    // The offset is used on the first placement, but a broken one is found now, with the others.
    SkinLayout::Values offset{0, 0, 0, 0};
    if (!m_layout.GetValues(kPreviewOffsetKey, offset)) {
        bBroken = true;
    }

    if (bBroken) {
        // A layout that names no place for a control cannot give a usable window.
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return false;
    }
    return true;
}

void MainWindow::ApplyTabOrder() {
    // Tab walks the controls in the order of the window's control list; hidden and disabled ones are
    // passed over as they come. A control that takes no focus at all (a button without a face) is left
    // out of the chain, which Qt would otherwise break at it.
    const int aTabOrder[] = {kIdClipList,    kIdOpenFile,     kIdRemove,     kIdMoveUp,    kIdMoveDown,
                             kIdPlay,        kIdPause,        kIdStop,       kIdMute,      kIdUnmute,
                             kIdSeekBar,     kIdSetStart,     kIdSetEnd,     kIdSelectAll, kIdStartConvert,
                             kIdStopConvert, kIdOutputFolder, kIdOutputPath, kIdRadioMp3,  kIdRadioWav,
                             kIdSettings,    kIdHelp,         kIdAbout,      kIdMinimize,  kIdClose,
                             kIdOpenPreview, kIdClosePreview};
    QWidget *pPrevious = nullptr;
    for (int nId : aTabOrder) {
        QWidget *pControl = m_controls.at(nId);
        if (pControl->focusPolicy() == Qt::NoFocus) {
            continue;
        }
        if (pPrevious != nullptr) {
            setTabOrder(pPrevious, pControl);
        }
        pPrevious = pControl;
    }
}

bool MainWindow::ApplyTextColours() {
    bool bBroken = false;
    const QColor editText = LayoutColour(m_layout, kEditTextColourKey, bBroken);
    const QColor back = LayoutColour(m_layout, kTextBackColourKey, bBroken);
    const QColor staticText = LayoutColour(m_layout, kStaticTextColourKey, bBroken);
    Q_UNUSED(editText);  // the only edit box is read-only, which takes the static text colour

    // Static texts, the read-only output folder box and the list box draw their text in the static
    // colour on a "back_color" cell; outside the cells the skin shows through.
    for (int nId : {kIdCurrentTime, kIdSelectionTime, kIdSelectionDuration, kIdStatus, kIdRateText}) {
        auto *pText = static_cast<SkinText *>(m_controls.at(nId));
        pText->SetColours(staticText, back);
    }
    m_pOutputFolderEdit->setStyleSheet(
        QStringLiteral("QLineEdit { color: %1; background: %2; border: none;"
                       " selection-background-color: %3; selection-color: %1; }")
            .arg(staticText.name(), back.name(), back.lighter(160).name()));
    m_pClipList->setStyleSheet(
        QStringLiteral("QListWidget { color: %1; background: transparent; border: none; }"
                       " QListWidget::item { background: %2; color: %1; }"
                       " QListWidget::item:selected { background: %3; color: %1; }")
            .arg(staticText.name(), back.name(), back.lighter(160).name()));
    m_pClipList->viewport()->setAutoFillBackground(false);

    // The progress bar in the skin's colours: the text background as its groove, filled in the
    // timeline's selection colour, so the two bars of the window read as one family.
    m_pProgress->setStyleSheet(
        QStringLiteral("QProgressBar { background: %1; border: 1px solid %2; border-radius: 3px; }"
                       " QProgressBar::chunk { background: %3; border-radius: 2px; }")
            .arg(back.name(), back.lighter(220).name(), m_pTimeline->GetColours().selection.name()));
    return !bBroken;
}

QWidget *MainWindow::GetControl(int nId) const {
    const auto it = m_controls.find(nId);
    return it == m_controls.end() ? nullptr : it->second;
}

SkinButton *MainWindow::GetButton(int nId) const {
    const auto it = m_buttons.find(nId);
    return it == m_buttons.end() ? nullptr : it->second;
}

void MainWindow::ShowControl(int nId, bool bShow) {
    Q_ASSERT(QThread::currentThread() == thread());
    if (QWidget *pControl = GetControl(nId)) {
        pControl->setVisible(bShow);
    }
}

void MainWindow::EnableControl(int nId, bool bEnable) {
    Q_ASSERT(QThread::currentThread() == thread());
    if (QWidget *pControl = GetControl(nId)) {
        pControl->setEnabled(bEnable);
    }
}

void MainWindow::SetControlText(int nId, const QString &strText) {
    Q_ASSERT(QThread::currentThread() == thread());
    QWidget *pControl = GetControl(nId);
    if (auto *pLabel = qobject_cast<QLabel *>(pControl)) {
        pLabel->setText(strText);
    } else if (auto *pEdit = qobject_cast<QLineEdit *>(pControl)) {
        pEdit->setText(strText);
    }
}

QString MainWindow::GetControlText(int nId) const {
    QWidget *pControl = GetControl(nId);
    if (auto *pLabel = qobject_cast<QLabel *>(pControl)) {
        return pLabel->text();
    }
    if (auto *pEdit = qobject_cast<QLineEdit *>(pControl)) {
        return pEdit->text();
    }
    return QString();
}

void MainWindow::RunPostedResults() {
    std::deque<std::function<void()>> posted;
    {
        std::lock_guard lock(m_postedMutex);
        posted.swap(m_posted);
    }
    for (std::function<void()> &fnResult : posted) {
        fnResult();
    }
}

void MainWindow::SetProgressPosition(int nPercent) {
    Q_ASSERT(QThread::currentThread() == thread());
    m_pProgress->setValue(nPercent);
}

void MainWindow::TogglePreviewWindow() {
    if (m_bPreviewShown) {
        ShowControl(kIdOpenPreview, true);
        ShowControl(kIdClosePreview, false);
        m_pPreview->hide();
    } else {
        ShowControl(kIdClosePreview, true);
        ShowControl(kIdOpenPreview, false);
        m_pPreview->show();
        m_pPreview->raise();
    }
    m_bPreviewShown = !m_bPreviewShown;
}

void MainWindow::ShowPreviewWindow() {
    if (!m_bPreviewShown) {
        TogglePreviewWindow();
    }
}

void MainWindow::PlacePreviewWindowOnce() {
    if (!m_bPreviewNotPlaced) {
        return;
    }
    const QPoint ptTopLeft = frameGeometry().topLeft();
    if (ptTopLeft.x() == 0 || ptTopLeft.y() == 0) {
        return;
    }
    m_bPreviewNotPlaced = false;
    SkinLayout::Values offset{0, 0, 0, 0};
    if (!m_layout.GetValues(kPreviewOffsetKey, offset)) {
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return;
    }
    // The skin's offset assumes a wide screen; on a smaller one the window moves to where it is seen.
    const QScreen *pScreen = screen();
    const QRect rcAvailable = pScreen != nullptr ? pScreen->availableGeometry() : QRect();
    const SkinPoint ptPreview = OffsetWindowPosition({ptTopLeft.x(), ptTopLeft.y()}, offset[0], offset[1]);
    const QRect rcPreview(QPoint(ptPreview.x, ptPreview.y), m_pPreview->frameGeometry().size());
    m_pPreview->move(KeepPreviewOnScreen(frameGeometry(), rcPreview, rcAvailable).topLeft());
}

void MainWindow::closeEvent(QCloseEvent *pEvent) {
    if (m_fnCanClose && !m_fnCanClose()) {
        pEvent->ignore();
        return;
    }
    pEvent->accept();
    m_pPreview->hide();
    done(QDialog::Rejected);
}

void MainWindow::moveEvent(QMoveEvent *pEvent) {
    SkinnedDialog::moveEvent(pEvent);
    PlacePreviewWindowOnce();
}

void MainWindow::mousePressEvent(QMouseEvent *pEvent) {
    if (pEvent->button() == Qt::RightButton) {
        ShowSizeMenu(pEvent->globalPosition().toPoint());
        return;
    }
    SkinnedDialog::mousePressEvent(pEvent);
}

void MainWindow::contextMenuEvent(QContextMenuEvent *pEvent) {
    // The right button already opened the Size menu; no second menu.
    pEvent->accept();
}

void MainWindow::ShowSizeMenu(const QPoint &ptGlobal) {
    if (m_pSizeMenu != nullptr) {
        m_pSizeMenu->popup(ptGlobal);
    }
}

void MainWindow::dragEnterEvent(QDragEnterEvent *pEvent) {
    if (pEvent->mimeData()->hasUrls()) {
        pEvent->acceptProposedAction();
    }
}

void MainWindow::dropEvent(QDropEvent *pEvent) {
    std::vector<std::string> files;
    for (const QUrl &url : pEvent->mimeData()->urls()) {
        if (url.isLocalFile()) {
            files.push_back(LocalFileBytes(url));
        }
    }
    pEvent->acceptProposedAction();
    AddPaths(files);
}

}  // namespace klangor
