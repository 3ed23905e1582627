// The host emulator: loads the real module, plays the host around it, and
// runs a scenario file. Exit codes: 0 done, 2 bad scenario or module, 3 the
// module crashed.
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

// The one host whose message a crash report names.
EmulatedHost* g_running = nullptr;

void ReportCrash() {
    const char* doing = g_running ? g_running->current() : "start-up";
    std::fprintf(stderr, "host emulator: the module crashed while handling: %s\n", doing);
    std::fflush(stdout);
    std::fflush(stderr);
}

#if defined(_WIN32)
const char kEntryName[] = "_IMessageProc@4";
const char kModuleFile[] = "plumeta.dll";

LONG WINAPI OnCrash(EXCEPTION_POINTERS*) {
    ReportCrash();
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
plumeta::MessageProc LoadModule(const std::string& path, std::string& error) {
    HMODULE module = LoadLibraryA(path.c_str());
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

extern "C" void OnCrash(int) {
    ReportCrash();
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
plumeta::MessageProc LoadModule(const std::string& path, std::string& error) {
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        error = "cannot load module " + path;
        return nullptr;
    }
    void* entry = dlsym(module, kEntryName);
    if (!entry) error = "module " + path + " does not export the entry point";
    return reinterpret_cast<plumeta::MessageProc>(entry);
}
#endif

int Usage() {
    std::fprintf(stderr,
                 "usage: host_emulator [--module PATH] [--workdir DIR] [--pages-html FILE] SCENARIO\n"
                 "Loads the module (by default the one built beside this program), plays the\n"
                 "host around it and runs SCENARIO in DIR (default: the current folder), where\n"
                 "the module's log files land and are read back from.\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
    // The transcript and the messages are UTF-8 with LF line ends.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    std::string modulePath, pagesHtml, scenarioPath, workdir;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--module" && i + 1 < argc) {
            modulePath = argv[++i];
        } else if (arg == "--pages-html" && i + 1 < argc) {
            pagesHtml = argv[++i];
        } else if (arg == "--workdir" && i + 1 < argc) {
            workdir = argv[++i];
        } else if (!arg.empty() && arg[0] == '-') {
            return Usage();
        } else if (scenarioPath.empty()) {
            scenarioPath = arg;
        } else {
            return Usage();
        }
    }
    if (scenarioPath.empty()) return Usage();

    std::vector<emulator::Directive> directives;
    emulator::ScenarioError scenarioError;
    const plumeta::Cp1250Converter codepage;
    if (!emulator::ReadScenario(scenarioPath, codepage, directives, scenarioError)) {
        std::fprintf(stderr, "%s\n", scenarioError.message.c_str());
        return 2;
    }
    if (modulePath.empty()) modulePath = (std::filesystem::path(OwnFolder()) / kModuleFile).string();
    std::string loadError;
    const plumeta::MessageProc entry = LoadModule(modulePath, loadError);
    if (!entry) {
        std::fprintf(stderr, "host emulator: %s\n", loadError.c_str());
        return 2;
    }

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

    EmulatedHost host(entry, stdout);
    g_running = &host;
    GuardAgainstCrashes();
    bool started = false;
    for (const emulator::Directive& directive : directives) {
        if (!started && !directive.Configures()) {
            host.StartUp();
            started = true;
        }
        host.Run(directive);
    }
    if (!started) host.StartUp();
    host.PrintSummary(".");
    if (!pagesHtml.empty()) {
        if (!host.WritePagesHtml(pagesHtml)) {
            std::fprintf(stderr, "host emulator: cannot write %s\n", pagesHtml.c_str());
            return 2;
        }
        std::printf("option pages: %s\n", pagesShown.c_str());
    }
    return 0;
}
