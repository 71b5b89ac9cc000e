# Files of src/skin/.
set(KLANGOR_SKIN_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/GifDecoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JpegDecoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LayoutGeometry.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SkinFolder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SkinImage.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SkinKeys.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SkinLayout.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TimelineGeometry.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WindowShape.cpp
)
