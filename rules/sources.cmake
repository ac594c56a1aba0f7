# The rules shared by the launcher and the publisher's native release tool: manifest fields, the
# release signature, entry names, the coder arrangements the launcher decodes, the package index
# and the decoding of one LZMA2 piece. Portable C++ on jsoncpp, libsodium and the 7z SDK;
# nothing Windows-only.
set(RULES_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/ManifestFields.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ReleaseSignature.cpp
  ${CMAKE_CURRENT_LIST_DIR}/EntryName.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CoderTable.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SevenZipArchive.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ByteSpan.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PackageIndex.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Lzma2Piece.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Utf8.cpp)
