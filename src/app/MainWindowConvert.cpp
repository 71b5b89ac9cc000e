// The main window's side of a conversion batch: the Start/Stop buttons, the batch's view on the
// window's controls, the progress on the window's timer and the ends the writer's workers post.
#include "app/MainWindowConvert.h"

#include "app/MainWindow.h"
#include "common/BackgroundTasks.h"
#include "player/MediaPlayer.h"
#include "common/Version.h"

#include <QFile>
#include <QThread>
#include <QUrl>

namespace klangor {

namespace {

QString FromUtf8(const std::string &str) {
    return QString::fromUtf8(str.data(), static_cast<qsizetype>(str.size()));
}

}  // namespace

MainWindowConversion::MainWindowConversion(MainWindow &window)
    : m_window(window), m_pBatch(std::make_unique<ConversionBatch>(*this, window.GetSettings())) {
    m_window.SetConvertingProbe([this] { return IsConverting(); });
    // Once the window has finished a batch's end handling it may close, even while the writer's thread
    // is still on its way out; before that the batch's own check decides, and tells the user.
    m_window.SetCloseCheck([this] { return !IsConverting() || m_pBatch->CanClose(m_bPreparing); });
}

MainWindowConversion::~MainWindowConversion() {
    m_window.SetConvertingProbe({});
    m_window.SetCloseCheck({});
    // The workers see the stop after their current chunk and end; what they post is dropped with this
    // object, never run.
    m_pBatch->OnStopConvert();
    m_pBatch.reset();
}

void MainWindowConversion::SetDecoderFactory(AudioDecoderFactory decoderFactory) {
    if (IsConverting()) {
        return;
    }
    m_pBatch = std::make_unique<ConversionBatch>(*this, m_window.GetSettings(), std::move(decoderFactory));
}

void MainWindowConversion::OnStartConvert() {
    Q_ASSERT(QThread::currentThread() == m_window.thread());
    const ClipList &clips = m_window.GetClipList();
    if (IsConverting() || clips.GetCount() == 0) {
        return;
    }
    m_pBatch->SetJobsAtOnce(m_window.OneFileAtATime() ? 1 : 0);
    m_pBatch->SetLoudnessTarget(m_window.Loudness());
    m_pBatch->SetSplitSettings(m_window.Split());
    BatchNaming naming;
    for (int i = 0; m_window.MirrorsFolders() && i < clips.GetCount(); ++i) {
        naming.subfolders.push_back(m_window.SubfolderOf(clips.GetClip(i)));
    }
    m_pBatch->SetNaming(std::move(naming));
    if (GetOutputFormat() != OutputFormat::Copy) {
        m_pBatch->OnStartConvert(clips);
        return;
    }
    // A copy's name follows its source's codec, which only opening the source tells: for a long list
    // that would hold the window, so a copy's jobs are made in the background, from the list as it is
    // now. Meanwhile Stop is offered and the window may not close, as during the batch.
    m_bPreparing = true;
    m_pStopPreparing = std::make_shared<std::atomic<bool>>(false);
    ShowConvertButtons(true);
    SetStatusText("Preparing " + std::to_string(clips.GetCount()) +
                  (clips.GetCount() == 1 ? " file" : " files"));
    auto pRequest = std::make_shared<const BatchRequest>(m_pBatch->RequestFor(clips));
    m_window.GetTasks().Run(
        [pRequest, pStop = m_pStopPreparing] {
            return std::make_shared<PreparedJobs>(
                PrepareBatchJobs(*pRequest, false, [&] { return pStop->load(); }));
        },
        [this, pRequest, pStop = m_pStopPreparing](const std::shared_ptr<PreparedJobs> &pPrepared) {
            m_bPreparing = false;
            if (pStop->load()) {
                ShowConvertButtons(false);
                SetStatusText("");
                return;
            }
            m_pBatch->StartPrepared(*pRequest, std::move(*pPrepared));
        });
}

void MainWindowConversion::OnStopConvert() {
    if (m_bPreparing) {
        *m_pStopPreparing = true;
        return;
    }
    m_pBatch->OnStopConvert();
}

void MainWindowConversion::OnTimer() {
    m_pBatch->ShowProgress();
}

void MainWindowConversion::OnSettingsChanged() {
    m_pBatch->OnSettingsChanged();
    m_pBatch->SetJobsAtOnce(m_window.OneFileAtATime() ? 1 : 0);
    m_pBatch->SetLoudnessTarget(m_window.Loudness());
    m_pBatch->SetSplitSettings(m_window.Split());
}

std::string MainWindowConversion::GetOutputFolderText() {
    // The folder is typed or chosen as text; the batch joins the sources' byte names to its bytes.
    return QFile::encodeName(m_window.GetOutputFolder()).toStdString();
}

OutputFormat MainWindowConversion::GetOutputFormat() {
    // Before the window's initialisation (-1) the batch writes MP3, as the buttons then show.
    return OutputFormatOf(m_window.GetOutputType());
}

void MainWindowConversion::SetStatusText(const std::string &strText) {
    m_window.SetControlText(kIdStatus, FromUtf8(strText));
    // The status text draws on the skin without a background of its own: the skin behind it is
    // repainted, or the old, longer text would show through the new one.
    if (QWidget *pStatus = m_window.GetControl(kIdStatus)) {
        m_window.update(pStatus->geometry());
    }
    if (m_fnNoticeObserver) {
        m_fnNoticeObserver();
    }
}

void MainWindowConversion::SetProgressPos(int nPercent) {
    m_window.SetProgressPosition(nPercent);
}

void MainWindowConversion::ShowConvertButtons(bool bConverting) {
    m_window.ShowControl(kIdStartConvert, !bConverting);
    m_window.ShowControl(kIdStopConvert, bConverting);
}

void MainWindowConversion::EnableClipList(bool bEnable) {
    m_window.EnableControl(kIdClipList, bEnable);
}

bool MainWindowConversion::AskYesNo(const std::string &strText) {
    return m_window.Boxes().AskYesNo(&m_window, QString::fromUtf8(kAppTitle), FromUtf8(strText),
                                     IMessageBoxes::Icon::Information);
}

void MainWindowConversion::ShowMessage(const std::string &strText, MessageIcon icon) {
    const IMessageBoxes::Icon boxIcon = icon == MessageIcon::Information ? IMessageBoxes::Icon::Information
                                                                         : IMessageBoxes::Icon::Exclamation;
    m_window.Boxes().ShowMessage(&m_window, QString::fromUtf8(kAppTitle), FromUtf8(strText), boxIcon);
}

void MainWindowConversion::OpenFolder(const std::string &strFolder) {
    m_window.Shell().OpenUrl(QUrl::fromLocalFile(FromUtf8(strFolder)));
}

void MainWindowConversion::OnJobFinished(const ConversionJob &) {
    // The window names failed jobs, and the notes of converted ones, once after the batch; it keeps
    // no list per file.
}

void MainWindowConversion::WakeViewThread() {
    // Only a wake-up crosses through Qt; what ended is read from the batch under its own mutex.
    QMetaObject::invokeMethod(this, "HandlePosted", Qt::QueuedConnection);
}

void MainWindowConversion::HandlePosted() {
    m_pBatch->HandlePosted();
    if (m_fnNoticeObserver) {
        m_fnNoticeObserver();
    }
}

}  // namespace klangor
