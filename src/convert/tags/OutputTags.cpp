#include "convert/tags/OutputTags.h"

#include <fcntl.h>
#include <unistd.h>

#include <taglib/attachedpictureframe.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/textidentificationframe.h>

#include "common/CheckedFileIo.h"
#include "convert/batch/ConversionJob.h"

namespace klangor {

namespace {

bool IsEmpty(const MediaTags &tags) {
    for (const std::string *pText :
         {&tags.strTitle, &tags.strArtist, &tags.strAlbum, &tags.strAlbumArtist, &tags.strDate,
          &tags.strTrack, &tags.strDisc, &tags.strGenre, &tags.strComment, &tags.strComposer,
          &tags.strLanguage, &tags.strReplayGainGain, &tags.strReplayGainPeak}) {
        if (!pText->empty()) {
            return false;
        }
    }
    return tags.cover.empty();
}

TagLib::String Utf8(const std::string &strText) {
    return TagLib::String(strText, TagLib::String::UTF8);
}

// Latin-1 is what every reader understands; anything beyond it needs UTF-16 in version 2.3.
TagLib::String::Type EncodingFor(const TagLib::String &text) {
    for (const wchar_t c : text) {
        if (static_cast<unsigned>(c) > 0xFF) {
            return TagLib::String::UTF16;
        }
    }
    return TagLib::String::Latin1;
}

void AddText(TagLib::ID3v2::Tag &tag, const char *szFrame, const std::string &strText) {
    if (strText.empty()) {
        return;
    }
    const TagLib::String text = Utf8(strText);
    auto *pFrame = new TagLib::ID3v2::TextIdentificationFrame(szFrame, EncodingFor(text));
    pFrame->setText(text);
    tag.addFrame(pFrame);  // the tag owns its frames
}

// A user-defined text frame, as players look up ReplayGain: description and value, both plain ASCII.
void AddUserText(TagLib::ID3v2::Tag &tag, const char *szDescription, const std::string &strValue) {
    if (strValue.empty()) {
        return;
    }
    auto *pFrame = new TagLib::ID3v2::UserTextIdentificationFrame(TagLib::String::Latin1);
    pFrame->setDescription(szDescription);
    pFrame->setText(Utf8(strValue));
    tag.addFrame(pFrame);
}

}  // namespace

MediaTags TagsForJob(const ConversionJob &job, int nTrack) {
    if (!job.WritesTags()) {
        return {};
    }
    MediaTags tags = job.GetSourceTags() ? *job.GetSourceTags() : ReadMediaTags(job.GetSourcePath(), nTrack);
    const ConversionJob::PartTags &part = job.GetPartTags();
    for (auto [pstrTag, pstrPart] :
         {std::pair{&tags.strTitle, &part.strTitle}, std::pair{&tags.strTrack, &part.strTrack},
          std::pair{&tags.strAlbum, &part.strAlbum}, std::pair{&tags.strArtist, &part.strArtist}}) {
        if (!pstrPart->empty()) {
            *pstrTag = *pstrPart;
        }
    }
    return tags;
}

bool WriteMp3Tags(const std::string &strPath, const MediaTags &tags) {
    if (IsEmpty(tags)) {
        return true;
    }
    TagLib::ID3v2::Tag tag;
    AddText(tag, "TIT2", tags.strTitle);
    AddText(tag, "TPE1", tags.strArtist);
    AddText(tag, "TALB", tags.strAlbum);
    AddText(tag, "TPE2", tags.strAlbumArtist);
    // TDRC is written as version 2.3's TYER (and TDAT/TIME) by TagLib.
    AddText(tag, "TDRC", tags.strDate);
    AddText(tag, "TRCK", tags.strTrack);
    AddText(tag, "TPOS", tags.strDisc);
    AddText(tag, "TCON", tags.strGenre);
    AddText(tag, "TCOM", tags.strComposer);
    AddText(tag, "TLAN", tags.strLanguage);
    if (!tags.strComment.empty()) {
        const TagLib::String text = Utf8(tags.strComment);
        auto *pComment = new TagLib::ID3v2::CommentsFrame(EncodingFor(text));
        pComment->setLanguage("eng");
        pComment->setText(text);
        tag.addFrame(pComment);
    }
    if (!tags.cover.empty()) {
        auto *pPicture = new TagLib::ID3v2::AttachedPictureFrame;
        pPicture->setMimeType(tags.strCoverMime);
        pPicture->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
        pPicture->setPicture(TagLib::ByteVector(reinterpret_cast<const char *>(tags.cover.data()),
                                                static_cast<unsigned>(tags.cover.size())));
        tag.addFrame(pPicture);
    }
    AddUserText(tag, "REPLAYGAIN_TRACK_GAIN", tags.strReplayGainGain);
    AddUserText(tag, "REPLAYGAIN_TRACK_PEAK", tags.strReplayGainPeak);
    // Rendered as TagLib would save it into a file without a tag (TDRC becomes 2.3's TYER), padding
    // included.
    const TagLib::ByteVector data = tag.render(TagLib::ID3v2::v3);
    const int fd = ::open(strPath.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return false;
    }
    const bool bInserted = InsertIntoFile(fd, 0, data.data(), data.size());
    return ::close(fd) == 0 && bInserted;
}

std::string RenderWavInfoChunk(const MediaTags &tags) {
    const std::pair<const char *, const std::string *> fields[] = {
        {"INAM", &tags.strTitle},   {"IART", &tags.strArtist},   {"IPRD", &tags.strAlbum},
        {"ICRD", &tags.strDate},    {"IPRT", &tags.strTrack},    {"IGNR", &tags.strGenre},
        {"ICMT", &tags.strComment}, {"IMUS", &tags.strComposer}, {"ILNG", &tags.strLanguage},
    };
    const auto putSize = [](std::string &strChunk, size_t nSize) {
        for (int i = 0; i < 4; ++i) {
            strChunk.push_back(static_cast<char>(nSize >> (8 * i)));
        }
    };
    std::string strItems;
    for (const auto &[szId, pText] : fields) {
        if (pText->empty()) {
            continue;
        }
        strItems += szId;
        putSize(strItems, pText->size() + 1);
        strItems += *pText;
        strItems.push_back('\0');
        if (strItems.size() % 2 != 0) {
            strItems.push_back('\0');
        }
    }
    if (strItems.empty()) {
        return {};
    }
    std::string strChunk = "LIST";
    putSize(strChunk, strItems.size() + 4);
    return strChunk + "INFO" + strItems;
}

}  // namespace klangor
