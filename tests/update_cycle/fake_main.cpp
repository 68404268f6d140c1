// Stands in for a new main program: records that it was started, with its arguments, in a file
// beside itself. With FAKE_MAIN_SLEEP=N it then keeps running for N seconds.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

int main(int argc, char** argv) {
    const auto self = std::filesystem::read_symlink("/proc/self/exe");
    std::ofstream out(self.parent_path() / ("started-" + std::to_string(getpid())));
    out << self.filename().string() << '\n' << argc - 1 << '\n';
    for (int i = 1; i < argc; ++i)
        out << argv[i] << '\n';
    out.close();
    if (const char* sleep = std::getenv("FAKE_MAIN_SLEEP"))
        std::this_thread::sleep_for(std::chrono::seconds(std::atoi(sleep)));
    return 0;
}
