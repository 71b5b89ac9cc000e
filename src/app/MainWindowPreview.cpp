// The main window's side of the clip list, selection and transport commands: the view that the
// window-free PreviewCommands talk to, the keys, the audio-track menu, and the video paint.
#include "app/MainWindow.h"
#include "app/MainWindowConvert.h"

#include "common/BackgroundTasks.h"
#include "convert/split/SplitPlan.h"
#include "player/MediaPlayer.h"
#include "player/PreviewCommands.h"
#include "gui/VideoPreviewWindow.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFile>
#include <QKeyEvent>
#include <QMenu>
#include <QKeySequence>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSlider>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace klangor {

namespace {

// Names Qt gives as text become the file system's bytes again. What Qt shows (its dialog, say) it could
// decode, so this gives back the very bytes; names that are not UTF-8 arrive as bytes by other ways.
std::vector<std::string> ToPaths(const QStringList &files) {
    std::vector<std::string> paths;
    paths.reserve(static_cast<size_t>(files.size()));
    for (const QString &strFile : files) {
        paths.push_back(QFile::encodeName(strFile).toStdString());
    }
    return paths;
}

// Paths are bytes and shown as UTF-8: a byte that is not UTF-8 shows as U+FFFD.
QString ShownText(const std::string &str) {
    return QString::fromUtf8(str.data(), static_cast<qsizetype>(str.size()));
}

// The main window's controls as the preview commands see them.
class MainWindowPreviewView : public IPreviewView {
public:
    explicit MainWindowPreviewView(MainWindow &window) : m_window(window) {}

    void ShowControl(int nId, bool bShow) override { m_window.ShowControl(nId, bShow); }
    void EnableControl(int nId, bool bEnable) override { m_window.EnableControl(nId, bEnable); }
    void SetControlText(int nId, const std::string &strText) override {
        m_window.SetControlText(nId, ShownText(strText));
    }
    void SetSliderRange(int nId, int nMin, int nMax) override {
        if (QSlider *pSlider = Slider(nId)) {
            pSlider->setRange(nMin, nMax);
            pSlider->update();
        }
    }
    int GetSliderPosition(int nId) override {
        const QSlider *pSlider = Slider(nId);
        return pSlider != nullptr ? pSlider->value() : 0;
    }
    void SetSliderPosition(int nId, int nPosition) override {
        if (QSlider *pSlider = Slider(nId)) {
            // A position set from here is no user action: the scroll handlers listen to actions only.
            pSlider->setValue(nPosition);
            pSlider->update();
        }
    }
    void SetSliderSelection(int nId, int nStart, int nEnd) override {
        if (auto *pTimeline = qobject_cast<TimelineBar *>(m_window.GetControl(nId))) {
            pTimeline->SetSelection(nStart, nEnd);
            pTimeline->update();
            // A new selection divides differently: its first and last parts are cut at its bounds.
            m_window.RequestSplitPoints();
        }
    }
    void ShowSeekBarWaveform(const std::string &strPath, uint32_t nTrack) override {
        m_window.GetTimeline()->ShowWaveformOf(strPath, nTrack);
        // Another clip, or another of its tracks: the points shown were the last one's.
        m_window.GetTimeline()->SetSplitPoints({});
        m_window.RequestSplitPoints();
    }
    void SetListEntries(const std::vector<ListEntry> &entries, int nSelection) override {
        QListWidget *pList = m_window.GetClipListBox();
        // Filling the list is not the user's choice: it must not load a clip.
        const QSignalBlocker blocker(pList);
        pList->clear();
        for (const ListEntry &entry : entries) {
            auto *pItem = new QListWidgetItem(ShownText(entry.strName));
            pItem->setToolTip(ShownText(entry.strPath));
            pList->addItem(pItem);
        }
        pList->setCurrentRow(nSelection);
        // The list draws on the skin, so the background under it is painted afresh.
        m_window.update(pList->geometry());
    }
    int GetListSelection() override { return m_window.GetClipListBox()->currentRow(); }
    int GetListCount() override { return m_window.GetClipListBox()->count(); }
    void SetTitle(const std::string &strTitle) override { m_window.setWindowTitle(ShownText(strTitle)); }
    std::vector<std::string> ChooseMediaFiles() override {
        return ToPaths(m_window.Shell().ChooseMediaFiles(&m_window));
    }

private:
    QSlider *Slider(int nId) const { return qobject_cast<QSlider *>(m_window.GetControl(nId)); }

    MainWindow &m_window;
};

// Leaves keys to the control that has the focus: a window-wide key (a shortcut) is only asked for
// once the focused control has declined it. The list box keeps the keys that move its current item
// (Left and Right still seek); the output folder box
// keeps every key but those with Alt, which reach the window menu.
class FocusedKeyKeeper : public QObject {
public:
    enum class Keeps { ListKeys, AllKeys };
    FocusedKeyKeeper(Keeps keeps, QObject *pParent) : QObject(pParent), m_keeps(keeps) {}

protected:
    bool eventFilter(QObject *pWatched, QEvent *pEvent) override {
        if (pEvent->type() == QEvent::ShortcutOverride && KeepsKey(*static_cast<QKeyEvent *>(pEvent))) {
            pEvent->accept();
        }
        return QObject::eventFilter(pWatched, pEvent);
    }

private:
    bool KeepsKey(const QKeyEvent &key) const {
        if (m_keeps == Keeps::AllKeys) {
            return !(key.modifiers() & Qt::AltModifier);
        }
        if (key.modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier)) {
            return false;
        }
        switch (key.key()) {
            case Qt::Key_Up:
            case Qt::Key_Down:
            case Qt::Key_Home:
            case Qt::Key_End:
            case Qt::Key_PageUp:
            case Qt::Key_PageDown:
                return true;
            default:
                return false;
        }
    }

    Keeps m_keeps;
};

// The list's right button opens the entry's audio-track menu and nothing else: a right press does not
// move the list's selection, which would load the clip under the menu.
class ListTrackMenuOpener : public QObject {
public:
    explicit ListTrackMenuOpener(MainWindow &window) : QObject(&window), m_window(window) {}

protected:
    bool eventFilter(QObject *pWatched, QEvent *pEvent) override {
        // The list's own events reach this filter while the window is being destroyed, too: the
        // window is asked for nothing until a menu is really wanted.
        switch (pEvent->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
                return static_cast<QMouseEvent *>(pEvent)->button() == Qt::RightButton;
            case QEvent::ContextMenu: {
                auto *pMenuEvent = static_cast<QContextMenuEvent *>(pEvent);
                QListWidget *pList = m_window.GetClipListBox();
                if (pMenuEvent->reason() == QContextMenuEvent::Mouse) {
                    const QPoint ptViewport = pWatched == pList->viewport()
                                                  ? pMenuEvent->pos()
                                                  : pList->viewport()->mapFromGlobal(pMenuEvent->globalPos());
                    const QModelIndex index = pList->indexAt(ptViewport);
                    if (index.isValid()) {
                        m_window.ShowAudioTrackMenu(index.row(), pMenuEvent->globalPos());
                    }
                } else {
                    m_keyMenu();
                }
                return true;
            }
            default:
                return false;
        }
    }

public:
    std::function<void()> m_keyMenu;

private:
    MainWindow &m_window;
};

}  // namespace

void MainWindow::ShowCurrentAudioTrackMenu() {
    const int nRow = m_pClipList->currentRow();
    if (nRow < 0) {
        return;
    }
    const QRect rcItem = m_pClipList->visualItemRect(m_pClipList->item(nRow));
    m_pClipList->scrollToItem(m_pClipList->item(nRow));
    ShowAudioTrackMenu(nRow, m_pClipList->viewport()->mapToGlobal(rcItem.bottomLeft()));
}

void MainWindow::ShowAudioTrackMenu(int nIndex, const QPoint &ptGlobal) {
    std::optional<AudioTrackProbe> probe = m_pCommands->GetAudioTrackProbe(nIndex);
    if (!probe) {
        return;
    }
    // Probing reads the file, which on a slow disk takes a moment: it runs on the background thread,
    // and the list's pointer says so meanwhile. Only the latest request's menu opens.
    const uint64_t nTicket = ++m_nTrackMenuTicket;
    m_pClipList->viewport()->setCursor(Qt::BusyCursor);
    m_pTasks->Run([probe = std::move(*probe)] { return ProbeAudioTrackMenu(probe); },
                  [this, nTicket, nIndex, ptGlobal](AudioTrackMenu menu) {
                      if (nTicket != m_nTrackMenuTicket) {
                          return;
                      }
                      m_pClipList->viewport()->unsetCursor();
                      OpenAudioTrackMenu(nIndex, menu, ptGlobal);
                  });
}

void MainWindow::RequestSplitPoints() {
    // A look under way is for what is about to change: it gives up now, and the next starts after a
    // pause, so a run of changes (a clip opening, its record read) costs one look.
    ++*m_pSplitTicket;
    m_splitTimer.start();
}

void MainWindow::LookForSplitPoints() {
    if (m_split.mode == SplitMode::None || m_pPlayer->GetFileName().empty()) {
        m_pTimeline->SetSplitPoints({});
        return;
    }
    const uint64_t nTicket = ++*m_pSplitTicket;
    m_pSplitTasks->Run(
        [strPath = m_pPlayer->GetFileName(), selection = m_pPlayer->GetClipInfo(), split = m_split,
         pTicket = m_pSplitTicket, nTicket] {
            return SplitPointsOf(strPath, selection, split, [&] { return pTicket->load() != nTicket; });
        },
        [this, nTicket](const std::vector<double> &seconds) {
            if (nTicket != m_pSplitTicket->load()) {
                return;
            }
            std::vector<int> points;
            for (const double dSeconds : seconds) {
                points.push_back(static_cast<int>(std::min(std::lround(dSeconds * 100.0), long{INT32_MAX})));
            }
            m_pTimeline->SetSplitPoints(std::move(points));
        });
}

void MainWindow::ForgetPendingAudioTrackMenu() {
    // The entry a pending probe was asked for may now be another file, or gone: its result is dropped.
    ++m_nTrackMenuTicket;
    m_pClipList->viewport()->unsetCursor();
}

void MainWindow::OpenAudioTrackMenu(int nIndex, const AudioTrackMenu &model, const QPoint &ptGlobal) {
    if (m_pTrackMenu != nullptr) {
        m_pTrackMenu->deleteLater();
    }
    m_pTrackMenu = new QMenu(QStringLiteral("Audio Track"), this);
    m_pTrackMenu->setAttribute(Qt::WA_DeleteOnClose, false);
    if (model.entries.empty()) {
        // Nothing to choose: the menu says why rather than stay away without a word.
        QAction *pAction = m_pTrackMenu->addAction(QString::fromStdString(model.strMessage));
        pAction->setEnabled(false);
    }
    for (const AudioTrackMenu::Entry &entry : model.entries) {
        QAction *pAction = m_pTrackMenu->addAction(QString::fromStdString(entry.strLabel));
        pAction->setCheckable(true);
        pAction->setChecked(entry.bChecked);
        const uint32_t nTrack = entry.nTrack;
        // Queued: the choice may open a clip and show boxes, which is no work for a closing menu.
        connect(
            pAction, &QAction::triggered, this,
            [this, nIndex, nTrack] { m_pCommands->OnChooseAudioTrack(nIndex, nTrack); },
            Qt::QueuedConnection);
    }
    m_pTrackMenu->popup(ptGlobal);
}

void MainWindow::CreatePreviewCommands() {
    m_pPreviewView = std::make_unique<MainWindowPreviewView>(*this);
    m_pCommands = std::make_unique<PreviewCommands>(*m_pPlayer, m_clips, *m_pPreviewView);

    m_pTimeline->setToolTip(QStringLiteral(
        "Drag to seek. Left/Right: one second back/on. Home/End: selection start/end. I/O: mark start/end"));

    // The keys work in the main window and in the preview window, which has the focus after a clip
    // opens; the list box and the output folder box keep the keys they use themselves.
    m_pClipList->installEventFilter(new FocusedKeyKeeper(FocusedKeyKeeper::Keeps::ListKeys, m_pClipList));
    m_pOutputFolderEdit->installEventFilter(
        new FocusedKeyKeeper(FocusedKeyKeeper::Keeps::AllKeys, m_pOutputFolderEdit));
    auto *pOpener = new ListTrackMenuOpener(*this);
    pOpener->m_keyMenu = [this] { ShowCurrentAudioTrackMenu(); };
    m_pClipList->installEventFilter(pOpener);
    m_pClipList->viewport()->installEventFilter(pOpener);
    // Any change to the list (filled afresh, an entry removed or moved) makes a pending menu stale. The
    // list box's own signals are held while it is filled; its model's are not.
    QAbstractItemModel *pListModel = m_pClipList->model();
    const auto forget = [this] { ForgetPendingAudioTrackMenu(); };
    connect(pListModel, &QAbstractItemModel::modelReset, this, forget);
    connect(pListModel, &QAbstractItemModel::layoutChanged, this, forget);
    connect(pListModel, &QAbstractItemModel::rowsInserted, this, forget);
    connect(pListModel, &QAbstractItemModel::rowsRemoved, this, forget);
    connect(pListModel, &QAbstractItemModel::rowsMoved, this, forget);
    // The Menu key arrives as a context-menu request; Shift+F10 is the other key desktops use for it.
    auto *pMenuKey = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), this);
    connect(pMenuKey, &QShortcut::activated, this, [this] { ShowCurrentAudioTrackMenu(); });
    const std::pair<QKeySequence, std::function<void()>> keys[] = {
        {QKeySequence(Qt::Key_Space), [this] { OnSpaceKey(); }},
        {QKeySequence(Qt::Key_Left), [this] { m_pCommands->OnSeekBy(-PreviewCommands::kKeySeekStep); }},
        {QKeySequence(Qt::Key_Right), [this] { m_pCommands->OnSeekBy(PreviewCommands::kKeySeekStep); }},
        {QKeySequence(Qt::Key_Home), [this] { m_pCommands->OnGoToSelectionStart(); }},
        {QKeySequence(Qt::Key_End), [this] { m_pCommands->OnGoToSelectionEnd(); }},
        {QKeySequence(Qt::Key_I), [this] { m_pCommands->OnMarkStart(); }},
        {QKeySequence(Qt::Key_O), [this] { m_pCommands->OnMarkEnd(); }},
        {QKeySequence(Qt::Key_Delete), [this] { m_pCommands->OnRemoveClip(); }},
    };
    for (QWidget *pWindow : {static_cast<QWidget *>(this), static_cast<QWidget *>(m_pPreview.get())}) {
        for (const auto &[sequence, fnAction] : keys) {
            auto *pShortcut = new QShortcut(sequence, pWindow);
            // Only seeking repeats while a key is held: a held Delete must not empty the list.
            pShortcut->setAutoRepeat(sequence == QKeySequence(Qt::Key_Left) ||
                                     sequence == QKeySequence(Qt::Key_Right));
            connect(pShortcut, &QShortcut::activated, this, fnAction);
        }
    }
}

void MainWindow::OnSpaceKey() {
    // The key does what a click on the face on show would do, and nothing while that face is disabled.
    SkinButton *pFace = GetButton(!GetButton(kIdPause)->isHidden() ? kIdPause : kIdPlay);
    if (pFace->isEnabled()) {
        m_pCommands->OnPlayPause();
    }
}

bool MainWindow::IsClipLoaded() const {
    return m_pPlayer && m_pPlayer->IsClipLoaded();
}

void MainWindow::OnSeekScroll(int nPosition, bool bEndOfScroll) {
    // Each seek can hold the window's thread while the player settles; a drag sends one notice per
    // pointer move. The notices that arrive meanwhile collapse into one, and the latest position wins.
    m_pendingSeek = PendingSeek{nPosition, bEndOfScroll};
    if (m_bSeekQueued) {
        return;
    }
    m_bSeekQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_bSeekQueued = false;
            const PendingSeek seek = m_pendingSeek;
            m_pCommands->OnSeekScroll(seek.nPosition, seek.bEndOfScroll);
        },
        Qt::QueuedConnection);
}

void MainWindow::OnGraphNotify() {
    m_pCommands->HandleGraphEvents();
}

void MainWindow::OnVideoChanged() {
    const VideoPlacement placement = m_pPlayer->GetVideoSurface().GetPlacement();
    if (placement.bFullScreen != m_pPreview->IsFullScreen()) {
        m_pPreview->ToggleFullScreen();
    }
    m_pPreview->GetVideoArea()->update();
}

void MainWindow::PaintVideo(QPainter &painter, const QRect &rcArea) {
    if (!m_pPlayer || !m_pPlayer->GetVideoSurface().CopyFrame(m_videoFrame)) {
        return;
    }
    const QImage frame(m_videoFrame.pixels.data(), m_videoFrame.iWidth, m_videoFrame.iHeight,
                       m_videoFrame.iStride, QImage::Format_RGB32);
    const VideoPlacement placement = m_pPlayer->GetVideoSurface().GetPlacement();
    // The placement is in device pixels of the video area (see PreviewPlayerWindow::GetControlRect).
    const qreal dRatio = m_pPreview->GetVideoArea()->devicePixelRatioF();
    QRectF rcTarget(placement.iLeft / dRatio, placement.iTop / dRatio, placement.iWidth / dRatio,
                    placement.iHeight / dRatio);
    if (placement.bFullScreen || rcTarget.isEmpty()) {
        // Full screen hands over the picture at its own size; it is fitted to the screen here.
        const std::optional<VideoRect> fitted =
            PlaceVideo(rcArea.width(), rcArea.height(), m_videoFrame.iWidth, m_videoFrame.iHeight);
        if (!fitted) {
            return;
        }
        rcTarget = QRectF(fitted->iLeft, fitted->iTop, fitted->iWidth, fitted->iHeight);
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rcTarget, frame);
}

}  // namespace klangor
