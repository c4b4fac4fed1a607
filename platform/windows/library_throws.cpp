// The C++ library's error throwers, as servicepack.exe needs them. The library's own versions
// live in one member that builds each standard exception from a narrow message, and that
// member pulls in two whole narrow std::string implementations (about 88 KB with their
// unwind tables) that nothing else in the program uses.
//
// The library offers no supported way to keep that member out: its headers call these
// throwers from every string and vector operation that can fail, with exceptions or without.
// So the linker redirects every call to them (--wrap, set where this file is added to an
// executable) to the functions below, which are ordinary functions of this program, not
// definitions inside namespace std. cmake/check_library_overrides.cmake fails the build if a
// toolchain update ever links the library's member again.
//
// Every one still throws, so control flows as before: the option scan's catch (...) catches
// them all, and anywhere else an uncaught one ends the process through std::terminate. Only
// the exception's type differs, and nothing looks at it: a size past max_size() can never be
// allocated, so it is thrown as what it amounts to, std::bad_alloc; the checks that find a
// program fault (a null text, a position past the end) throw a plain std::exception.
#include <exception>
#include <new>

namespace sp::library_throws {

// The assembler names are what --wrap sends each of the library's throwers to.
[[noreturn]] void BadAlloc() asm("__wrap__ZSt17__throw_bad_allocv");
[[noreturn]] void BadArrayNewLength() asm("__wrap__ZSt28__throw_bad_array_new_lengthv");
[[noreturn]] void LengthError(const char*) asm("__wrap__ZSt20__throw_length_errorPKc");
[[noreturn]] void LogicError(const char*) asm("__wrap__ZSt19__throw_logic_errorPKc");
[[noreturn]] void OutOfRangeFormat(const char*,
                                   ...) asm("__wrap__ZSt24__throw_out_of_range_fmtPKcz");

void BadAlloc() { throw std::bad_alloc(); }

void BadArrayNewLength() { throw std::bad_array_new_length(); }

void LengthError(const char*) { throw std::bad_alloc(); }

void LogicError(const char*) { throw std::exception(); }

void OutOfRangeFormat(const char*, ...) { throw std::exception(); }

}  // namespace sp::library_throws
