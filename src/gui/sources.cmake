# Files of src/gui/.
set(KLANGOR_GUI_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/SettingsDialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SkinButton.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SkinQt.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SkinnedDialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TimelineBar.cpp
  ${CMAKE_CURRENT_LIST_DIR}/VideoPreviewWindow.cpp
)
