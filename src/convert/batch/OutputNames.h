#pragma once

#include <string>
#include <vector>

namespace klangor {

// The longest file name (one path component) written, in bytes: what Linux file systems allow.
inline constexpr size_t kMostFileNameBytes = 255;

// A text made fit for a file name: characters that file systems or common players refuse (/ \ : * ? " <
// > | and control characters) become '_', and so do leading dots; cut to at most nMostBytes bytes on a
// character's boundary, without trailing spaces or dots.
std::string FileNameSafe(const std::string &strText, size_t nMostBytes = kMostFileNameBytes);

// "03" for part 3 of 12: as wide as the count.
std::string PartNumber(int n, int nCount);

// The output of part n of nCount of a divided source, beside the whole source's output strWholePath:
// "DIR/talk.avi.mp3" gives "DIR/talk.avi - 03 - Title.mp3", the number as wide as the count's, the
// title left out when empty; never more than kMostFileNameBytes in its name.
std::string PartOutputPath(const std::string &strWholePath, int n, int nCount, const std::string &strTitle);

// What an output name template can say about one output: its source's name and tags, its place in the
// batch and, for a part of a divided source, the part's number and title.
struct NameFields {
    std::string strName;  // the source's whole file name, "talk.avi"
    std::string strStem;  // "talk"
    std::string strExt;   // the output's extension without its dot, "mp3"
    std::string strTitle;
    std::string strArtist;
    std::string strAlbum;
    std::string strTrack;
    std::string strDate;
    std::string strIndex;  // {n}: the source's place in the batch, from 1
    std::string strCount;  // {N}: the batch's number of sources
    std::string strPart;   // "03"; empty for a whole source
    std::string strPartTitle;
};

// The template that names outputs as the program always has: "talk.avi.mp3".
inline constexpr const char *kDefaultNameTemplate = "{name}.{ext}";

// Checks a template: fields in braces ({title}, {title|stem}: the first of them that is not empty, a
// last alternative that names no field being literal text, {artist|Unknown}), no brace left open, no
// folder "." or ".." and no absolute path. False with the reason in strError.
bool CheckNameTemplate(const std::string &strTemplate, std::string &strError);

// Whether the template uses a field of the source's tags, which must then be read.
bool NameTemplateUsesTags(const std::string &strTemplate);
// Whether the template numbers the parts of a divided source itself ({part}).
bool NameTemplateNamesParts(const std::string &strTemplate);

// The relative path a checked template gives: each field's text made fit for a file name (a "/" in a
// title never makes a folder), each folder and the name cut to kMostFileNameBytes, the extension kept.
std::string RenderNameTemplate(const std::string &strTemplate, const NameFields &fields);

}  // namespace klangor
