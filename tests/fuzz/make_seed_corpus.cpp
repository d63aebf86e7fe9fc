// Writes the fuzzer's seeds from the tests' hex fixtures: each frame alone, all in a row (also
// read byte by byte), and a stream mixing them with corrupted, shortened frames and stray bytes.
// The first two bytes of a seed choose how the fuzz target cuts it into reads.
// Usage: make_seed_corpus FIXTURES_DIR OUTPUT_DIR

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

using namespace std::string_literals;

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: make_seed_corpus FIXTURES_DIR OUTPUT_DIR\n";
        return 2;
    }
    bool ok = true;
    auto write = [&](const std::string& name, const std::string& bytes) {
        std::ofstream out(std::filesystem::path(argv[2]) / name, std::ios::binary);
        ok = bool(out << bytes) && ok;
    };
    std::string all, damaged;
    for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
        if (entry.path().extension() != ".hex")
            continue;
        std::ifstream in(entry.path());
        std::string line, frame;
        for (unsigned byte; std::getline(in, line);)
            for (std::istringstream hex(line.substr(0, line.find('#'))); hex >> std::hex >> byte;)
                frame += char(byte);
        write(entry.path().stem().string(), "\x05\x20"s + frame);
        all += frame;
        damaged += frame.substr(0, 46) + char(frame.back() ^ 0x5A) + frame.substr(0, 10) + frame.substr(11)
            + "\x54\x00\x2C\x54"s + frame;
    }
    write("all_frames", "\x11\x07"s + all);
    write("all_frames_bytewise", "\x00\x00"s + all);
    write("damaged_stream", "\x42\x2F"s + damaged);
    if (!ok || all.empty())
        std::cerr << "make_seed_corpus: no fixtures in " << argv[1] << " or cannot write to " << argv[2] << "\n";
    return ok && !all.empty() ? 0 : 1;
}