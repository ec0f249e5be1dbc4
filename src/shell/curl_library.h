// libcurl, loaded on the first download: most sessions never make one, and
// linking it costs every start-up its load and global set-up.
#pragma once
#include <curl/curl.h>

struct Curl_Library {
    CURL *(*easy_init)();
    CURLcode (*easy_setopt)(CURL *, CURLoption, ...);
    CURLcode (*easy_perform)(CURL *);
    void (*easy_cleanup)(CURL *);
    void (*global_cleanup)();
};

// nullptr, with the reason in the log, when libcurl cannot be loaded.
const Curl_Library *curl_library();
// Undoes the global set-up if a download made it; for shut-down.
void curl_library_shutdown();
