# Files of src/app/.
set(KLANGOR_APP_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/AboutDialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AppIcon.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ConverterApp.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MainWindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MainWindowConvert.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MainWindowFolders.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MainWindowPreview.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MainWindowShell.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MessageBoxes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PreviewPlayerWindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ProgramInfo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WindowHandover.cpp
)
