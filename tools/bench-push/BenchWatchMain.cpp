// Times what a user action causes in a file: starts the action (a command, e.g. an xdotool
// click) and watches the file until the effect shows, then prints the milliseconds between.
//   tavio-bench-watch flv FILE TIMEOUT_MS -- COMMAND...
//       until FILE (an FLV recording being written) holds its first raw AAC frame
//   tavio-bench-watch text FILE PATTERN TIMEOUT_MS -- COMMAND...
//       until FILE holds one more line containing PATTERN than when the command started
// Prints "timeout" and exits with 1 when the effect does not show in time. The wall-clock time
// of the action goes to stderr, to find it in the program's logs.
#include <spawn.h>
#include <sys/wait.h>

#include <sys/time.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t bigEndian(const std::string& data, size_t at, int bytes)
{
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = (value << 8) | static_cast<unsigned char>(data[at + i]);
    return value;
}

// True once a complete audio tag with an AAC raw frame (not the sequence header) is there.
bool hasRawAacFrame(const std::string& flv)
{
    if (flv.size() < 13 || flv.compare(0, 3, "FLV") != 0)
        return false;
    size_t at = bigEndian(flv, 5, 4) + 4; // header, then the first previous-tag size
    while (at + 11 <= flv.size()) {
        const int type = static_cast<unsigned char>(flv[at]) & 0x1f;
        const uint32_t size = bigEndian(flv, at + 1, 3);
        if (at + 11 + size > flv.size())
            return false; // still being written
        const size_t data = at + 11;
        if (type == 8 && size >= 2 && (static_cast<unsigned char>(flv[data]) >> 4) == 10 && flv[data + 1] == 1)
            return true;
        at = data + size + 4;
    }
    return false;
}

int countLines(const std::string& text, const std::string& pattern)
{
    int count = 0;
    for (size_t at = text.find(pattern); at != std::string::npos; at = text.find(pattern, at + pattern.size()))
        ++count;
    return count;
}

int usage()
{
    std::fprintf(stderr, "usage: tavio-bench-watch flv FILE TIMEOUT_MS -- COMMAND...\n"
                         "       tavio-bench-watch text FILE PATTERN TIMEOUT_MS -- COMMAND...\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 5)
        return usage();
    const std::string mode = argv[1];
    const std::string file = argv[2];
    std::string pattern;
    int next = 3;
    if (mode == "text")
        pattern = argv[next++];
    else if (mode != "flv")
        return usage();
    if (next + 2 >= argc || std::strcmp(argv[next + 1], "--") != 0)
        return usage();
    const int timeoutMs = std::atoi(argv[next]);
    char** command = argv + next + 2;

    const int before = mode == "text" ? countLines(readFile(file), pattern) : 0;
    const Clock::time_point start = Clock::now();
    timeval wall = {};
    gettimeofday(&wall, nullptr);
    char stamp[32] = {};
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", std::localtime(&wall.tv_sec));
    std::fprintf(stderr, "action at %s.%03ld\n", stamp, static_cast<long>(wall.tv_usec / 1000));
    pid_t child = 0;
    if (posix_spawnp(&child, command[0], nullptr, nullptr, command, environ) != 0) {
        std::perror("posix_spawnp");
        return 2;
    }
    bool seen = false;
    while (Clock::now() - start < std::chrono::milliseconds(timeoutMs)) {
        const std::string content = readFile(file);
        seen = mode == "flv" ? hasRawAacFrame(content) : countLines(content, pattern) > before;
        if (seen)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    int status = 0;
    waitpid(child, &status, 0);
    if (!seen) {
        std::printf("timeout\n");
        return 1;
    }
    std::printf("%lld\n", static_cast<long long>(elapsedMs));
    return 0;
}
