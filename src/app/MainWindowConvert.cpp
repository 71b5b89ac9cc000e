// The main window's side of a conversion batch: the Start/Stop buttons, the batch's view on the
// window's controls, and the hand-over of each notice from the writer's workers (one at a time).
#include "app/MainWindowConvert.h"

#include "app/MainWindow.h"
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
    m_window.SetCloseCheck([this] { return !IsConverting() || m_pBatch->CanClose(); });
    m_window.SetConversionCommands([this] { OnStartConvert(); }, [this] { OnStopConvert(); });
}

MainWindowConversion::~MainWindowConversion() {
    m_window.SetConvertingProbe({});
    m_window.SetCloseCheck({});
    m_window.SetConversionCommands({}, {});
    // A writer waiting on the window thread is let go first; it then sees the stop after its current
    // chunk, and every notice it still sends is given up instead of run.
    ShutDoor();
    m_pBatch->OnStopConvert();
    m_pBatch.reset();
}

void MainWindowConversion::SetDecoderFactory(AudioDecoderFactory decoderFactory) {
    if (IsConverting())
        return;
    m_pBatch = std::make_unique<ConversionBatch>(*this, m_window.GetSettings(), std::move(decoderFactory));
}

void MainWindowConversion::OnStartConvert() {
    Q_ASSERT(QThread::currentThread() == m_window.thread());
    const ClipList &clips = m_window.GetPlayer()->GetClipList();
    if (IsConverting() || clips.GetCount() == 0)
        return;
    // The last batch's writer may still be between its end handling and the end of its thread.
    m_pBatch->WaitUntilIdle();
    m_bBatchActive = true;
    m_bEndHandled = false;
    m_pBatch->SetJobsAtOnce(m_window.OneFileAtATime() ? 1 : 0);
    m_pBatch->SetLoudnessTarget(m_window.Loudness());
    m_pBatch->OnStartConvert(clips);
    // A writer that could not start has been reported and the buttons are back; nothing runs. A started
    // one cannot have ended yet: its first notice waits for this thread.
    if (!m_pBatch->IsConverting())
        m_bBatchActive = false;
}

void MainWindowConversion::OnStopConvert() {
    m_pBatch->OnStopConvert();
}

std::string MainWindowConversion::GetOutputFolderText() {
    // The folder is typed or chosen as text; the batch joins the sources' byte names to its bytes.
    return QFile::encodeName(m_window.GetOutputFolder()).toStdString();
}

int MainWindowConversion::GetOutputType() {
    return m_window.GetOutputType() == kOutputTypeWav ? kOutputTypeWav : kOutputTypeMp3;
}

void MainWindowConversion::SetStatusText(const std::string &strText) {
    m_window.SetControlText(kIdStatus, FromUtf8(strText));
}

void MainWindowConversion::SetProgressPos(int nPercent) {
    m_window.SetProgressPosition(nPercent);
}

void MainWindowConversion::ShowConvertButtons(bool bConverting) {
    m_window.ShowControl(kIdStartConvert, !bConverting);
    m_window.ShowControl(kIdStopConvert, bConverting);
    if (!bConverting)
        m_bEndHandled = true;
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

void MainWindowConversion::OnJobFinished(const std::string &, const std::string &, const std::string &) {
    // The window names failed jobs once, after the batch; it keeps no list per file.
}

void MainWindowConversion::RunOnViewThread(const std::function<void()> &fn) {
    if (QThread::currentThread() == m_window.thread()) {
        fn();
        AfterNotice();
        return;
    }
    std::unique_lock lock(m_doorMutex);
    if (m_bDoorShut)
        return;
    m_pPendingCall = &fn;
    m_callState = CallState::Pending;
    lock.unlock();
    // Only a wake-up crosses through Qt; the call itself is read under our mutex.
    QMetaObject::invokeMethod(this, "RunPendingNotice", Qt::QueuedConnection);
    lock.lock();
    m_doorChanged.wait(lock, [this] {
        return m_callState == CallState::Done || (m_bDoorShut && m_callState == CallState::Pending);
    });
    m_callState = CallState::Idle;
    m_pPendingCall = nullptr;
}

void MainWindowConversion::RunPendingNotice() {
    const std::function<void()> *pCall = nullptr;
    {
        std::lock_guard lock(m_doorMutex);
        if (m_bDoorShut || m_callState != CallState::Pending)
            return;
        m_callState = CallState::Running;
        pCall = m_pPendingCall;
    }
    (*pCall)();
    AfterNotice();
    {
        std::lock_guard lock(m_doorMutex);
        m_callState = CallState::Done;
    }
    m_doorChanged.notify_all();
}

void MainWindowConversion::ShutDoor() {
    {
        std::lock_guard lock(m_doorMutex);
        m_bDoorShut = true;
    }
    m_doorChanged.notify_all();
}

void MainWindowConversion::AfterNotice() {
    // The status text draws on the skin without a background of its own: the skin behind it is
    // repainted, or the old, longer text would show through the new one.
    if (QWidget *pStatus = m_window.GetControl(kIdStatus))
        m_window.update(pStatus->geometry());
    if (m_bEndHandled) {
        m_bEndHandled = false;
        m_bBatchActive = false;
    }
    if (m_fnNoticeObserver)
        m_fnNoticeObserver();
}

}  // namespace klangor
