// Any bytes as klangor-convert's arguments: split at zero bytes, one argument each. A successful parse
// must give settings the encoder accepts and a usage error a one-line text.
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "cli/ConvertCommandLine.h"

using namespace klangor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize) {
    std::vector<std::string> args;
    std::string strArg;
    for (size_t i = 0; i < nSize; ++i) {
        if (pData[i] == 0) {
            args.push_back(strArg);
            strArg.clear();
        } else {
            strArg.push_back(static_cast<char>(pData[i]));
        }
    }
    if (!strArg.empty()) {
        args.push_back(strArg);
    }
    ConvertOptions options;
    std::string strError;
    if (!ParseConvertCommandLine(args, "/default/folder", options, strError)) {
        FUZZ_CHECK(!strError.empty());
        return 0;
    }
    FUZZ_CHECK(!options.strOutputFolder.empty());
    // The files may all come from a list read later.
    FUZZ_CHECK(options.bHelp || options.bVersion || !options.files.empty() || !options.strFilesFrom.empty());
    return 0;
}
