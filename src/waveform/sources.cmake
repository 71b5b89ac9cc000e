# Files of src/waveform/.
set(KLANGOR_WAVEFORM_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/WaveformCache.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WaveformLoader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WaveformSummary.cpp
)
