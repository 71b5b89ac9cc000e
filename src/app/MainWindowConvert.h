#pragma once

#include "convert/ConversionBatch.h"
#include "convert/ConversionView.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace klangor {

class MainWindow;

// The main window's conversion: holds the batch, routes "Start to Convert" and "Stop Convert" to it,
// feeds the close check, and is the batch's view on the window's controls. Window thread only, except
// RunOnViewThread, which the writer's workers call, one at a time, to hand each notice over.
//
// A notice handed over waits for the window thread; it is given up (not run) once the door is shut,
// which the destructor does before it stops and collects the writer. So destroying the window while a
// writer waits on it never deadlocks, and no notice touches a widget that is going away. The notice
// itself travels through our own mutex, and Qt only carries a wake-up without data, so the hand-over is
// visible to the thread checker.
class MainWindowConversion : public QObject, public IConversionView {
    Q_OBJECT
public:
    // Registers itself with the window's close check and its Start/Stop buttons.
    explicit MainWindowConversion(MainWindow &window);
    MainWindowConversion(const MainWindowConversion &) = delete;
    MainWindowConversion &operator=(const MainWindowConversion &) = delete;
    ~MainWindowConversion() override;

    void OnStartConvert();
    void OnStopConvert();
    // True from the moment Start is pressed until the batch's end handling (the completion question
    // included) has finished on the window thread.
    bool IsConverting() const { return m_bBatchActive.load(); }

    // Where the jobs' decoders come from; taken at the next start. The default reads media with FFmpeg.
    void SetDecoderFactory(AudioDecoderFactory decoderFactory);
    // Called on the window thread after each notice has been handled (and the status text repainted).
    void SetNoticeObserver(std::function<void()> fnObserver) { m_fnNoticeObserver = std::move(fnObserver); }
    ConversionBatch &GetBatch() { return *m_pBatch; }

    // --- IConversionView, on the window thread ---
    std::string GetOutputFolderText() override;
    int GetOutputType() override;
    void SetStatusText(const std::string &strText) override;
    void SetProgressPos(int nPercent) override;
    void ShowConvertButtons(bool bConverting) override;
    void EnableClipList(bool bEnable) override;
    bool AskYesNo(const std::string &strText) override;
    void ShowMessage(const std::string &strText, MessageIcon icon) override;
    void OpenFolder(const std::string &strFolder) override;
    void OnJobFinished(const std::string &strSource, const std::string &strOutput,
                       const std::string &strFailure) override;
    // From a writer's worker: queued to the window thread and waited for.
    void RunOnViewThread(const std::function<void()> &fn) override;

private slots:
    // Runs the notice a writer is waiting on, if any.
    void RunPendingNotice();

private:
    enum class CallState { Idle, Pending, Running, Done };

    void AfterNotice();
    void ShutDoor();

    MainWindow &m_window;
    // The hand-over between a waiting writer and the window thread, guarded by m_doorMutex.
    std::mutex m_doorMutex;
    std::condition_variable m_doorChanged;
    bool m_bDoorShut = false;
    CallState m_callState = CallState::Idle;
    const std::function<void()> *m_pPendingCall = nullptr;
    std::atomic<bool> m_bBatchActive{false};
    bool m_bEndHandled = false;  // the batch's end handling ran within the current notice
    std::function<void()> m_fnNoticeObserver;
    std::unique_ptr<ConversionBatch> m_pBatch;
};

}  // namespace klangor
