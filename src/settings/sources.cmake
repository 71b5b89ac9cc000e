# Files of src/settings/.
set(KLANGOR_SETTINGS_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/EncoderSettings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OutputFormat.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SettingsDialogLogic.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SplitSettings.cpp
)
