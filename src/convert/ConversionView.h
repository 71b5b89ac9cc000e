#pragma once

#include <functional>
#include <string>

// The window a conversion batch drives: the main window on the desktop, the terminal for
// klangor-convert. Every call comes on the view's own thread (see RunOnViewThread).
class IConversionView {
public:
    enum class MessageIcon { Information, Warning, Exclamation };

    virtual ~IConversionView() = default;

    // The values of the output controls, taken when a batch starts.
    virtual std::string GetOutputFolderText() = 0;
    virtual int GetOutputType() = 0;  // 0 MP3, 1 WAV

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

    // A job has ended (converted when strFailure is empty). For views that list results per file.
    virtual void OnJobFinished(const std::string &strSource, const std::string &strOutput,
                               const std::string &strFailure) = 0;

    // Runs fn on the view's thread and returns when it has run. The batch calls it from the writer's
    // workers for each notice, never two at once; a window hands fn to its event loop and waits, a
    // terminal runs it at once.
    virtual void RunOnViewThread(const std::function<void()> &fn) = 0;
};
