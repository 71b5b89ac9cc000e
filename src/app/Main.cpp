#include "app/ConverterApp.h"
#include "app/ProgramInfo.h"

int main(int argc, char **argv) {
    if (const std::optional<int> iStatus = klangor::AnswerInfoOption(argc, argv))
        return *iStatus;
    return klangor::RunConverterApp(argc, argv);
}
