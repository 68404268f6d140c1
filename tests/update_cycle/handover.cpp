// Stands in for the updater in the in-process hand-over test: records that it ran, in which folder
// and with how many arguments.
#include <filesystem>
#include <fstream>

int main(int argc, char**) {
    std::ofstream("handover-ran", std::ios::binary)
        << std::filesystem::current_path().generic_string() << '\n'
        << argc - 1 << '\n';
    return 0;
}
