#include "media/MediaChapters.h"

#include "media/FfmpegHandles.h"

namespace klangor {

std::vector<MediaChapter> ReadMediaChapters(const std::string &strPath) {
    std::vector<MediaChapter> chapters;
    int iStatus = 0;
    const FormatPtr pFormat = OpenMediaFile(strPath, iStatus);
    if (!pFormat) {
        return chapters;
    }
    const AVRational nanoseconds{1, 1000000000};
    for (unsigned i = 0; i < pFormat->nb_chapters; ++i) {
        const AVChapter *pChapter = pFormat->chapters[i];
        if (pChapter->time_base.num <= 0 || pChapter->time_base.den <= 0) {
            continue;
        }
        MediaChapter chapter;
        chapter.llStartNs = av_rescale_q(pChapter->start, pChapter->time_base, nanoseconds);
        chapter.llEndNs = av_rescale_q(pChapter->end, pChapter->time_base, nanoseconds);
        if (const AVDictionaryEntry *pTitle = av_dict_get(pChapter->metadata, "title", nullptr, 0)) {
            chapter.strTitle = pTitle->value;
        }
        if (chapter.llStartNs < 0 || (!chapters.empty() && chapter.llStartNs <= chapters.back().llStartNs)) {
            continue;
        }
        chapters.push_back(std::move(chapter));
    }
    return chapters;
}

}  // namespace klangor
