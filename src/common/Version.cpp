#include "common/Version.h"
