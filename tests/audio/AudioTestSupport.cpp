#include "AudioTestSupport.h"

#include <pulse/introspect.h>
#include "audio/PulseConnection.h"
#include "audio/WavFileWriter.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

namespace quenda::test {

using namespace std::chrono_literals;

namespace {

uint32_t read32(const std::string& bytes, std::size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
    return value;
}

uint16_t read16(const std::string& bytes, std::size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) |
                                 (static_cast<uint8_t>(bytes[at + 1]) << 8));
}

}  // namespace

std::vector<float> sineTone(double frequency, double seconds, uint32_t sampleRate,
                            double amplitude) {
    std::vector<float> samples(static_cast<std::size_t>(seconds * sampleRate));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<float>(
            amplitude * std::sin(2 * M_PI * frequency * static_cast<double>(i) / sampleRate));
    return samples;
}

void writeToneWav(const std::filesystem::path& path, double frequency, double seconds,
                  uint32_t sampleRate, double amplitude) {
    const auto tone = sineTone(frequency, seconds, sampleRate, amplitude);
    std::vector<int16_t> pcm(tone.size());
    for (std::size_t i = 0; i < tone.size(); ++i)
        pcm[i] = static_cast<int16_t>(std::lround(tone[i] * 32767));
    audio::WavFileWriter writer(path, sampleRate, 1);
    writer.append(pcm.data(), pcm.size() * sizeof(int16_t));
    writer.finish();
}

std::optional<WavContents> readWav(const std::filesystem::path& path) {
    const std::string bytes = readFile(path);
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0)
        return std::nullopt;
    WavContents wav;
    wav.fileSize = bytes.size();
    wav.riffSize = read32(bytes, 4);
    bool haveData = false;
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        const std::string id = bytes.substr(at, 4);
        const uint32_t size = read32(bytes, at + 4);
        const std::size_t body = at + 8;
        if (id == "fmt " && size >= 16 && body + 16 <= bytes.size()) {
            wav.format = read16(bytes, body);
            wav.channels = read16(bytes, body + 2);
            wav.sampleRate = read32(bytes, body + 4);
            wav.bitsPerSample = read16(bytes, body + 14);
        } else if (id == "data") {
            haveData = true;
            wav.dataSize = size;
            const std::size_t available = std::min<std::size_t>(size, bytes.size() - body);
            const std::size_t frame = std::max<std::size_t>(wav.channels, 1) * 2;
            for (std::size_t i = 0; i + frame <= available; i += frame)
                wav.samples.push_back(static_cast<int16_t>(read16(bytes, body + i)) / 32768.0f);
        }
        at = body + size + (size % 2);
    }
    if (!haveData || wav.format == 0)
        return std::nullopt;
    return wav;
}

double rms(const std::vector<float>& samples, std::size_t from, std::size_t count) {
    const std::size_t end = std::min(samples.size(), count == SIZE_MAX ? SIZE_MAX : from + count);
    if (from >= end)
        return 0;
    double sum = 0;
    for (std::size_t i = from; i < end; ++i)
        sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / double(end - from));
}

float peak(const std::vector<float>& samples, std::size_t from, std::size_t count) {
    const std::size_t end = std::min(samples.size(), count == SIZE_MAX ? SIZE_MAX : from + count);
    float result = 0;
    for (std::size_t i = from; i < end; ++i)
        result = std::max(result, std::fabs(samples[i]));
    return result;
}

double toneFrequency(const std::vector<float>& samples, uint32_t sampleRate) {
    std::size_t crossings = 0;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        if ((samples[i - 1] < 0) != (samples[i] < 0))
            ++crossings;
    }
    return samples.empty() ? 0 : double(crossings) / 2.0 * sampleRate / double(samples.size());
}

void SampleCollector::append(const std::vector<float>& block) {
    {
        std::lock_guard lock(mutex_);
        samples_.insert(samples_.end(), block.begin(), block.end());
        threads_.insert(std::this_thread::get_id());
    }
    grown_.notify_all();
}

std::size_t SampleCollector::size() const {
    std::lock_guard lock(mutex_);
    return samples_.size();
}

std::vector<float> SampleCollector::samples() const {
    std::lock_guard lock(mutex_);
    return samples_;
}

std::size_t SampleCollector::threadCount() const {
    std::lock_guard lock(mutex_);
    return threads_.size();
}

bool SampleCollector::waitForSize(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return grown_.wait_for(lock, timeout, [&] { return samples_.size() >= count; });
}

bool SampleCollector::waitForSound(double level, std::size_t window,
                                   std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return grown_.wait_for(lock, timeout, [&] {
        return samples_.size() >= window && rms(samples_, samples_.size() - window) > level;
    });
}

std::string pactl(const std::vector<std::string>& arguments) {
    auto result = runProgram("/usr/bin/pactl", arguments, {{"LC_ALL", "C"}});
    if (result.status != 0)
        throw std::runtime_error("pactl failed: " + result.err);
    return result.out;
}

std::unique_ptr<Process> startPaplay(const std::filesystem::path& file, const std::string& sink) {
    std::vector<std::string> arguments;
    if (!sink.empty())
        arguments.push_back("--device=" + sink);
    arguments.push_back(file.string());
    return Process::launch("/usr/bin/paplay", arguments);
}

std::vector<SinkInputSeen> sinkInputsSeen() {
    std::vector<SinkInputSeen> found;
    std::istringstream lines(pactl({"list", "sink-inputs"}));
    std::string line;
    while (std::getline(lines, line)) {
        const auto text = line.substr(line.find_first_not_of(" \t") == std::string::npos
                                          ? line.size()
                                          : line.find_first_not_of(" \t"));
        if (text.rfind("Sink Input #", 0) == 0) {
            found.push_back({static_cast<uint32_t>(std::stoul(text.substr(12))), 0, 0});
        } else if (!found.empty() && text.rfind("Sink: ", 0) == 0) {
            found.back().sink = static_cast<uint32_t>(std::stoul(text.substr(6)));
        } else if (!found.empty() && text.rfind("application.process.id = \"", 0) == 0) {
            found.back().processId = std::stoi(text.substr(26));
        }
    }
    return found;
}

std::optional<SinkInputSeen> waitForSinkInputOf(int pid, std::chrono::milliseconds timeout) {
    std::optional<SinkInputSeen> found;
    waitUntil(
        [&] {
            for (const auto& input : sinkInputsSeen()) {
                if (input.processId == pid)
                    found = input;
            }
            return found.has_value();
        },
        timeout);
    return found;
}

std::optional<uint32_t> sinkIndex(const std::string& name) {
    std::istringstream lines(pactl({"list", "short", "sinks"}));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string index, sinkName;
        fields >> index >> sinkName;
        if (sinkName == name)
            return static_cast<uint32_t>(std::stoul(index));
    }
    return std::nullopt;
}

std::string sinkOfProcess(int pid) {
    std::optional<uint32_t> sink;
    for (const auto& input : sinkInputsSeen()) {
        if (input.processId == pid)
            sink = input.sink;
    }
    if (!sink)
        return {};
    std::istringstream lines(pactl({"list", "short", "sinks"}));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string index, name;
        fields >> index >> name;
        if (std::stoul(index) == *sink)
            return name;
    }
    return {};
}

bool moduleLoadedWith(const std::string& argumentPart) {
    return pactl({"list", "short", "modules"}).find(argumentPart) != std::string::npos;
}

void killSourceOutput(uint32_t index) {
    audio::PulseConnection connection("Quenda tests");
    audio::PulseConnection::Lock lock(connection);
    struct Answer {
        audio::PulseConnection* connection;
        bool ok = false;
    } answer{&connection};
    auto* operation = pa_context_kill_source_output(
        connection.context(), index,
        [](pa_context*, int success, void* data) {
            auto* self = static_cast<Answer*>(data);
            self->ok = success != 0;
            self->connection->wakeWaiters();
        },
        &answer);
    if (!connection.await(operation) || !answer.ok)
        throw std::runtime_error("could not end source output " + std::to_string(index));
}

MonitorListener::MonitorListener(const std::string& source) {
    const auto file = dir_ / "heard.raw";
    process_ = Process::launch("/usr/bin/parec",
                               {"--raw", "--format=float32le", "--rate=16000", "--channels=1",
                                "--latency-msec=20", "--device=" + source, file.string()});
    std::error_code error;
    if (!waitUntil([&] { return std::filesystem::file_size(file, error) > 0 && !error; }, 10s))
        throw std::runtime_error("parec heard nothing from " + source);
    start_ = std::filesystem::file_size(file);
}

std::vector<float> MonitorListener::finish() {
    process_->terminate();
    process_->waitForExit();
    const std::string bytes = readFile(dir_ / "heard.raw");
    const std::size_t from = static_cast<std::size_t>(start_) / sizeof(float) * sizeof(float);
    std::vector<float> samples((bytes.size() - from) / sizeof(float));
    std::memcpy(samples.data(), bytes.data() + from, samples.size() * sizeof(float));
    return samples;
}

void sleepFor(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

}  // namespace quenda::test
