// Updates: the checker (one look at the server's version file at start-up),
// the downloader of an update tab, and the swap of a new updater program.
// The server's address is configuration; with none nothing leaves the
// machine.
#pragma once
#include "core/base.h"
#include "core/memory.h"
#include "updater/update_format.h"

#define UPDATE_VERSION_WEB_FILEPATH "binaries/tarno/version_info.bin"
extern const char *const update_data_web_filepaths[2]; // by format number
extern const u32 update_header_sizes[2];

// Copies `address` ("host[:port]" or a URL); empty means no server. Until
// set, the environment variable TARNO_UPDATE_SERVER is used.
void update_set_server_address(String address);
String update_server_address();

typedef void (*Download_Progress_Proc)(u64 total, void *context);
// GET host/path into `output` (element size 1). A host without a scheme gets
// "https://". Fails on an empty host or path, a transfer error or an HTTP
// error status.
bool download_file_over_http(String host, String path, Dynamic_Array *output, Download_Progress_Proc callback,
                             void *context);
size_t curl_download_callback(char *data, size_t size, size_t count, void *output);

enum Update_Check_Result : u8 {
    UPDATE_CHECK_NO_SERVER,
    UPDATE_CHECK_FAILED,
    UPDATE_CHECK_UP_TO_DATE,
    UPDATE_CHECK_AVAILABLE,
};
// The version file's first three bytes against EDITOR_VERSION: 1 newer,
// 0 the same or older, -1 too short to say.
int update_version_is_newer(String version_file);
// One check; sets UPDATE_IS_AVAILABLE and wakes the main loop when newer.
Update_Check_Result update_check_run();
void *update_checker(void *);
bool start_update_checker_thread();

enum Update_Download_State : u8 {
    UPDATE_DOWNLOADING = 0,
    UPDATE_DOWNLOAD_FAILED = 1,
    UPDATE_DOWNLOAD_SUCCEEDED = 2,
};
// What an update tab shows: its download's state and progress.
struct Update_Download_Progress {
    u32 tab_id;
    u8 state;      // Update_Download_State
    u64 total;     // bytes expected, 1 until the server says
    u64 received;  // bytes so far
    f32 fraction;  // received / total
};
// What the update tab writes for a state: "Downloading update..." (under
// its progress bar), "Successfully downloaded update!", "Failed to download
// update.".
String update_tab_status_text(u8 state);
// The update tab's title: "Update to MAJOR.MINOR.PATCH" with the version the
// checker saw, "Update" before any check succeeded.
String update_tab_title();
// The change-log page ("What is new"): "changelog.html" beside the update
// files on the server ("https://" added to a bare host).
String update_change_log_address();

// The update tab's numbers (copied under the downloads' lock); false when
// no download ran for this tab.
bool update_download_progress(u32 tab_id, Update_Download_Progress *out);
void download_update_progress_tracker(u64 total, void *context);
// The downloader's whole job, on the calling thread: download, check, store
// "update.data", start the updater and clear SHOULD_RUN. Returns the state.
u8 download_update_run(u32 tab_id);
void *download_update(void *tab_id); // thread entry; the tab id is the pointer's value
// Opening an update tab: starts its downloader (state 0 at once).
bool start_update_download_thread(u32 tab_id);

// Start-up: when "_updater" exists in `directory` it replaces "updater".
// True when a swap happened.
bool swap_in_new_updater(String directory);
