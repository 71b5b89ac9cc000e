# Files of src/settings/, by library.
list(APPEND KLANGOR_CORE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/EncoderSettings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SettingsDialogLogic.cpp
)
list(APPEND KLANGOR_PLAYER_SOURCES
)
list(APPEND KLANGOR_GUI_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/SettingsDialog.cpp
)
