// The runtime's default terminate handler describes the exception on a console this program does
// not have, and brings a C++ demangler of some 50 KB into the exe for it.
#include <cstdlib>

#if defined(__GLIBCXX__)
#include <new>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

// What the containers throw when they cannot grow. The runtime's own throwers word their errors with its string
// classes, which bring some 50 KB more into the exe; an exception that escapes a handler ends the message loop,
// whatever it says.
namespace std {
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_length_error(const char*) { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
}  // namespace std
#endif
