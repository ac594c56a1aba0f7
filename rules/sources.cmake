# The rules shared by the launcher and the publisher's native release tool: manifest fields, the
# release signature, entry names and the coder arrangements the launcher decodes. Portable C++
# on jsoncpp, libsodium and the 7z SDK's headers; nothing Windows-only.
set(RULES_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/ManifestFields.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ReleaseSignature.cpp
  ${CMAKE_CURRENT_LIST_DIR}/EntryName.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CoderTable.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SevenZipArchive.cpp)
