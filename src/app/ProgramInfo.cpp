#include "app/ProgramInfo.h"

#include "common/Version.h"

#include <cstdio>
#include <cstring>

namespace klangor {

const char *ProgramUsageText() {
    return "Usage: klangor [FILE...]\n"
           "Takes the audio track out of audio and video files and writes it as MP3, WAV, FLAC, Opus,\n"
           "AAC, ALAC or Ogg Vorbis, whole or over a selection marked in the preview player.\n"
           "\n"
           "Each FILE is added to the clip list, in order; the first one is loaded into the preview.\n"
           "Selections are kept beside each media file in FILE.clipinfo.\n"
           "While a klangor window of yours runs, FILE... goes to that window, which lists the files\n"
           "and comes to the front, and this start ends without a window of its own.\n"
           "\n"
           "      --new-window open a window of its own even while one runs\n"
           "      --help       show this text\n"
           "      --version    show the program's version\n"
           "Other arguments that begin with \"--\" are ignored.\n"
           "\n"
           "The look comes from the skin folder UI in the current folder, else from the installed\n"
           "share/klangor/UI. klangor-convert converts files without a window; see klangor(1) and\n"
           "klangor-convert(1).\n";
}

std::optional<int> AnswerInfoOption(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(ProgramUsageText(), stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s %s\n", kAppTitle, kVersionText);
            return 0;
        }
    }
    return std::nullopt;
}

}  // namespace klangor
