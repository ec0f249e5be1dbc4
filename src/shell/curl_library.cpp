#include "shell/curl_library.h"
#include "core/log.h"
#include <dlfcn.h>
#include <pthread.h>

static Curl_Library library;
static bool loaded;
static pthread_once_t load_once = PTHREAD_ONCE_INIT;

template <typename T> static bool find(void *handle, const char *name, T *out) {
    *out = (T)dlsym(handle, name);
    return *out != nullptr;
}

static void load_library() {
    void *handle = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        add_log(nullptr, LOG_ERROR, "libcurl could not be loaded (%s); downloads are off.", dlerror());
        return;
    }
    CURLcode (*global_init)(long) = nullptr;
    Curl_Library l = {};
    bool ok = find(handle, "curl_global_init", &global_init) && find(handle, "curl_easy_init", &l.easy_init) &&
              find(handle, "curl_easy_setopt", &l.easy_setopt) && find(handle, "curl_easy_perform", &l.easy_perform) &&
              find(handle, "curl_easy_cleanup", &l.easy_cleanup) &&
              find(handle, "curl_global_cleanup", &l.global_cleanup);
    if (!ok) {
        add_log(nullptr, LOG_ERROR, "libcurl lacks a routine the downloader needs; downloads are off.");
        return;
    }
    if (global_init(CURL_GLOBAL_ALL) != CURLE_OK) {
        add_log(nullptr, LOG_ERROR, "libcurl: curl_global_init() failed; downloads are off.");
        return;
    }
    library = l;
    loaded = true;
}

const Curl_Library *curl_library() {
    pthread_once(&load_once, load_library);
    return loaded ? &library : nullptr;
}

void curl_library_shutdown() {
    if (loaded) library.global_cleanup();
    loaded = false;
}
