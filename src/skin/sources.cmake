# Files of src/skin/, by library.
list(APPEND KLANGOR_CORE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/GifDecoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JpegDecoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LayoutGeometry.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SkinFolder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SkinImage.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SkinKeys.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SkinLayout.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TimelineGeometry.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WaveformCache.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WaveformLoader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WaveformSummary.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WindowShape.cpp
)
list(APPEND KLANGOR_PLAYER_SOURCES
)
list(APPEND KLANGOR_GUI_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/SkinButton.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SkinnedDialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SkinQt.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TimelineBar.cpp
  ${CMAKE_CURRENT_LIST_DIR}/VideoPreviewWindow.cpp
)
