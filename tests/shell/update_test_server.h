// A real HTTP server for the update tests: python's http.server over a
// temporary directory on a free port of 127.0.0.1.
#pragma once
#include "test_util.h"
#include <string>
#include <sys/types.h>

struct Update_Test_Server {
    Temp_Dir root;
    pid_t pid = -1;
    int port = 0;
    std::string requests_log; // the server's stderr: one line per request
    bool start();
    void stop();
    ~Update_Test_Server() { stop(); }
    std::string address() const { return "http://127.0.0.1:" + std::to_string(port); }
    bool put(const std::string &remote_path, const std::string &bytes);
    bool was_asked_for(const std::string &remote_path) const;
};
// A port on 127.0.0.1 nothing listens on (it was free a moment ago).
int free_local_port();
double test_now_seconds();
