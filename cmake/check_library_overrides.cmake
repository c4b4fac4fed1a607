# cmake -DMAP=<link map> -P check_library_overrides.cmake
#
# Fails when the link of a servicepack executable pulled in the C++ library's own error
# throwers (functexcept.o: they bring two narrow std::string implementations, about 88 KB) or
# its verbose terminate handler (vterminate.o: the demangler). The build overrides both
# (library_throws.cpp with --wrap, and --defsym for the handler) by symbol name, which the
# library does not promise to keep: a toolchain that renames them would otherwise grow the
# executable without a word. docs/performance.md has the figures.
file(READ "${MAP}" _map)
foreach(_member functexcept.o vterminate.o)
    string(FIND "${_map}" "libstdc++.a(${_member})" _at)
    if(NOT _at EQUAL -1)
        message(FATAL_ERROR "${MAP}: the C++ library's ${_member} was linked: the toolchain "
                            "no longer honours the overrides of library_throws.cpp and the "
                            "--defsym of the terminate handler (see docs/performance.md)")
    endif()
endforeach()
