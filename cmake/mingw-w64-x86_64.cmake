# Cross build for 64-bit Windows with Debian's MinGW-w64 (win32 threads, msvcrt).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Byte-identical builds wherever the tree lies. GNU ld stamps the link time into the PE
# header by default, and the header checksum then changes with it; without the stamp both
# follow from the content alone. Source and build folder names are mapped away in case debug
# information or __FILE__ ever reaches the image. Debian's ar and ranlib for this target
# already write archives with zero times and ids (their D mode is the default).
get_filename_component(_servicepack_source_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
# The flags are one shell word each, quoted for folders with spaces; the build folder comes
# last because the last matching map wins and it usually lies inside the source folder.
set(CMAKE_CXX_FLAGS_INIT "\"-ffile-prefix-map=${_servicepack_source_root}/=\" \
\"-ffile-prefix-map=${CMAKE_BINARY_DIR}/=\"")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,--no-insert-timestamp")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,--no-insert-timestamp")
