// Stands in for a new main program: records that it was started, with its arguments, in a file
// beside itself. With FAKE_MAIN_SLEEP=N it then keeps running for N seconds.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

std::filesystem::path ownFile() {
#ifdef _WIN32
    wchar_t path[MAX_PATH];
    return std::filesystem::path(path, path + GetModuleFileNameW(nullptr, path, MAX_PATH));
#else
    return std::filesystem::read_symlink("/proc/self/exe");
#endif
}

unsigned long ownId() {
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(getpid());
#endif
}

} // namespace

int main(int argc, char** argv) {
    const auto self = ownFile();
    std::ofstream out(self.parent_path() / ("started-" + std::to_string(ownId())), std::ios::binary);
    out << self.filename().string() << '\n' << argc - 1 << '\n';
    for (int i = 1; i < argc; ++i)
        out << argv[i] << '\n';
    out.close();
    if (const char* sleep = std::getenv("FAKE_MAIN_SLEEP"))
        std::this_thread::sleep_for(std::chrono::seconds(std::atoi(sleep)));
    return 0;
}
