// The update checker: one look at the server's version file at start-up.
#include "shell/update.h"
#include "shell/globals.h"
#include "shell/os_wake.h"
#include "core/log.h"
#include "core/strings.h"
#include <pthread.h>
#include <stdlib.h>

static char server_address[1024];
static volatile u32 newest_version_seen; // make_version bytes; 0 before a check
static volatile u8 server_address_lock;
static bool server_address_set;

void update_set_server_address(String address) {
    spin_lock(&server_address_lock);
    s64 n = address.count > 0 ? address.count : 0;
    if (n >= (s64)sizeof server_address) n = 0; // a cut address would reach somewhere else
    memcpy(server_address, address.data, (size_t)n);
    server_address[n] = 0;
    server_address_set = true;
    spin_unlock(&server_address_lock);
}

String update_server_address() {
    spin_lock(&server_address_lock);
    if (!server_address_set) {
        const char *from_environment = getenv("TARNO_UPDATE_SERVER");
        u64 n = from_environment ? strlen(from_environment) : 0;
        if (n < sizeof server_address) {
            memcpy(server_address, from_environment ? from_environment : "", n);
            server_address[n] = 0;
        }
        server_address_set = true;
    }
    String copy = tcopy_string(S(server_address));
    spin_unlock(&server_address_lock);
    return copy;
}

int update_version_is_newer(String version_file) {
    if (version_file.count < 3) return -1;
    u32 ours[3] = {EDITOR_VERSION & 0xFF, EDITOR_VERSION >> 8 & 0xFF, EDITOR_VERSION >> 16 & 0xFF};
    for (u32 i = 0; i < 3; i++) {
        if (version_file.data[i] != ours[i]) return version_file.data[i] > ours[i] ? 1 : 0;
    }
    return 0;
}

Update_Check_Result update_check_run() {
    String server = update_server_address();
    if (server.count == 0) {
        add_log(nullptr, LOG_INFO, "No update server is configured; not checking for updates.");
        return UPDATE_CHECK_NO_SERVER;
    }
    Dynamic_Array version;
    dynamic_array_init(&version, 1, 4);
    Update_Check_Result result = UPDATE_CHECK_FAILED;
    bool downloaded = download_file_over_http(server, S(UPDATE_VERSION_WEB_FILEPATH), &version, nullptr, nullptr);
    String bytes = dynamic_array_as_string(&version);
    int newer = downloaded ? update_version_is_newer(bytes) : -1;
    if (newer < 0) {
        add_log(nullptr, LOG_ERROR, "Failed to check for updates.");
    } else if (newer) {
        add_log(nullptr, LOG_INFO, "Tarno %u.%u.%u update is available.", (u32)bytes.data[0], (u32)bytes.data[1],
                (u32)bytes.data[2]);
        __atomic_store_n(&newest_version_seen, make_version(bytes.data[0], bytes.data[1], bytes.data[2]), __ATOMIC_SEQ_CST);
        atomic_or(&global_flags, UPDATE_IS_AVAILABLE);
        os_wake_main_loop();
        result = UPDATE_CHECK_AVAILABLE;
    } else {
        add_log(nullptr, LOG_INFO, "Tarno is up to date.");
        result = UPDATE_CHECK_UP_TO_DATE;
    }
    dynamic_array_free(&version);
    return result;
}

String update_tab_status_text(u8 state) {
    if (state == UPDATE_DOWNLOAD_SUCCEEDED) return S("Successfully downloaded update!");
    if (state == UPDATE_DOWNLOAD_FAILED) return S("Failed to download update.");
    return S("Downloading update...");
}

String update_tab_title() {
    u32 version = __atomic_load_n(&newest_version_seen, __ATOMIC_SEQ_CST);
    if (!version) return S("Update");
    return tstring("Update to %s", version_to_c_string(version));
}

void *update_checker(void *) {
    tmp_register_thread();
    update_check_run();
    tmp_unregister_thread();
    return nullptr;
}

bool start_update_checker_thread() {
    pthread_t thread;
    if (pthread_create(&thread, nullptr, update_checker, nullptr) != 0) return false;
    pthread_detach(thread);
    return true;
}

String update_change_log_address() {
    String host = update_server_address();
    if (host.count == 0) return String{};
    if (!string_starts_with(host, S("http"))) host = string_concat2("https://%", host);
    if (host.data[host.count - 1] == '/') host.count--;
    return string_concat2("%/binaries/tarno/changelog.html", host);
}
