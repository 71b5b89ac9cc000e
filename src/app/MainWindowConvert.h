#pragma once

#include "convert/batch/ConversionBatch.h"
#include "convert/batch/ConversionView.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>

namespace klangor {

class MainWindow;

// The main window's conversion: holds the batch, routes "Start to Convert" and "Stop Convert" to it,
// feeds the close check, and is the batch's view on the window's controls. Window thread only, except
// WakeViewThread, which the writer's workers call when a job or the batch has ended: it queues a
// wake-up without data and returns at once; the ends themselves wait in the batch, under its own mutex,
// for the window's thread to take them. The progress is read from the jobs by the window's 100 ms timer.
// So no worker ever waits for the window, whatever the window is doing (a box open, a long repaint).
class MainWindowConversion : public QObject, public IConversionView {
    Q_OBJECT
public:
    // Registers itself with the window's close check; the window wires its Start/Stop buttons here.
    explicit MainWindowConversion(MainWindow &window);
    MainWindowConversion(const MainWindowConversion &) = delete;
    MainWindowConversion &operator=(const MainWindowConversion &) = delete;
    ~MainWindowConversion() override;

    void OnStartConvert();
    void OnStopConvert();
    // True from the moment Start is pressed (while the jobs are being made, too) until the batch's end
    // handling (the completion question included) has finished on the window thread.
    bool IsConverting() const { return m_bPreparing || m_pBatch->IsConverting(); }
    // The window's timer: shows the running batch's progress.
    void OnTimer();
    // The settings dialog was closed: the files that start from now on take what it left.
    void OnSettingsChanged();

    // Where the jobs' decoders come from; taken at the next start. The default reads media with FFmpeg.
    void SetDecoderFactory(AudioDecoderFactory decoderFactory);
    // Called on the window thread after each status text the batch shows, and after each batch of
    // posted ends has been handled.
    void SetNoticeObserver(std::function<void()> fnObserver) { m_fnNoticeObserver = std::move(fnObserver); }
    ConversionBatch &GetBatch() { return *m_pBatch; }

    // --- IConversionView, on the window thread ---
    std::string GetOutputFolderText() override;
    OutputFormat GetOutputFormat() override;
    void SetStatusText(const std::string &strText) override;
    void SetProgressPos(int nPercent) override;
    void ShowConvertButtons(bool bConverting) override;
    void EnableClipList(bool bEnable) override;
    bool AskYesNo(const std::string &strText) override;
    void ShowMessage(const std::string &strText, MessageIcon icon) override;
    void OpenFolder(const std::string &strFolder) override;
    void OnJobFinished(const ConversionJob &job) override;
    // From a writer's worker: queues a call of HandlePosted and returns.
    void WakeViewThread() override;

private slots:
    void HandlePosted();

private:
    MainWindow &m_window;
    // Start's jobs are being made on the window's background thread; Stop meanwhile starts nothing.
    bool m_bPreparing = false;
    std::shared_ptr<std::atomic<bool>> m_pStopPreparing = std::make_shared<std::atomic<bool>>(false);
    std::function<void()> m_fnNoticeObserver;
    std::unique_ptr<ConversionBatch> m_pBatch;
};

}  // namespace klangor
