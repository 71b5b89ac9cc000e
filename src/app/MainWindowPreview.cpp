// The main window's clip list, selection and transport commands over the preview player.
#include "app/MainWindow.h"

#include "clips/ClipTime.h"
#include "clips/MediaPlayer.h"
#include "skin/VideoPreviewWindow.h"

#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QSignalBlocker>
#include <QSlider>

#include <string>
#include <vector>

namespace klangor {

namespace {

QString TimeText(const char *pszLabel, long lTime) {
    return QString::fromUtf8(pszLabel) + QString::fromStdString(FormatClipTime(static_cast<int32_t>(lTime)));
}

}  // namespace

bool MainWindow::IsClipLoaded() const {
    return m_pPlayer && m_pPlayer->IsClipLoaded();
}

void MainWindow::OnOpenFile() {
    AddMediaFiles(Shell().ChooseMediaFiles(this));
}

void MainWindow::OnDropFiles(const QStringList &files) {
    // One by one, as each dropped item is its own addition.
    for (const QString &strFile : files)
        AddMediaFiles(QStringList{strFile});
}

void MainWindow::AddCommandLineFiles() {
    for (const QString &strFile : m_commandLineFiles)
        AddMediaFiles(QStringList{strFile});
}

void MainWindow::AddMediaFiles(const QStringList &files) {
    if (files.isEmpty())
        return;
    const int nBefore = m_pPlayer->GetClipList().GetCount();
    std::vector<std::string> paths;
    for (const QString &strFile : files)
        paths.push_back(strFile.toStdString());
    m_pPlayer->AddClips(paths);
    RefreshClipList();
    if (m_pPlayer->GetClipList().GetCount() > 0 && !m_bPreviewPlaying && nBefore == 0) {
        SelectClip(0);
        StopPreview();
    }
}

void MainWindow::RefreshClipList() {
    // Setting the selection here is not the user's choice: it must not load a clip.
    const QSignalBlocker blocker(m_pClipList);
    const ClipList &clips = m_pPlayer->GetClipList();
    m_pClipList->clear();
    for (int i = 0; i < clips.GetCount(); ++i) {
        auto *pItem = new QListWidgetItem(QString::fromStdString(ClipDisplayName(clips.GetClip(i))));
        pItem->setToolTip(QString::fromStdString(clips.GetClip(i)));
        m_pClipList->addItem(pItem);
    }
    m_pClipList->setCurrentRow(clips.GetCurrentIndex());
}

void MainWindow::SelectClip(int nIndex) {
    m_pPlayer->LoadClipAt(nIndex);
    if (!m_pPlayer->IsClipLoaded()) {
        EnableTransport(false);
        return;
    }
    ShowPlayButtons(true);
    ShowControl(kIdMute, true);
    ShowControl(kIdUnmute, false);
    m_bPreviewPlaying = true;
    m_bMuted = false;
    m_pVolumeSlider->setEnabled(true);
    EnableTransport(true);
    m_pTimeline->setRange(0, static_cast<int>(m_pPlayer->GetClipInfo().nDuration));
    SetNormalSpeed();
    UpdateTitle();
    UpdateSelectionText();
}

void MainWindow::StopPreview() {
    m_pPlayer->StopClip();
    ShowPlayButtons(false);
    m_bPreviewPlaying = false;
}

void MainWindow::PlayPausePreview() {
    ShowPlayButtons(!m_bPreviewPlaying);
    const int nSelection = m_pClipList->currentRow();
    if (!m_bPreviewPlaying && nSelection != m_nLastPlayedIndex) {
        m_nLastPlayedIndex = nSelection;
        SelectClip(nSelection);
        m_bPreviewPlaying = true;
        return;
    }
    m_pPlayer->TogglePause();
    m_bPreviewPlaying = !m_bPreviewPlaying;
}

void MainWindow::ShowPlayButtons(bool bPlaying) {
    ShowControl(kIdPause, bPlaying);
    ShowControl(kIdPlay, !bPlaying);
}

void MainWindow::EnableTransport(bool bEnable) {
    for (int nId : {kIdPlay, kIdPause, kIdMute, kIdUnmute, kIdStop, kIdStepFrame})
        EnableControl(nId, bEnable);
}

void MainWindow::SetNormalSpeed() {
    m_pPlayer->SetRate(1.0);
    SetControlText(kIdRateText, QString::asprintf("%0.2f X", m_pPlayer->GetRate()));
    m_pRateSlider->setValue(100);
}

void MainWindow::UpdateSelectionText() {
    const ClipInfo &info = m_pPlayer->GetClipInfo();
    const long lStart = static_cast<int32_t>(info.nStart);
    const long lEnd = static_cast<int32_t>(info.nEnd);
    SetControlText(kIdSelectionTime, TimeText("Selection: ", lStart) + QStringLiteral(" -- ") +
                                         QString::fromStdString(FormatClipTime(static_cast<int32_t>(lEnd))));
    m_pTimeline->SetSelection(static_cast<int>(lStart), static_cast<int>(lEnd));
    m_pTimeline->repaint();
    SetControlText(kIdSelectionDuration, TimeText("Duration: ", lEnd - lStart));
}

void MainWindow::OnPlayPause() {
    PlayPausePreview();
}

void MainWindow::OnStop() {
    StopPreview();
}

void MainWindow::OnStepFrame() {
    m_pPlayer->StepFrame();
    ShowPlayButtons(false);
    m_bPreviewPlaying = false;
}

void MainWindow::OnMute() {
    ShowControl(kIdMute, m_bMuted);
    ShowControl(kIdUnmute, !m_bMuted);
    m_pVolumeSlider->setEnabled(m_bMuted);
    m_bMuted = !m_bMuted;
    m_pPlayer->ToggleMute();
}

void MainWindow::OnNormalSpeed() {
    SetNormalSpeed();
    if (!m_bPreviewPlaying)
        PlayPausePreview();
}

void MainWindow::OnSetStart() {
    m_pPlayer->SetSelection(m_pTimeline->value(), -1);
    UpdateSelectionText();
    m_pPlayer->WriteCutInfo();
}

void MainWindow::OnSetEnd() {
    m_pPlayer->SetSelection(-1, m_pTimeline->value());
    UpdateSelectionText();
    m_pPlayer->WriteCutInfo();
}

void MainWindow::OnSelectAll() {
    m_pPlayer->SetSelection(0, static_cast<int32_t>(m_pPlayer->GetClipInfo().nDuration));
    UpdateSelectionText();
    m_pPlayer->WriteCutInfo();
}

void MainWindow::OnRemoveClip() {
    const int nSelection = m_pClipList->currentRow();
    if (m_pClipList->count() == 0 || nSelection < 0)
        return;
    if (m_pPlayer->GetClipList().GetCurrentIndex() == nSelection)
        StopPreview();
    m_pPlayer->GetClipList().RemoveClip(nSelection);
    RefreshClipList();
}

void MainWindow::OnMoveClipUp() {
    const int nSelection = m_pClipList->currentRow();
    if (nSelection < 0)
        return;
    m_pPlayer->GetClipList().MoveClipUp(nSelection);
    RefreshClipList();
}

void MainWindow::OnMoveClipDown() {
    const int nSelection = m_pClipList->currentRow();
    if (nSelection < 0)
        return;
    m_pPlayer->GetClipList().MoveClipDown(nSelection);
    RefreshClipList();
}

void MainWindow::OnClipSelectionChange() {
    const int nSelection = m_pClipList->currentRow();
    if (m_bPreviewPlaying || nSelection < 0)
        return;
    m_pClipList->setEnabled(false);
    SelectClip(nSelection);
    StopPreview();
    m_pClipList->setEnabled(true);
}

void MainWindow::OnClipDoubleClick() {
    const int nSelection = m_pClipList->currentRow();
    if (nSelection < 0)
        return;
    m_pPlayer->GetClipList().SetCurrentIndex(nSelection);
    StopPreview();
    SelectClip(nSelection);
}

void MainWindow::OnSeekScroll(int nPosition, bool bEndOfScroll) {
    m_bSliderIdle = bEndOfScroll;
    m_pPlayer->SetPosition(nPosition);
}

void MainWindow::OnVolumeScroll(int nPosition, bool bEndOfScroll) {
    m_bSliderIdle = bEndOfScroll;
    m_pPlayer->SetVolume(nPosition);
}

void MainWindow::OnRateScroll(int nPosition, bool bEndOfScroll) {
    m_bSliderIdle = bEndOfScroll;
    m_pPlayer->SetRate(nPosition / 100.0);
    SetControlText(kIdRateText, QString::asprintf("%0.2f X", m_pPlayer->GetRate()));
}

void MainWindow::OnTimer() {
    long lPosition = 0;
    m_pPlayer->GetCurrentPosition(lPosition);
    SetControlText(kIdCurrentTime, TimeText("Current: ", lPosition));
    if (m_bSliderIdle)
        m_pTimeline->setValue(static_cast<int>(lPosition));
}

void MainWindow::OnGraphNotify() {
    HandleGraphEvents();
}

void MainWindow::HandleGraphEvents() {
    GraphEvent event;
    while (m_pPlayer->GetGraphEvent(event)) {
        if (event.lCode != kEventComplete)
            continue;
        const int nCurrent = m_pPlayer->GetClipList().GetCurrentIndex();
        StopPreview();
        if (nCurrent + 1 < m_pPlayer->GetClipList().GetCount()) {
            SelectClip(nCurrent + 1);
            RefreshClipList();
        }
    }
}

void MainWindow::OnVideoChanged() {
    const VideoPlacement placement = m_pPlayer->GetVideoSurface().GetPlacement();
    if (placement.bFullScreen != m_pPreview->IsFullScreen())
        m_pPreview->ToggleFullScreen();
    m_pPreview->GetVideoArea()->update();
}

void MainWindow::PaintVideo(QPainter &painter, const QRect &rcArea) {
    if (!m_pPlayer || !m_pPlayer->GetVideoSurface().CopyFrame(m_videoFrame))
        return;
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
        if (!fitted)
            return;
        rcTarget = QRectF(fitted->iLeft, fitted->iTop, fitted->iWidth, fitted->iHeight);
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rcTarget, frame);
}

}  // namespace klangor
