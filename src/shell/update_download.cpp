// Downloads over libcurl's easy interface, and the update tab's downloader.
#include "shell/update.h"
#include "shell/curl_library.h"
#include "shell/globals.h"
#include "shell/os_wake.h"
#include "shell/os_spawn.h"
#include "core/assets.h"
#include "core/log.h"
#include "core/strings.h"
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

const char *const update_data_web_filepaths[2] = {"binaries/tarno/tarno_latest.bin", "binaries/tarno/tarno_latest_v1.bin"};
const u32 update_header_sizes[2] = {24, 24};

size_t curl_download_callback(char *data, size_t size, size_t count, void *output) {
    u64 bytes = (u64)size * count;
    Dynamic_Array *array = (Dynamic_Array *)output;
    if (bytes > 0x7FFFF000ull - array->count) return 0; // too large: ends the transfer as an error
    dynamic_array_append_bytes(array, data, (u32)bytes);
    return bytes;
}

struct Transfer_Progress {
    Download_Progress_Proc callback;
    void *context;
};
static int report_transfer_progress(void *p, curl_off_t total, curl_off_t, curl_off_t, curl_off_t) {
    Transfer_Progress *progress = (Transfer_Progress *)p;
    if (total > 0) progress->callback((u64)total, progress->context);
    return 0;
}

bool download_file_over_http(String host, String path, Dynamic_Array *output, Download_Progress_Proc callback,
                             void *context) {
    if (host.count <= 0 || path.count <= 0) return false;
    const Curl_Library *lib = curl_library();
    if (!lib) return false;
    CURL *curl = lib->easy_init();
    if (!curl) {
        add_log(nullptr, LOG_ERROR, "libcurl: curl_easy_init() failed.");
        return false;
    }
    if (!string_starts_with(host, S("http"))) host = string_concat2("https://%", host);
    String url = path.data[0] == '/' ? string_concat2("%%", host, path) : string_concat2("%/%", host, path);
    lib->easy_setopt(curl, CURLOPT_URL, to_tmp_c_string(url));
    lib->easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    lib->easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    lib->easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    // An error page is not the file asked for.
    lib->easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    lib->easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    lib->easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 15L);
    // A server that stops sending for half a minute is dead.
    lib->easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    lib->easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 30L);
    lib->easy_setopt(curl, CURLOPT_WRITEFUNCTION, curl_download_callback);
    lib->easy_setopt(curl, CURLOPT_WRITEDATA, output);
    Transfer_Progress progress = {callback, context};
    if (callback) {
        callback(1, context);
        lib->easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, report_transfer_progress);
        lib->easy_setopt(curl, CURLOPT_XFERINFODATA, &progress);
        lib->easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    }
    CURLcode result = lib->easy_perform(curl);
    lib->easy_cleanup(curl);
    if (result != CURLE_OK) {
        add_log(nullptr, LOG_ERROR, "libcurl: curl_easy_perform() failed with status %u.", (u32)result);
        return false;
    }
    return true;
}

// [SECTION] The update tab's download

constexpr u32 MAX_UPDATE_DOWNLOADS = 16;
static Update_Download_Progress downloads[MAX_UPDATE_DOWNLOADS];
static Dynamic_Array *download_outputs[MAX_UPDATE_DOWNLOADS];
static u32 num_downloads;
static volatile u8 downloads_lock;

static Update_Download_Progress *find_download(u32 tab_id) {
    for (u32 i = 0; i < num_downloads; i++) {
        if (downloads[i].tab_id == tab_id) return &downloads[i];
    }
    return nullptr;
}

// A new record for the tab (the oldest finished one is reused when full).
static Update_Download_Progress *begin_download(u32 tab_id) {
    spin_lock(&downloads_lock);
    Update_Download_Progress *d = find_download(tab_id);
    if (!d && num_downloads < MAX_UPDATE_DOWNLOADS) d = &downloads[num_downloads++];
    for (u32 i = 0; !d && i < num_downloads; i++) {
        if (downloads[i].state != UPDATE_DOWNLOADING) d = &downloads[i];
    }
    if (d) {
        *d = Update_Download_Progress{tab_id, UPDATE_DOWNLOADING, 1, 0, 0};
        download_outputs[d - downloads] = nullptr;
    }
    spin_unlock(&downloads_lock);
    return d;
}

static void set_download_state(u32 tab_id, u8 state) {
    spin_lock(&downloads_lock);
    Update_Download_Progress *d = find_download(tab_id);
    if (d) {
        // A server that never said the size still ends on a full bar.
        Dynamic_Array *output = download_outputs[d - downloads];
        if (output && state == UPDATE_DOWNLOAD_SUCCEEDED) {
            d->received = output->count;
            if (d->total < d->received) d->total = d->received;
            d->fraction = d->total ? (f32)((f64)d->received / (f64)d->total) : 1;
        }
        d->state = state;
        download_outputs[d - downloads] = nullptr;
    }
    spin_unlock(&downloads_lock);
    os_wake_main_loop();
}

bool update_download_progress(u32 tab_id, Update_Download_Progress *out) {
    spin_lock(&downloads_lock);
    Update_Download_Progress *d = find_download(tab_id);
    if (d) *out = *d;
    spin_unlock(&downloads_lock);
    return d != nullptr;
}

void download_update_progress_tracker(u64 total, void *context) {
    u32 tab_id = (u32)(u64)context;
    spin_lock(&downloads_lock);
    Update_Download_Progress *d = find_download(tab_id);
    if (d) {
        Dynamic_Array *output = download_outputs[d - downloads];
        d->total = total ? total : 1;
        d->received = output ? output->count : 0;
        d->fraction = (f32)((f64)d->received / (f64)d->total);
        if (d->fraction > 1) d->fraction = 1;
        d->state = UPDATE_DOWNLOADING;
    }
    spin_unlock(&downloads_lock);
    os_wake_main_loop();
}

// True when the data passed every check and reached "update.data" whole.
static bool check_and_store_update(Dynamic_Array *data) {
    if (data->count < UPDATE_HEADER_SIZE) {
        add_log(nullptr, LOG_ERROR, "Update data is too small to be valid.");
        return false;
    }
    u32 magic;
    memcpy(&magic, data->data, 4);
    if (magic != UPDATE_MAGIC_NUMBER) {
        add_log(nullptr, LOG_ERROR, "The update data is invalid.");
        return false;
    }
    // The updater checks again, but quitting for data it would refuse helps nobody.
    Dynamic_Array entries;
    const char *problem = update_data_read(dynamic_array_as_string(data), &entries);
    dynamic_array_free(&entries);
    if (problem) {
        add_log(nullptr, LOG_ERROR, "The update data is damaged: %s.", problem);
        return false;
    }
    const char *path = tcstring("%.*s/" UPDATE_DATA_FILENAME, (int)executable_filepath.count,
                                (const char *)executable_filepath.data);
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    s64 written = 0;
    while (fd >= 0 && written < (s64)data->count) {
        ssize_t n = write(fd, (u8 *)data->data + written, data->count - (u64)written);
        if (n <= 0) break;
        written += n;
    }
    bool stored = fd >= 0 && written == (s64)data->count && fsync(fd) == 0;
    if (fd >= 0 && close(fd) != 0) stored = false;
    if (stored) add_log(nullptr, LOG_INFO, "Downloaded update to '%s'.", path);
    else add_log(nullptr, LOG_ERROR, "Failed to write update data to '%s'.", path);
    return stored;
}

u8 download_update_run(u32 tab_id) {
    Update_Download_Progress *record = begin_download(tab_id);
    if (!record) return UPDATE_DOWNLOAD_FAILED;
    Dynamic_Array data;
    dynamic_array_init(&data, 1, (u32)MB(1));
    spin_lock(&downloads_lock);
    download_outputs[record - downloads] = &data;
    spin_unlock(&downloads_lock);
    add_log(nullptr, LOG_INFO, "Downloading update...");
    bool downloaded = download_file_over_http(update_server_address(), S(update_data_web_filepaths[UPDATE_DATA_FORMAT]),
                                              &data, download_update_progress_tracker, (void *)(u64)tab_id);
    u8 state = UPDATE_DOWNLOAD_FAILED;
    if (!downloaded) {
        atomic_or(&global_flags, UPDATE_IS_AVAILABLE); // the "Update" button returns
        add_log(nullptr, LOG_ERROR, "Failed to download update.");
    } else if (check_and_store_update(&data)) {
        const char *updater = tcstring("%.*s/" UPDATER_FILENAME, (int)executable_filepath.count,
                                       (const char *)executable_filepath.data);
        if (access(updater, X_OK) != 0) {
            add_log(nullptr, LOG_ERROR, "The updater program '%s' is missing.", updater);
        } else {
            const char *argv[] = {updater, nullptr};
            os_spawn_detached(argv, true);
            state = UPDATE_DOWNLOAD_SUCCEEDED;
            atomic_and(&global_flags, ~(u64)SHOULD_RUN);
        }
    }
    set_download_state(tab_id, state);
    dynamic_array_free(&data);
    return state;
}

void *download_update(void *tab_id) {
    tmp_register_thread();
    download_update_run((u32)(u64)tab_id);
    tmp_unregister_thread();
    return nullptr;
}

bool start_update_download_thread(u32 tab_id) {
    begin_download(tab_id);
    pthread_t thread;
    if (pthread_create(&thread, nullptr, download_update, (void *)(u64)tab_id) != 0) {
        set_download_state(tab_id, UPDATE_DOWNLOAD_FAILED);
        return false;
    }
    pthread_detach(thread);
    return true;
}
