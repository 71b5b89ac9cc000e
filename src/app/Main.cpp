#include "app/ConverterApp.h"

int main(int argc, char **argv) {
    return klangor::RunConverterApp(argc, argv);
}
