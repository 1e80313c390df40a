// Serves one file over HTTP for the download benchmark, from a process of its own so that the
// downloader's memory is measured alone:
//
//   bench-file-server FILE PORT
//
// Every GET answers the whole file with its length, read from disk piece by piece. Runs until
// SIGTERM.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <httplib.h>

namespace {

httplib::Server* running = nullptr;

void stop(int) {
    if (running)
        running->stop();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FILE PORT\n", argv[0]);
        return 2;
    }
    const std::string file = argv[1];
    const int port = std::atoi(argv[2]);
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::perror(file.c_str());
        return 1;
    }
    const auto size = static_cast<size_t>(std::filesystem::file_size(file));

    httplib::Server server;
    server.Get(".*", [&](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(
            size, "application/octet-stream",
            [fd](size_t offset, size_t length, httplib::DataSink& sink) {
                std::vector<char> piece(std::min<size_t>(length, 256 * 1024));
                const ssize_t got =
                    ::pread(fd, piece.data(), piece.size(), static_cast<off_t>(offset));
                return got > 0 && sink.write(piece.data(), static_cast<size_t>(got));
            });
    });
    running = &server;
    ::signal(SIGTERM, stop);
    if (!server.listen("127.0.0.1", port)) {
        std::fprintf(stderr, "cannot listen on port %d\n", port);
        return 1;
    }
    ::close(fd);
    return 0;
}
