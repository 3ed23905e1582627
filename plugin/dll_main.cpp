// The Windows shell of the module: its load hook, and what the statically
// linked C++ runtime does on std::terminate.
#include <windows.h>

#include <cstdlib>

// Nothing of our own to set up or tear down.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

// The runtime's default terminate handler prints the exception's demangled
// type to standard error, which a GUI host has none of, and brings the whole
// demangler along (about 46 KB of the DLL). Nothing reaches it anyway: no
// exception leaves IMessageProc. This one ends the process as it would.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
