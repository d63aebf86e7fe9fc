// Writes the fuzzer's seed inputs from the hex fixtures of the tests: each
// frame alone, all of them in a row, with a corrupted CRC, a lost byte and
// stray bytes. Usage: make_seed_corpus FIXTURES_DIR OUTPUT_DIR

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <dirent.h>

namespace {

std::string readHexFixture(const std::string& path)
{
    std::ifstream in(path);
    std::string line, digits;
    while (std::getline(in, line)) {
        line = line.substr(0, line.find('#'));
        for (char c : line)
            if (std::isxdigit(static_cast<unsigned char>(c)))
                digits += c;
    }
    std::string bytes;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        bytes += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
    return bytes;
}

bool writeSeed(const std::string& dir, const std::string& name, const std::string& cut, const std::string& bytes)
{
    std::ofstream out(dir + "/" + name, std::ios::binary);
    out << cut << bytes;
    if (!out) {
        std::cerr << "cannot write " << dir << "/" << name << "\n";
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: make_seed_corpus FIXTURES_DIR OUTPUT_DIR\n";
        return 2;
    }
    const std::string fixtures = argv[1];
    const std::string output = argv[2];
    std::vector<std::string> frames;
    if (DIR* dir = opendir(fixtures.c_str())) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".hex") == 0)
                frames.push_back(readHexFixture(fixtures + "/" + name));
        }
        closedir(dir);
    }
    if (frames.empty()) {
        std::cerr << "no fixtures in " << fixtures << "\n";
        return 1;
    }
    bool ok = true;
    std::string all, damaged;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        ok = writeSeed(output, "frame" + std::to_string(i), std::string("\x05\x20", 2), frames[i]) && ok;
        all += frames[i];
        std::string bad = frames[i];
        switch (i % 3) {
        case 0: bad.back() = static_cast<char>(bad.back() ^ 0x5A); break;
        case 1: bad.erase(10, 1); break;
        default: bad = std::string("\x54\x00\x2C\x54", 4) + bad; break;
        }
        damaged += bad + frames[i];
    }
    ok = writeSeed(output, "all_frames", std::string("\x11\x07", 2), all) && ok;
    ok = writeSeed(output, "all_frames_bytewise", std::string("\x00\x00", 2), all) && ok;
    ok = writeSeed(output, "damaged_stream", std::string("\x42\x2F", 2), damaged) && ok;
    return ok ? 0 : 1;
}
