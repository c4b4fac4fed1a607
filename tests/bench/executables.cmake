# Executables of the growth benchmark: servicepack around packages of 4.5 KB, 24.6 MB,
# 100 MiB and 400 MiB, each at both file alignments, and the write probe around the 24.6 MB
# package. The two large packages are generated here, never committed. Built only with
# -DSERVICEPACK_BENCH=ON: the 400 MiB links alone take a minute or two.

set(_make_msp "${PROJECT_SOURCE_DIR}/tools/make_msp.py")
set(_make_msp_args
    --transform-per-product
    --upgrade-code "{8E4C2B19-5A73-4D6F-B1E8-2C9A7F3D0E64}"
    --from-version 15.0.106.0 --to-version 15.0.205.0)
set(_big_package "${PROJECT_BINARY_DIR}/tests/e2e/big.msp")

set(_packages "sample=${SERVICEPACK_PACKAGE}" "24m=${_big_package}")
foreach(_size 104857600 419430400)
    math(EXPR _mib "${_size} / 1048576")
    set(_package "${CMAKE_CURRENT_BINARY_DIR}/growth_${_mib}m.msp")
    # Made while configuring, as the 24.6 MB one, so that the resource scripts find it.
    if(NOT EXISTS "${_package}")
        execute_process(COMMAND /usr/bin/python3 "${_make_msp}" -o "${_package}"
                                ${_make_msp_args} --pad-to ${_size})
    endif()
    list(APPEND _packages "${_mib}m=${_package}")
endforeach()

foreach(_entry IN LISTS _packages)
    string(REGEX REPLACE "=.*" "" _label "${_entry}")
    string(REGEX REPLACE "^[^=]*=" "" _package "${_entry}")
    foreach(_alignment 512 4096)
        servicepack_add_exe(growth_${_label}_${_alignment} "${_package}"
                            FILE_ALIGNMENT ${_alignment})
    endforeach()
endforeach()

# The write probe with the 24.6 MB package in its own resources, loaded as servicepack.exe's.
foreach(_alignment 512 4096)
    set(_name write_probe_24m_${_alignment})
    servicepack_resource_file(_rc "${_big_package}" ${_name})
    servicepack_compile_rc(_rc_object "${_rc}" INCLUDE "${SERVICEPACK_RESOURCE_DIR}"
                           DEPENDS "${_big_package}")
    add_executable(${_name} write_probe.cpp "${_rc_object}")
    target_link_libraries(${_name} PRIVATE servicepack_win32)
    target_link_options(${_name} PRIVATE -Wl,--file-alignment=${_alignment})
endforeach()
