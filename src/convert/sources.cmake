# Files of src/convert/.
set(KLANGOR_CONVERT_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/AudioStreamReader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CodecOutput.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CodecWriterThread.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ConversionBatch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ConversionJob.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Loudness.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Mp3Encoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Mp3Frame.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Mp3PartsJob.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Mp3StreamWriter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Mp3WriterThread.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OutputTags.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SampleSanitizer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WavWriterThread.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WriterThread.cpp
)
