# Files of src/common/.
set(KLANGOR_COMMON_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/Allocator.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BackgroundTasks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CheckedFileIo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OutputFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SidecarFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Version.cpp
)
