#include "app/ConverterApp.h"
#include "app/ProgramInfo.h"
#include "common/Allocator.h"
#include "media/AudioDecoder.h"

using namespace klangor;

int main(int argc, char **argv) {
    klangor::KeepLargeFreedBlocksReturnable();
    LimitFfmpegBlockSize();
    if (const std::optional<int> iStatus = klangor::AnswerInfoOption(argc, argv)) {
        return *iStatus;
    }
    return klangor::RunConverterApp(argc, argv);
}
