# The functions that build servicepack executables and test programs around resource scripts,
# shared by every folder of the Windows build. Included at the top level, so that any folder
# can call them whatever the order of add_subdirectory.

include("${CMAKE_CURRENT_LIST_DIR}/load_config.cmake")

find_program(SERVICEPACK_WINDRES NAMES ${CMAKE_RC_COMPILER} x86_64-w64-mingw32-windres
             REQUIRED)
set(SERVICEPACK_CHECK_TOOL ${PROJECT_SOURCE_DIR}/tools/check_package.py
    CACHE INTERNAL "The build check that refuses a package install mode could never use")
set(SERVICEPACK_CHECK_SOURCES ${SERVICEPACK_CHECK_TOOL}
    ${PROJECT_SOURCE_DIR}/tools/patch_transforms.py ${PROJECT_SOURCE_DIR}/tools/transform_rules.py
    ${PROJECT_SOURCE_DIR}/tools/summary_text.py ${PROJECT_SOURCE_DIR}/tools/version_quad.py
    CACHE INTERNAL "The build check and the modules it imports: a change to any reruns it")
set(SERVICEPACK_OVERRIDE_CHECK ${CMAKE_CURRENT_LIST_DIR}/check_library_overrides.cmake
    CACHE INTERNAL "Fails when a link map shows the C++ library's own throwers linked")
option(SERVICEPACK_ALLOW_BAD_PACKAGE
       "Build the executable even when the package check finds problems" OFF)

# servicepack_compile_rc(OUT_VAR RC_FILE [INCLUDE dir...] [DEPENDS file...])
#
# Compiles RC_FILE with windres into a COFF object in the current binary directory and sets
# OUT_VAR to it, ready to be listed among an executable's sources. A custom command rather
# than the RC language, so that it works in any directory that calls it. The object is
# rebuilt when the script, anything named in its OBJECT_DEPENDS property or DEPENDS changes.
function(servicepack_compile_rc OUT_VAR RC_FILE)
    cmake_parse_arguments(PARSE_ARGV 2 _rc "" "" "INCLUDE;DEPENDS")
    get_filename_component(_name "${RC_FILE}" NAME_WE)
    get_filename_component(_dir "${RC_FILE}" DIRECTORY)
    set(_object "${CMAKE_CURRENT_BINARY_DIR}/${_name}.res.obj")
    get_source_file_property(_extra "${RC_FILE}" OBJECT_DEPENDS)
    if(NOT _extra)
        set(_extra "")
    endif()
    set(_includes -I "${_dir}")
    foreach(_include IN LISTS _rc_INCLUDE)
        list(APPEND _includes -I "${_include}")
    endforeach()
    add_custom_command(
        OUTPUT "${_object}"
        COMMAND "${SERVICEPACK_WINDRES}" -c 65001 ${_includes} -O coff
                -i "${RC_FILE}" -o "${_object}"
        DEPENDS "${RC_FILE}" ${_extra} ${_rc_DEPENDS}
        COMMENT "Compiling resources ${_name}.rc"
        VERBATIM)
    set_source_files_properties("${_object}" PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
    set(${OUT_VAR} "${_object}" PARENT_SCOPE)
endfunction()

# Sections page-aligned in the file: Wine then maps the image and reads a page of the package
# only when it is used; with the linker's default of 512 it reads the whole image, package
# and all, into memory when the program starts (400 MB: 1.2-2.8 s before the program runs).
# Windows maps either kind lazily. docs/performance.md has the figures behind the choice.
set(SERVICEPACK_FILE_ALIGNMENT 4096 CACHE STRING
    "File alignment of the sections of servicepack executables (512 to 4096, a power of 2)")

# servicepack_add_exe(TARGET PACKAGE [FILE_ALIGNMENT BYTES])
#
# A servicepack executable (GUI, static, x86-64) that embeds PACKAGE. The package is checked
# before anything is linked: a package install mode could never use stops the build unless
# SERVICEPACK_ALLOW_BAD_PACKAGE is on. Editing the package rebuilds the executable. The
# sections are aligned in the file to SERVICEPACK_FILE_ALIGNMENT unless FILE_ALIGNMENT says
# otherwise (the benchmark compares both).
function(servicepack_add_exe TARGET PACKAGE)
    cmake_parse_arguments(PARSE_ARGV 2 _exe "" "FILE_ALIGNMENT" "")
    if(NOT _exe_FILE_ALIGNMENT)
        set(_exe_FILE_ALIGNMENT ${SERVICEPACK_FILE_ALIGNMENT})
    endif()
    get_filename_component(_package "${PACKAGE}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    servicepack_resource_file(_rc_file "${_package}" "${TARGET}")
    servicepack_compile_rc(_rc_object "${_rc_file}" INCLUDE "${SERVICEPACK_RESOURCE_DIR}"
                           DEPENDS "${_package}")

    add_executable(${TARGET} WIN32 ${SERVICEPACK_MAIN_SOURCE} "${_rc_object}")
    target_link_libraries(${TARGET} PRIVATE servicepack_win32 servicepack_library_throws)
    target_link_options(${TARGET} PRIVATE -Wl,--file-alignment=${_exe_FILE_ALIGNMENT})
    servicepack_set_load_config(${TARGET})
    set_target_properties(${TARGET} PROPERTIES OUTPUT_NAME ${TARGET})
    # The size rests on overriding parts of the C++ library that it offers no hook for: a
    # toolchain that stops honouring the override fails the build instead of growing it.
    add_custom_command(TARGET ${TARGET} POST_BUILD
                       COMMAND "${CMAKE_COMMAND}" "-DMAP=${CMAKE_CURRENT_BINARY_DIR}/${TARGET}.map"
                               -P "${SERVICEPACK_OVERRIDE_CHECK}"
                       VERBATIM)

    set(_stamp "${CMAKE_CURRENT_BINARY_DIR}/${TARGET}.package-checked")
    set(_allow "")
    if(SERVICEPACK_ALLOW_BAD_PACKAGE)
        set(_allow --allow-problems)
    endif()
    if(NOT EXISTS "${SERVICEPACK_CHECK_TOOL}")
        message(WARNING "${SERVICEPACK_CHECK_TOOL} is missing: ${TARGET} is built unchecked")
        return()
    endif()
    add_custom_command(
        OUTPUT "${_stamp}"
        COMMAND /usr/bin/python3 "${SERVICEPACK_CHECK_TOOL}" ${_allow} "${_package}"
        COMMAND "${CMAKE_COMMAND}" -E touch "${_stamp}"
        DEPENDS "${_package}" ${SERVICEPACK_CHECK_SOURCES}
        COMMENT "Checking the package ${_package}"
        VERBATIM)
    add_custom_target(${TARGET}_package_check DEPENDS "${_stamp}")
    add_dependencies(${TARGET} ${TARGET}_package_check)
endfunction()
