# Files of src/media/.
set(KLANGOR_MEDIA_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/FfmpegAudioDecoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FfmpegHandles.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MediaChapters.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MediaProbe.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MediaTags.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MediaWalk.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MidiAudioDecoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MidiFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MidiPreview.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MidiSynth.cpp
)
