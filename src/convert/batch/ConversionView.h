#pragma once

#include <string>

#include "settings/OutputFormat.h"

namespace klangor {

class ConversionJob;

// The window a conversion batch drives: the main window on the desktop, the terminal for
// klangor-convert. Every call comes on the view's own thread, but WakeViewThread.
class IConversionView {
public:
    enum class MessageIcon { Information, Warning, Exclamation };

    virtual ~IConversionView() = default;

    // The values of the output controls, taken when a batch starts.
    virtual std::string GetOutputFolderText() = 0;
    virtual OutputFormat GetOutputFormat() = 0;

    virtual void SetStatusText(const std::string &strText) = 0;
    virtual void SetProgressPos(int nPercent) = 0;  // 0..100
    // Shows "Stop Convert" and hides "Start to Convert" while converting, the other way round when idle.
    virtual void ShowConvertButtons(bool bConverting) = 0;
    virtual void EnableClipList(bool bEnable) = 0;
    // A Yes/No question with the application title as caption and the information icon.
    virtual bool AskYesNo(const std::string &strText) = 0;
    // A message with an OK button and the application title as caption.
    virtual void ShowMessage(const std::string &strText, MessageIcon icon) = 0;
    // Opens the folder in the desktop's file browser.
    virtual void OpenFolder(const std::string &strFolder) = 0;

    // A job has ended: converted when its GetError() is empty, into its output or, for a divided
    // source, its parts' outputs. For views that list results per file.
    virtual void OnJobFinished(const ConversionJob &job) = 0;

    // From the writer's workers, maybe several at once, when a job or the batch has ended: asks the
    // view's thread to call ConversionBatch::HandlePosted soon. Returns at once and never waits for the
    // view's thread, whatever that thread is doing.
    virtual void WakeViewThread() = 0;
};

}  // namespace klangor
