# Files of src/cli/.
set(KLANGOR_CLI_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/ConvertCommandLine.cpp
)
