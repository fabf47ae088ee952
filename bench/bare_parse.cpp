// The bare XML parse of a file, the yardstick the load is measured against.
//   orvalis-bench-bare-parse FILE.nzb

#include <pugixml.hpp>

#include <chrono>
#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE.nzb\n", argv[0]);
        return 64;
    }
    const auto start = std::chrono::steady_clock::now();
    pugi::xml_document document;
    const pugi::xml_parse_result result = document.load_file(argv[1]);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    std::printf("bare parse %.3f s, status %d (%s)\n", elapsed.count(), int(result.status), result.description());
    return result ? 0 : 1;
}
