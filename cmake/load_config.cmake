# servicepack_set_load_config(TARGET)
#
# After TARGET is linked, points its load-configuration directory at the load configuration the
# program defines (platform/windows/load_config.cpp), whose DependentLoadFlags keep the loader
# to the system directory for the imports. GNU ld 2.40 leaves that directory entry empty. Run
# as TARGET's first post-build step, so that signing and the build's hash see the final image.
set(SERVICEPACK_LOAD_CONFIG_TOOL "${CMAKE_CURRENT_LIST_DIR}/../tools/set_load_config.py"
    CACHE INTERNAL "Sets the load-configuration directory of a linked executable")

function(servicepack_set_load_config TARGET)
    add_custom_command(TARGET ${TARGET} POST_BUILD
                       COMMAND /usr/bin/python3 "${SERVICEPACK_LOAD_CONFIG_TOOL}"
                               "$<TARGET_FILE:${TARGET}>"
                       VERBATIM)
    # A changed tool links the executable again, since post-build steps run only after a link.
    set_property(TARGET ${TARGET} APPEND PROPERTY LINK_DEPENDS "${SERVICEPACK_LOAD_CONFIG_TOOL}")
endfunction()
