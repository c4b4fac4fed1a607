// The C++ library's error throwers, as servicepack.exe needs them. The library's own versions
// live in one member that builds each standard exception from a narrow message, and that
// member pulls in two whole narrow std::string implementations (about 88 KB with their
// unwind tables) that nothing else in the program uses. Linked ahead of the library, these
// definitions keep that member out.
//
// Every one still throws, so control flows as before: the option scan's catch (...) catches
// them all, and anywhere else an uncaught one ends the process through std::terminate. Only
// the exception's type differs, and nothing looks at it: a size past max_size() can never be
// allocated, so it is thrown as what it amounts to, std::bad_alloc; the checks that find a
// program fault (a null text, a position past the end) throw a plain std::exception.
#include <exception>
#include <new>

namespace std {

void __throw_bad_alloc() { throw bad_alloc(); }

void __throw_bad_array_new_length() { throw bad_array_new_length(); }

void __throw_length_error(const char*) { throw bad_alloc(); }

void __throw_logic_error(const char*) { throw exception(); }

void __throw_out_of_range_fmt(const char*, ...) { throw exception(); }

}  // namespace std
