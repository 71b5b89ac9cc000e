#include "player/PlayerError.h"

#include <cstdio>
#include <iterator>

namespace klangor {

namespace {

// One row per failure, in the order of PlayerError; each text takes the status once, as one unsigned.
struct ErrorText {
    PlayerError error;
    const char *pszFormat;
};

constexpr ErrorText kErrorTexts[] = {
    {PlayerError::EngineStartup, "CoInitialize Failed!\r\n"},
    {PlayerError::CreatePlayback,
     "FAILED(hr=0x%x) in CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, "
     "IID_IGraphBuilder, (void **)&m_pGB)\n"},
    {PlayerError::HookEvents,
     "FAILED(hr=0x%x) in m_pME->SetNotifyWindow((OAHWND)m_gpDlg->m_hWnd, WM_GRAPHNOTIFY, 0)\n"},
    {PlayerError::OpenFile, "FAILED(hr=0x%x) in m_pGB->RenderFile(wFile, NULL)\n"},
    {PlayerError::ReadDuration, "FAILED(hr=0x%x) in m_pMS->GetDuration( &llTmp )\n"},
    {PlayerError::SetPositions,
     "FAILED(hr=0x%x) in m_pMS->SetPositions( &llBeginPos, AM_SEEKING_AbsolutePositioning, "
     "&llEndPos, AM_SEEKING_AbsolutePositioning )\n"},
    {PlayerError::ReadPositions, "FAILED(hr=0x%x) in m_pMS->GetPositions( &llBeginPos, &llEndPos )\n"},
    {PlayerError::SetVideoWindow, "FAILED(hr=0x%x) in SetVideoWindow( m_iVideoWndResID )\n"},
    {PlayerError::SetPlayerWindow, "FAILED(hr=0x%x) in SetPlayerWindow()\n"},
    {PlayerError::PlaceVideo,
     "FAILED(hr=0x%x) in m_pVW->SetWindowPosition( iLeft+1, iTop+1, lWidth-1, lHeight-1 )\n"},
    {PlayerError::Register, "Failed to register filter graph with ROT!  hr=0x%x"},
    {PlayerError::Run, "FAILED(hr=0x%x) in m_pMC->Run()\n"},
    {PlayerError::ReadVisible, "Failed(%08x) in m_pVW->get_Visible()!\r\n"},
    {PlayerError::ReadVolume, "Failed to read audio volume!  hr=0x%x\r\n"},
    {PlayerError::MuteVolume, "FAILED(hr=0x%x) in m_pBA->put_Volume(lVolume)\n"},
    {PlayerError::SetVolume, "FAILED(hr=0x%x) in m_pBA->put_Volume(m_lVolume)\n"},
    {PlayerError::ReadFullScreen, "FAILED(hr=0x%x) in m_pVW->get_FullScreenMode(&lMode)\n"},
    {PlayerError::SetFullScreen, "FAILED(hr=0x%x) in m_pVW->put_FullScreenMode(lMode)\n"},
    {PlayerError::SetAudioTrack, "FAILED(hr=0x%x) in m_pGraph->SetAudioTrack(nTrack)\n"},
};

constexpr bool RowsFollowTheEnum() {
    for (size_t i = 0; i < std::size(kErrorTexts); ++i) {
        if (static_cast<size_t>(kErrorTexts[i].error) != i) {
            return false;
        }
    }
    return std::size(kErrorTexts) == static_cast<size_t>(PlayerError::SetAudioTrack) + 1;
}
static_assert(RowsFollowTheEnum(), "one row per PlayerError, in its order");

}  // namespace

std::string PlayerErrorText(PlayerError error, int iStatus) {
    // The status shows as the bits of the platform's code, negative ones in two's complement.
    char szText[256];
    std::snprintf(szText, sizeof szText, kErrorTexts[static_cast<size_t>(error)].pszFormat,
                  static_cast<unsigned>(iStatus));
    return szText;
}

}  // namespace klangor
