// A browser's audio process, as Chromium and Electron applications are: the microphone and the
// page's sound on two connections of one process, "NAME input" capturing from the default
// source and "NAME" playing a tone of HERTZ into SINK, until it is ended.
// Usage: vocorda-test-browser NAME HERTZ SINK
#include <pulse/simple.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    const std::string name = argv[1], input = name + " input";
    const double hertz = std::atof(argv[2]);
    const pa_sample_spec spec{PA_SAMPLE_S16LE, 48000, 2};
    int error = 0;
    pa_simple* capture = pa_simple_new(nullptr, input.c_str(), PA_STREAM_RECORD, nullptr,
                                       "RecordStream", &spec, nullptr, nullptr, &error);
    pa_simple* playback = pa_simple_new(nullptr, name.c_str(), PA_STREAM_PLAYBACK, argv[3],
                                        "Playback", &spec, nullptr, nullptr, &error);
    if (!capture || !playback) return 1;
    std::thread([capture] {
        std::vector<char> block(1920);
        int error = 0;
        while (pa_simple_read(capture, block.data(), block.size(), &error) >= 0) {
        }
    }).detach();
    std::vector<int16_t> block(2 * 480);
    for (uint64_t frame = 0;;) {
        for (size_t i = 0; i < block.size(); i += 2, ++frame)
            block[i] = block[i + 1] =
                int16_t(8000 * std::sin(2 * M_PI * hertz * double(frame) / 48000));
        if (pa_simple_write(playback, block.data(), block.size() * 2, &error) < 0) return 1;
    }
}
