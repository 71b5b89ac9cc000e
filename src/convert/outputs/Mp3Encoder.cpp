#include "convert/outputs/Mp3Encoder.h"

namespace klangor {

LamePtr CreateLameEncoder(const EncoderSettings &settings, uint32_t nInRate, bool bWriteHeader,
                          bool &bInitFailed) {
    bInitFailed = false;
    LamePtr pLame(lame_init());
    if (!pLame) {
        return pLame;
    }
    lame_global_flags *gfp = pLame.get();
    lame_set_in_samplerate(gfp, static_cast<int>(nInRate));
    lame_set_out_samplerate(gfp, settings.m_iSampleRate);
    lame_set_quality(gfp, settings.m_iQuality);
    lame_set_brate(gfp, settings.m_iBitrate);
    lame_set_mode(gfp, static_cast<MPEG_mode>(settings.m_iChannelMode.load()));
    lame_set_copyright(gfp, settings.m_bCopyright);
    lame_set_original(gfp, settings.m_bOriginal);
    lame_set_error_protection(gfp, settings.m_bCrc);
    lame_set_extension(gfp, settings.m_bPrivate);
    lame_set_VBR(gfp, static_cast<vbr_mode>(settings.m_iVbrMode.load()));
    lame_set_bWriteVbrTag(gfp, bWriteHeader ? 1 : 0);
    lame_set_VBR_min_bitrate_kbps(gfp, settings.m_iVbrMinBitrate);
    lame_set_VBR_max_bitrate_kbps(gfp, settings.m_iVbrMaxBitrate);
    lame_set_VBR_q(gfp, settings.m_iVbrQuality);
    if (lame_init_params(gfp) < 0) {
        bInitFailed = true;
        pLame.reset();
    }
    return pLame;
}

}  // namespace klangor
