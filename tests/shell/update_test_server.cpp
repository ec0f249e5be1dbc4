#include "update_test_server.h"
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

double test_now_seconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

static sockaddr_in local_address(int port) {
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons((uint16_t)port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

int free_local_port() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = local_address(0);
    socklen_t size = sizeof a;
    int port = 0;
    if (bind(s, (sockaddr *)&a, sizeof a) == 0 && getsockname(s, (sockaddr *)&a, &size) == 0) port = ntohs(a.sin_port);
    close(s);
    return port;
}

bool Update_Test_Server::start() {
    requests_log = root.path + ".requests";
    port = free_local_port();
    if (!port) return false;
    std::string port_text = std::to_string(port);
    pid = fork();
    if (pid == 0) {
        // http.server logs each request on stderr: tests wait on it.
        int null = open("/dev/null", O_WRONLY);
        int requests = open(requests_log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(null, 1);
        dup2(requests, 2);
        execl("/usr/bin/python3", "python3", "-m", "http.server", port_text.c_str(), "--bind", "127.0.0.1",
              "--directory", root.path.c_str(), (char *)nullptr);
        _exit(127);
    }
    double deadline = test_now_seconds() + 20;
    while (test_now_seconds() < deadline) {
        int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = local_address(port);
        bool up = connect(s, (sockaddr *)&a, sizeof a) == 0;
        close(s);
        if (up) return true;
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            pid = -1;
            return false;
        }
        usleep(10000);
    }
    return false;
}

void Update_Test_Server::stop() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    pid = -1;
    unlink(requests_log.c_str());
}

bool Update_Test_Server::was_asked_for(const std::string &remote_path) const {
    std::string log;
    read_whole_file(requests_log, &log);
    return log.find("\"GET /" + remote_path + " ") != std::string::npos;
}

bool Update_Test_Server::put(const std::string &remote_path, const std::string &bytes) {
    std::string path = root.file(remote_path);
    std::string directory = path.substr(0, path.rfind('/'));
    return run_command("mkdir -p '" + directory + "'") == 0 && write_whole_file(path, bytes);
}
