# Files of src/clips/.
set(KLANGOR_CLIPS_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/ClipList.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ClipSelection.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ClipTime.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CueSheet.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CutInfo.cpp
)
