// The host emulator: loads the real module, plays the host around it, and
// runs a scenario file. Exit codes (also in --help): 0 done, 2 bad usage,
// scenario or module, 3 the module crashed.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "host/host_link.h"
#include "tools/host_emulator/emulated_host.h"
#include "tools/host_emulator/scenario.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>
#endif

namespace {

using emulator::EmulatedHost;

// The one host whose message a crash report names; none while the module
// is being loaded.
EmulatedHost* g_running = nullptr;

// The crash report runs after the module has broken the process, on a stack
// whose sanitizer shadow may be stale (as under user-mode emulation, where
// the emulator lays out the signal frame): nothing in it is instrumented.
#define PLUMETA_UNCHECKED __attribute__((no_sanitize_address, no_sanitize_undefined))

// What the crash report says; the transcript is flushed line by line.
PLUMETA_UNCHECKED const char* CrashReport(const char*& doing) {
    doing = g_running ? g_running->current() : "loading the module";
    return g_running ? "host emulator: the module crashed while handling: "
                     : "host emulator: the module crashed while ";
}

#if defined(_WIN32)
const char kEntryName[] = "_IMessageProc@4";
const char kModuleFile[] = "plumeta.dll";

LONG WINAPI OnCrash(EXCEPTION_POINTERS*) {
    const char* doing = nullptr;
    const char* report = CrashReport(doing);
    std::fprintf(stderr, "%s%s\n", report, doing);
    std::fflush(stderr);
    ExitProcess(3);
}
void GuardAgainstCrashes() {
    SetUnhandledExceptionFilter(&OnCrash);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
}
std::string OwnFolder() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::filesystem::path(std::string(path, length)).parent_path().string();
}
void* g_module = nullptr;  // the loaded module, for reload

void UnloadModule() {
    if (g_module) FreeLibrary(static_cast<HMODULE>(g_module));
    g_module = nullptr;
}
plumeta::MessageProc LoadModule(const std::string& path, std::string& error) {
    HMODULE module = LoadLibraryA(path.c_str());
    g_module = module;
    if (!module) {
        error = "cannot load module " + path;
        return nullptr;
    }
    FARPROC entry = GetProcAddress(module, kEntryName);
    if (!entry) error = "module " + path + " does not export the entry point";
    return reinterpret_cast<plumeta::MessageProc>(reinterpret_cast<void*>(entry));
}
#else
const char kEntryName[] = "IMessageProc";
const char kModuleFile[] = "plumeta.so";

PLUMETA_UNCHECKED void WriteAll(const char* text) {
    std::size_t length = 0;
    while (text[length]) ++length;
    while (length > 0) {
        const ssize_t written = write(STDERR_FILENO, text, length);
        if (written <= 0) return;
        text += written;
        length -= static_cast<std::size_t>(written);
    }
}

// Only async-signal-safe calls here.
extern "C" PLUMETA_UNCHECKED void OnCrash(int) {
    const char* doing = nullptr;
    WriteAll(CrashReport(doing));
    WriteAll(doing);
    WriteAll("\n");
    _exit(3);
}
void GuardAgainstCrashes() {
    struct sigaction action {};
    action.sa_handler = &OnCrash;
    for (int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) sigaction(signal, &action, nullptr);
}
std::string OwnFolder() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}
void* g_module = nullptr;  // the loaded module, for reload

void UnloadModule() {
    if (g_module) dlclose(g_module);
    g_module = nullptr;
}
plumeta::MessageProc LoadModule(const std::string& path, std::string& error) {
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    g_module = module;
    if (!module) {
        error = "cannot load module " + path;
        return nullptr;
    }
    void* entry = dlsym(module, kEntryName);
    if (!entry) error = "module " + path + " does not export the entry point";
    return reinterpret_cast<plumeta::MessageProc>(entry);
}
#endif

constexpr char kUsage[] =
    "usage: host_emulator [--module PATH] [--workdir DIR] [--pages-html FILE] [--quiet] SCENARIO\n"
    "Loads the module (by default the one built beside this program), plays the\n"
    "host around it and runs SCENARIO in DIR (default: the current folder), where\n"
    "the module's log files land and are read back from. It prints a line for\n"
    "every call the module makes into the host, then a summary; --quiet prints\n"
    "only the summary. The scenario language is described in scenario.h.\n"
    "\n"
    "Exit status:\n"
    "  0  the scenario ran to its end\n"
    "  2  bad usage, a bad scenario (FILE:LINE: what is wrong), or a module that\n"
    "     cannot be loaded or has no entry point\n"
    "  3  the module crashed (the message it was handling is named)\n";

int Usage(std::FILE* to, int status) {
    std::fputs(kUsage, to);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
    // The transcript and the messages are UTF-8 with LF line ends.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    std::string modulePath, pagesHtml, scenarioPath, workdir;
    bool quiet = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            return Usage(stdout, 0);
        } else if (arg == "--quiet") {
            quiet = true;
        } else if (arg == "--module" && i + 1 < argc) {
            modulePath = argv[++i];
        } else if (arg == "--pages-html" && i + 1 < argc) {
            pagesHtml = argv[++i];
        } else if (arg == "--workdir" && i + 1 < argc) {
            workdir = argv[++i];
        } else if (!arg.empty() && arg[0] == '-') {
            return Usage(stderr, 2);
        } else if (scenarioPath.empty()) {
            scenarioPath = arg;
        } else {
            return Usage(stderr, 2);
        }
    }
    if (scenarioPath.empty()) return Usage(stderr, 2);

    // The whole scenario is checked before anything runs.
    const plumeta::Cp1250Converter codepage;
    const std::string scenarioError = emulator::CheckScenario(scenarioPath, codepage);
    if (!scenarioError.empty()) {
        std::fprintf(stderr, "%s\n", scenarioError.c_str());
        return 2;
    }
    const std::string scenarioFull = std::filesystem::absolute(scenarioPath).string();
    if (modulePath.empty()) modulePath = (std::filesystem::path(OwnFolder()) / kModuleFile).string();
    std::string loadError;
    GuardAgainstCrashes();  // a module may crash while it loads
    const plumeta::MessageProc entry = LoadModule(modulePath, loadError);
    if (!entry) {
        std::fprintf(stderr, "host emulator: %s\n", loadError.c_str());
        return 2;
    }

    const std::string moduleFull = std::filesystem::absolute(modulePath).string();  // for reload
    const std::string pagesShown = pagesHtml;
    if (!pagesHtml.empty()) pagesHtml = std::filesystem::absolute(pagesHtml).string();
    if (!workdir.empty()) {
        std::error_code error;
        std::filesystem::create_directories(workdir, error);
        std::filesystem::current_path(workdir, error);
        if (error) {
            std::fprintf(stderr, "host emulator: cannot work in %s\n", workdir.c_str());
            return 2;
        }
    }

    auto reload = [&moduleFull]() -> plumeta::MessageProc {
        UnloadModule();
        std::string error;
        return LoadModule(moduleFull, error);
    };
    EmulatedHost host(entry, reload, stdout, quiet);
    g_running = &host;
    emulator::ScenarioReader scenario(scenarioFull, codepage);
    emulator::Directive directive;
    bool started = false;
    while (scenario.Next(directive)) {
        if (!started && !directive.Configures()) {
            host.StartUp();
            started = true;
        }
        host.Run(directive);
    }
    if (!scenario.error().empty()) {  // the file changed since it was checked
        std::fprintf(stderr, "%s\n", scenario.error().c_str());
        return host.EndWith(2);
    }
    if (!started) host.StartUp();
    host.PrintSummary(".");
    if (!pagesHtml.empty()) {
        if (!host.WritePagesHtml(pagesHtml)) {
            std::fprintf(stderr, "host emulator: cannot write %s\n", pagesHtml.c_str());
            return host.EndWith(2);
        }
        std::printf("option pages: %s\n", pagesShown.c_str());
    }
    return host.EndWith(0);
}
