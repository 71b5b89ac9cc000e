# Files of src/player/.
set(KLANGOR_PLAYER_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/AudioTrackMenu.cpp
  ${CMAKE_CURRENT_LIST_DIR}/GraphRegistration.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MediaPlayer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MpvCore.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MpvEvents.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MpvOpening.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MpvPlayback.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MpvPosition.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MpvVideoRenderer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PlaceVideo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PlayerError.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PreviewCommands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PreviewCommandsAudioTracks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/VideoSurface.cpp
)
